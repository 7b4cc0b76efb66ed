// Counts the clipboard requests Qt serves for us, seen by a native event
// filter just before Qt's own clipboard answers them in the same dispatch.

#include <xcb/xproto.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

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
        return served_;
    }

    bool wait_for_fetch(uint64_t seen, int timeout_ms) override {
        QElapsedTimer timer;
        timer.start();
        while (served_ <= seen || clock_.elapsed() - last_request_ms_ < kQuietMs) {
            if (timer.elapsed() >= timeout_ms)
                return served_ > seen;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::usleep(500);
        }
        return true;
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
        ++served_;
        return false;  // Qt answers it right after this returns
    }

  private:
    // Chromium answers a Ctrl+V with a burst of requests (the format list
    // over and over, the text more than once) and reads the text it pastes
    // late in that burst; the paste is done once the requests have stopped
    // for this long.
    static constexpr qint64 kQuietMs = 30;
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
