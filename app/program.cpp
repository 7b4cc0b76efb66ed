#include "app/program.h"

#include <QApplication>

#include "app/trans_main.h"
#include "settings/setup.h"
#include "settings/settings.h"
#include "platform/terminate_request.h"

namespace vt {

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
    OnTerminateRequest(&form, [&form] { form.close(); });
    form.show();
    return app.exec();
}

}  // namespace vt
