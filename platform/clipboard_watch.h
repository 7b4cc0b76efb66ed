#pragma once
// On X11 a paste is a request that reaches the clipboard's owner only after
// the target has seen Ctrl+V. This counts the requests for the clipboard's
// text that this process has served, so a caller can hold the next text back
// until the current one has been fetched.

#include <cstdint>

namespace vt {

class ClipboardWatch {
  public:
    virtual ~ClipboardWatch() = default;
    // Requests for the text (not for the list of formats) served so far.
    virtual uint64_t served_text_requests() = 0;
    // Serves the requests already waiting and returns the count then. A
    // browser may fetch a new text as soon as it appears, before any paste;
    // such a fetch must not count as the paste's.
    virtual uint64_t serve_waiting_requests() = 0;
    // Pumps events until the paste after `seen` has fetched the text as
    // often as its window fetches for one paste and the requests have then
    // stopped for a moment, at most `timeout_ms`; true when a request for
    // the text came.
    virtual bool wait_for_fetch(uint64_t seen, int timeout_ms) = 0;
};

// Needs the QGuiApplication; starts counting at its first call.
ClipboardWatch& clipboard_watch();

}  // namespace vt
