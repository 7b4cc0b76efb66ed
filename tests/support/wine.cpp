#include "tests/support/wine.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include "tests/support/e2e_desktop.h"

namespace vt::test {

WinePrefix::WinePrefix() = default;

WinePrefix::~WinePrefix() { kill_server(); }

QProcessEnvironment WinePrefix::environment(QProcessEnvironment base) const {
    base.insert(QStringLiteral("WINEPREFIX"), dir_.path());
    base.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    // No Mono or Gecko installer in a new prefix, and no menu entries of
    // the desktop made for what an installer puts in the Start menu.
    base.insert(QStringLiteral("WINEDLLOVERRIDES"),
                QStringLiteral("mscoree,mshtml=;winemenubuilder.exe=d"));
    return base;
}

std::optional<int> WinePrefix::exit_code(const QStringList& args, int timeout_ms,
                                         QByteArray* output) const {
    QProcess p;
    p.setProcessEnvironment(environment(DesktopEnvironment()));
    p.start(QString::fromLatin1(kWine), args);
    if (!p.waitForStarted(5000))
        return std::nullopt;
    if (!WaitFor([&] { return p.state() == QProcess::NotRunning; }, timeout_ms, 50)) {
        p.kill();
        p.waitForFinished(3000);
        return std::nullopt;
    }
    if (output)
        *output = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return p.exitCode();
}

std::optional<QByteArray> WinePrefix::run(const QStringList& args, int timeout_ms) const {
    QByteArray output;
    if (exit_code(args, timeout_ms, &output) != 0)
        return std::nullopt;
    return output;
}

QString WinePrefix::appdata() const {
    const QStringList users =
        QDir(drive_c() + QStringLiteral("/users")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& user : users) {
        if (user != QStringLiteral("Public"))
            return drive_c() + QStringLiteral("/users/") + user + QStringLiteral("/AppData/Roaming");
    }
    return {};
}

bool WinePrefix::set_variable(const QString& name, const QString& value) const {
    return run({QStringLiteral("reg"), QStringLiteral("add"), QStringLiteral("HKCU\\Environment"),
                QStringLiteral("/v"), name, QStringLiteral("/d"), value, QStringLiteral("/f")})
        .has_value();
}

bool WinePrefix::init(QString* why) {
    if (!dir_.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    if (!QFile::exists(QString::fromLatin1(kWine))) {
        *why = QStringLiteral("%1 is missing (Debian's wine64)").arg(QString::fromLatin1(kWine));
        return false;
    }
    if (!run({QStringLiteral("wineboot"), QStringLiteral("--init")}, 120000)) {
        *why = QStringLiteral("wineboot --init failed in ") + dir_.path();
        return false;
    }
    kill_server();
    return true;
}

bool WinePrefix::map_com(int n, const QString& device) const {
    const QString link = dir_.filePath(QStringLiteral("dosdevices/com%1").arg(n));
    QFile::remove(link);
    return QFile::link(device, link);
}

void WinePrefix::kill_server() const {
    QProcess k;
    k.setProcessEnvironment(environment(QProcessEnvironment::systemEnvironment()));
    k.start(QString::fromLatin1(kWineServer), {QStringLiteral("-k")});
    k.waitForFinished(10000);
    // -k returns before the server is gone; the next start must find none.
    QProcess w;
    w.setProcessEnvironment(environment(QProcessEnvironment::systemEnvironment()));
    w.start(QString::fromLatin1(kWineServer), {QStringLiteral("-w")});
    w.waitForFinished(10000);
}

QString WindowsPath(const QString& unix_path) {
    return QStringLiteral("Z:") + QDir::cleanPath(unix_path).replace(u'/', u'\\');
}

QString WindowsExecutable(const QString& program) {
    return QStringLiteral(VT_SOURCE_DIR "/dist/windows/") + program + u'/' + program +
           QStringLiteral(".exe");
}

}  // namespace vt::test
