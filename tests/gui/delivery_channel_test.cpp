// Which delivery channel the setting chooses, and the one note a Wayland
// session gets while the lines go as keystrokes.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "delivery/shop_delivery.h"
#include "settings/settings.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

const char* const kNote =
    "Wayland-Sitzung: Tastatureingaben erreichen nur X11-Fenster. "
    "Die Browser-Erweiterung arbeitet überall.";

// One test: the note is told once per run, so the cases build on each other.
TEST(DeliveryChannelChoice, TheSettingChoosesAndWaylandIsToldOnceWhileKeysAreUsed) {
    test::RecordingDisplay display;
    const progparstruct saved = progpar;
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const QByteArray session = qgetenv("XDG_SESSION_TYPE");
    const QByteArray runtime_env = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    progpar.delivery = 0;
    EXPECT_TRUE(ShopDelivery().status_text().isEmpty()) << "keystrokes have no status line";
    NoteDeliveryChannel();
    EXPECT_TRUE(display.log.isEmpty()) << "an X11 session needs no note";

    qputenv("XDG_SESSION_TYPE", "wayland");
    progpar.delivery = 1;
    EXPECT_EQ(ShopDelivery().status_text(), "Browser-Erweiterung nicht verbunden");
    EXPECT_TRUE(QFile::exists(runtime.path() + "/vantortrans/VantorTrans.sock"))
        << "the extension's socket is served from its first use";
    NoteDeliveryChannel();
    EXPECT_TRUE(display.log.isEmpty()) << "the extension works in any session";

    progpar.delivery = 0;
    qunsetenv("XDG_SESSION_TYPE");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    ShopDelivery();
    NoteDeliveryChannel();
    EXPECT_EQ(display.log, QStringList{QString::fromUtf8(kNote)});

    progpar = saved;
    qputenv("XDG_RUNTIME_DIR", runtime_env);
    wayland.isNull() ? qunsetenv("WAYLAND_DISPLAY") : qputenv("WAYLAND_DISPLAY", wayland);
    session.isNull() ? qunsetenv("XDG_SESSION_TYPE") : qputenv("XDG_SESSION_TYPE", session);
}

}  // namespace
}  // namespace vt
