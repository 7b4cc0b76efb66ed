#include "delivery/shop_delivery.h"

#include <QCoreApplication>

#include "browser/wire/wire.h"
#include "delivery/extension_channel.h"
#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "settings/messages.h"
#include "settings/settings.h"
#include "settings/ui_seam.h"

namespace vt {

namespace {

class KeystrokeChannel final : public DeliveryChannel {
  public:
    bool find_window(int shop) override { return FindShopWindow(shop); }
    bool bring_to_front() override { return BringShopToFront(); }
    bool deliver_line(int shop, const QString& line) override { return DeliverLine(shop, line); }
    bool paste_batch() override { return PasteBatch(); }
    bool await_last_paste() override { return AwaitLastPaste(); }
    void begin_batch() override { BatchLines.clear(); }
    void confirm_first_line() override { FirstLine = true; }
    int start_pause_ms() const override { return 1000; }
};

bool WaylandSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QStringLiteral("wayland");
}

// Listens from the first use of the extension on, for the rest of the run;
// a failure is told once, and tried again at the next use.
ExtensionServer& Server() {
    static ExtensionServer* server = [] {
        auto* s = new ExtensionServer(QString::fromUtf8(brand().mutex_name),
                                      QCoreApplication::instance());
        // The socket file goes with the program, not with the static's end.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, s,
                         [s] { s->close(); });
        return s;
    }();
    static bool told = false;
    if (server->listening())
        return *server;
    QString error;
    if (server->listen(&error)) {
#ifndef Q_OS_WIN
        static bool fallback_told = false;
        if (wire::SocketDirIsFallback() && !fallback_told) {
            fallback_told = true;
            display().log_line(QString::fromUtf8(txt::ExtensionFallbackDir) + wire::SocketDir());
        }
#endif
    } else if (!told) {
        told = true;
        display().log_line(QString::fromUtf8(txt::ExtensionSocketFailed) + error);
    }
    return *server;
}

}  // namespace

DeliveryChannel& ShopDelivery() {
    if (progpar.delivery == 1) {
        static ExtensionChannel extension(Server());
        Server();
        return extension;
    }
    NoteDeliveryChannel();
    static KeystrokeChannel keys;
    return keys;
}

void NoteDeliveryChannel() {
    static bool noted = false;
    if (noted || progpar.delivery == 1 || !WaylandSession())
        return;
    noted = true;
    display().log_line(QString::fromUtf8(txt::WaylandKeystrokes));
}

}  // namespace vt
