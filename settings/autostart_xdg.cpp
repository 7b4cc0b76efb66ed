#include "settings/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "settings/start_dir.h"

namespace vt {
namespace {

QString MarkerKey(const QString& program) {
    return QStringLiteral("X-%1-Autostart").arg(program);
}

QString AutostartFolder() {
    return XdgBaseDir("XDG_CONFIG_HOME", ".config") + QStringLiteral("/autostart");
}

// The keys of the [Desktop Entry] group, as they stand in the file.
QStringList EntryLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList keys;
    bool in_entry = false;
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            in_entry = line == QLatin1String("[Desktop Entry]");
        else if (in_entry)
            keys << line;
    }
    return keys;
}

bool HasKey(const QStringList& lines, const QString& key, const QString& value) {
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == key && line.mid(eq + 1).trimmed() == value)
            return true;
    }
    return false;
}

// A path as one argument of a desktop entry's Exec key.
QString ExecArgument(const QString& path) {
    static const QString kReserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool plain = !path.isEmpty();
    for (QChar c : path)
        plain = plain && !kReserved.contains(c);
    if (plain)
        return path;
    QString quoted;
    for (QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    // The key's own escape rules double every backslash once more.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString AutostartPath(const QString& program) {
    return AutostartFolder() + QLatin1Char('/') + DesktopId(program) + QStringLiteral(".desktop");
}

bool AutostartEnabled(const QString& program) {
    const QString path = AutostartPath(program);
    return QFileInfo::exists(path) && !HasKey(EntryLines(path), QStringLiteral("Hidden"),
                                              QStringLiteral("true"));
}

AutostartResult SetAutostart(const QString& program, const QString& display_name, bool on,
                             const QString& executable) {
    const QString path = AutostartPath(program);
    if (QFileInfo::exists(path) &&
        !HasKey(EntryLines(path), MarkerKey(program), QStringLiteral("true")))
        return AutostartResult::NotOurs;
    if (!on) {
        if (QFileInfo::exists(path) && !QFile::remove(path))
            return AutostartResult::CannotWrite;
        return AutostartResult::Done;
    }
    if (!QDir().mkpath(AutostartFolder()))
        return AutostartResult::CannotWrite;
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return AutostartResult::CannotWrite;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2 %3\n"
                                        "Icon=%4\n"
                                        "Terminal=false\n"
                                        "%5=true\n")
                             .arg(display_name, ExecArgument(executable),
                                  QString::fromUtf8(kUserFolderOption), DesktopId(program),
                                  MarkerKey(program));
    f.write(text.toUtf8());
    return f.commit() ? AutostartResult::Done : AutostartResult::CannotWrite;
}

QString AutostartPlace(const QString& program) {
    return QFileInfo(AutostartPath(program)).absolutePath();
}

}  // namespace vt
