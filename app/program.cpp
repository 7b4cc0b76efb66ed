#include "app/program.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include "app/trans_main.h"
#include "settings/setup.h"
#include "settings/settings.h"

namespace vt {
namespace {

int g_signal_pipe[2] = {-1, -1};

void on_terminate(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signal_pipe[1], &c, 1);
}

}  // namespace

int RunProgram(int brand_id, int argc, char** argv) {
    BrandId = brand_id;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(brand().mutex_name));

    // The program ends by its own close path (the main window's close box or
    // the tray menu's "&Beenden"), never because a box shown while the main
    // window sits hidden in the tray was the last window to close.
    QApplication::setQuitOnLastWindowClosed(false);

    QtDialogs boxes;
    set_dialogs(&boxes);
    TForm1 form;
    if (!form.created())
        return 0;  // a second copy of this brand
    // The settings dialog and the two directory dialogs live hidden for the
    // whole run, owned by the main window.
    CreateSetupForms(&form);

    // A session that ends (or a test that stops us) closes the window as the
    // user would, so the settings are saved.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) == 0) {
        struct sigaction sa {};
        sa.sa_handler = on_terminate;
        ::sigaction(SIGTERM, &sa, nullptr);
        ::sigaction(SIGINT, &sa, nullptr);
        auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
            char c;
            [[maybe_unused]] const ssize_t n = ::read(g_signal_pipe[0], &c, 1);
            form.close();
        });
    }
    form.show();
    return app.exec();
}

}  // namespace vt
