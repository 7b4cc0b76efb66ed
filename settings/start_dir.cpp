#include "settings/start_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "settings/settings.h"

namespace vt {

QString XdgBaseDir(const char* variable, const char* fallback) {
    const QString base = qEnvironmentVariable(variable);
    // XDG base directories must be absolute; a relative value counts as unset.
    if (base.isEmpty() || QDir::isRelativePath(base))
        return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + QLatin1String(fallback));
    return QDir::cleanPath(base);
}

QString UserFolder(const QString& program) {
#ifdef Q_OS_WIN
    // The roaming profile's application data, as every Windows program keeps
    // its settings; without it, where Windows would have put it.
    QString base = qEnvironmentVariable("APPDATA");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/AppData/Roaming");
    return QDir::cleanPath(base) + QLatin1Char('/') + program;
#else
    return XdgBaseDir("XDG_DATA_HOME", ".local/share") + QLatin1Char('/') + program;
#endif
}

bool DirectoryWritable(const QString& dir) {
    QTemporaryFile probe(dir + QStringLiteral("/.write-probe-XXXXXX"));
    return probe.open();
}

QString ChooseStartDir(const QStringList& arguments, const QString& current,
                       const QString& program, const QString& ini_name) {
    const bool asked = arguments.mid(1).contains(QString::fromUtf8(kUserFolderOption));
    if (!asked && DirectoryWritable(current))
        return current;
    const QString folder = UserFolder(program);
    if (!QDir().mkpath(folder) || !DirectoryWritable(folder)) {
        dialogs().beep();
        dialogs().message_box(
            QString::fromUtf8(txt::ErrorTitle),
            FormatS(FormatS(QString::fromUtf8(txt::UserFolderFailed), folder), current),
            BoxIcon::Error, BoxButtons::Ok);
        return current;
    }
    // The settings of the start directory come along the first time: those
    // of a folder the program cannot write, and those a menu start finds
    // where it starts (the program's folder on Windows, where an earlier
    // version kept them or an administrator put a default).
    const QString found = QDir(current).filePath(ini_name);
    const QString own = QDir(folder).filePath(ini_name);
    if (QFileInfo::exists(found) && !QFileInfo::exists(own))
        QFile::copy(found, own);
    return folder;
}

QString StartDirForThisRun() {
    const QString dir = ChooseStartDir(QCoreApplication::arguments(), QDir::currentPath(),
                                       QString::fromUtf8(brand().mutex_name),
                                       QString::fromUtf8(brand().ini_name));
    // Relative paths (Temp/) follow the start directory.
    QDir::setCurrent(dir);
    return WithTrailingSeparator(dir);
}

}  // namespace vt
