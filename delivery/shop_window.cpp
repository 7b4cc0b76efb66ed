#include "delivery/shop_window.h"

#include "delivery/delivery_rules.h"
#include "settings/settings.h"

namespace vt {

namespace {
// Long enough for a window manager under load; short enough that a cycle
// with a refused activation does not stall the program.
constexpr int kActivateTimeoutMs = 500;
}  // namespace

bool FindShopWindow(int shop) {
    if (shop < 0 || shop > 1)
        return false;
    browserrecord.state[shop] = false;
    browserrecord.title.clear();
    browserrecord.classname.clear();
    browserrecord.handle = 0;
    browserrecord.processid = 0;
    browserrecord.visible = false;
    for (const TopLevelWindow& w : window_system().top_level_windows()) {
        if (!MatchShopWindow(w, shop))
            break;
    }
    return browserrecord.state[shop];
}

bool MatchShopWindow(const TopLevelWindow& window, int shop) {
    const auto s = static_cast<size_t>(shop);
    if (ShopTitleMatches(window.title, progpar.browser[s], progpar.browsertitle[s],
                         progpar.formtitle[s])) {
        browserrecord.title = window.title;
        browserrecord.classname = window.classname;
        browserrecord.handle = window.handle;
        browserrecord.processid = window.processid;
        browserrecord.visible = window.visible;
        browserrecord.state[s] = true;
    }
    return true;
}

bool BringShopToFront() {
    if (browserrecord.handle == 0)
        return false;
    return window_system().activate(browserrecord.handle, kActivateTimeoutMs);
}

}  // namespace vt
