#pragma once
// Finds a shop's order form among the desktop's top-level windows by its
// title, and brings it to the front before anything is typed into it.

#include "platform/window_system.h"

namespace vt {

// Searches the order form of `shop` (0 brand shop, 1 "Simple System") and
// fills `browserrecord`: state[shop] (also the result), title, classname,
// handle, processid, visible. The selected target `browserrecord.mode` is
// the user's and stays as it is.
bool FindShopWindow(int shop);

// The test for one window of the walk; when it names the order form of
// `shop`, the record takes it over. Always true: the walk runs to the end,
// so of several matching windows the last one in stacking order is kept.
bool MatchShopWindow(const TopLevelWindow& window, int shop);

// Makes the window of the last search the active window; true when it is.
bool BringShopToFront();

}  // namespace vt
