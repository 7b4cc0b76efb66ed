// "Beim Anmelden starten" on Windows: a value named after the brand under
// the user's Run key, which Explorer starts at login.
#include <QDir>
#include <QSettings>

#include "settings/autostart.h"
#include "settings/start_dir.h"

namespace vt {
namespace {

const char kRunKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

QString CommandLine(const QString& executable) {
    return u'"' + QDir::toNativeSeparators(executable) + QStringLiteral("\" ") +
           QString::fromUtf8(kUserFolderOption);
}

// A value this program wrote starts some copy of <program>.exe with the
// per-user folder option; any other is the user's or another program's.
bool Ours(const QString& program, const QString& command) {
    const QString tail = QStringLiteral("\" ") + QString::fromUtf8(kUserFolderOption);
    if (!command.startsWith(u'"') || !command.endsWith(tail))
        return false;
    const QString exe = command.mid(1, command.size() - 1 - tail.size());
    return exe.section(u'\\', -1).compare(program + QStringLiteral(".exe"), Qt::CaseInsensitive) ==
           0;
}

}  // namespace

QString AutostartPath(const QString& program) {
    return QString::fromLatin1(kRunKey) + u'\\' + program;
}

bool AutostartEnabled(const QString& program) {
    QSettings run(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    return !run.value(program).toString().isEmpty();
}

AutostartResult SetAutostart(const QString& program, const QString&, bool on,
                             const QString& executable) {
    QSettings run(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
    const QVariant present = run.value(program);
    if (present.isValid() && !Ours(program, present.toString()))
        return AutostartResult::NotOurs;
    if (on)
        run.setValue(program, CommandLine(executable));
    else
        run.remove(program);
    run.sync();
    return run.status() == QSettings::NoError ? AutostartResult::Done
                                              : AutostartResult::CannotWrite;
}

QString AutostartPlace(const QString& program) {
    return AutostartPath(program).section(u'\\', 0, -2);
}

}  // namespace vt
