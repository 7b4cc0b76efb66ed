#include "settings/autostart.h"

#include <QCoreApplication>

#include "settings/messages.h"
#include "settings/settings.h"
#include "settings/ui_seam.h"

namespace vt {

QString DesktopId(const QString& program) {
    return QStringLiteral(VT_APP_ID_PREFIX) + program;
}

bool AutostartEnabledForThisProgram() {
    return AutostartEnabled(QString::fromUtf8(brand().mutex_name));
}

void ApplyAutostart(bool on) {
    const QString program = QString::fromUtf8(brand().mutex_name);
    const AutostartResult r = SetAutostart(program, Text(brand().caption_name), on,
                                           QCoreApplication::applicationFilePath());
    if (r == AutostartResult::Done)
        return;
    const QString path = AutostartPath(program);
    const QString text =
        r == AutostartResult::NotOurs
            ? FormatS(QString::fromUtf8(txt::AutostartNotOurs), path)
            : FormatS(QString::fromUtf8(txt::CannotWrite), AutostartPlace(program));
    dialogs().beep();
    dialogs().message_box(QString::fromUtf8(txt::ErrorTitle), text, BoxIcon::Error,
                          BoxButtons::Ok);
}

}  // namespace vt
