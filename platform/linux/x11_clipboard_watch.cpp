// Counts the clipboard requests Qt serves for us, seen by a native event
// filter just before Qt's own clipboard answers them in the same dispatch.

#include <xcb/xproto.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <map>

#include "platform/clipboard_watch.h"

// Xlib's macros clash with Qt's names: after Qt.
#include "platform/linux/x11_display.h"

namespace vt {
namespace {

class X11ClipboardWatch final : public ClipboardWatch, public QAbstractNativeEventFilter {
  public:
    X11ClipboardWatch() {
        clock_.start();
        if (QCoreApplication* app = QCoreApplication::instance())
            app->installNativeEventFilter(this);
    }

    uint64_t served_text_requests() override { return served_; }

    uint64_t serve_waiting_requests() override {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // Text requests after the last wait had ended belong to that paste:
        // its window fetches more often than was known.
        if (served_ > served_at_end_ && ended_requestor_ != 0) {
            uint64_t& known = texts_per_paste_[ended_requestor_];
            known = std::max(known, ended_texts_ + (served_ - served_at_end_));
        }
        ended_requestor_ = 0;
        served_at_end_ = served_;
        return served_;
    }

    bool wait_for_fetch(uint64_t seen, int timeout_ms) override {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            if (served_ > seen) {
                const uint64_t texts = served_ - seen;
                const auto it = texts_per_paste_.find(burst_requestor_);
                const bool learning = it == texts_per_paste_.end();
                const uint64_t known = learning ? 1 : it->second;
                const qint64 quiet = clock_.elapsed() - last_request_ms_;
                if (texts >= known && quiet >= (learning ? kLearnQuietMs : kQuietMs)) {
                    texts_per_paste_[burst_requestor_] = std::max(known, texts);
                    ended_requestor_ = burst_requestor_;
                    ended_texts_ = texts;
                    served_at_end_ = served_;
                    return true;
                }
            }
            if (timer.elapsed() >= timeout_ms) {
                // Fewer fetches than this window makes for one paste: the
                // early fetch after the key came, the paste's own did not
                // (the focus moved on before the page took the key). The
                // line is not in the form, so it must not count as sent.
                const auto it = texts_per_paste_.find(burst_requestor_);
                const uint64_t known = it == texts_per_paste_.end() ? 1 : it->second;
                return served_ - seen >= known;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::usleep(500);
        }
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
            return false;
        const auto* request = static_cast<const xcb_selection_request_event_t*>(message);
        if (request->selection != x11::atom("CLIPBOARD"))
            return false;
        last_request_ms_ = clock_.elapsed();
        // A client first asks which formats there are; only a request for
        // the data itself means the text has been fetched.
        if (request->target == x11::atom("TARGETS") || request->target == x11::atom("MULTIPLE") ||
            request->target == x11::atom("TIMESTAMP")) {
            return false;
        }
        burst_requestor_ = request->requestor;
        ++served_;
        return false;  // Qt answers it right after this returns
    }

  private:
    // Chromium answers a Ctrl+V with a burst of requests (the format list
    // over and over, the text more than once) and reads the text it pastes
    // late in that burst; the paste is done once the requests have stopped
    // for this long.
    static constexpr qint64 kQuietMs = 30;
    // Chromium fetches the text twice for one paste: once right after the
    // key, and once more when the page has handled the key, which a busy
    // page delays by as long as it is busy. Between the two there may be
    // silence far longer than the quiet period; the text replaced in that
    // gap would be pasted in place of the line, or not at all. So a window's
    // first paste waits for a long silence, and from then on each of its
    // pastes waits until it has fetched as often as it ever did.
    static constexpr qint64 kLearnQuietMs = 500;
    std::map<xcb_window_t, uint64_t> texts_per_paste_;
    xcb_window_t burst_requestor_ = 0;
    xcb_window_t ended_requestor_ = 0;
    uint64_t ended_texts_ = 0;
    uint64_t served_at_end_ = 0;
    uint64_t served_ = 0;
    QElapsedTimer clock_;
    qint64 last_request_ms_ = -1000;
};

}  // namespace

ClipboardWatch& clipboard_watch() {
    static X11ClipboardWatch watch;
    return watch;
}

}  // namespace vt
