#pragma once
// A Wine prefix of a test's own, for running the Windows build's programs
// (dist/windows/<Program>/) on the test desktop. Serial ports are mapped
// before the prefix's wineserver starts, since Wine reads its device map
// only then. The prefix's wineserver is ended when the object goes.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace vt::test {

// Debian's wine64 is not on PATH.
inline constexpr const char* kWine = "/usr/lib/wine/wine64";
inline constexpr const char* kWineServer = "/usr/lib/wine/wineserver";

class WinePrefix {
  public:
    WinePrefix();
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Sets the prefix up (wineboot --init) and ends its wineserver again, so
    // that ports mapped now are seen by the next start; false with the reason.
    bool init(QString* why);
    // $WINEPREFIX/dosdevices/com<n> -> `device` (a pseudo-terminal).
    bool map_com(int n, const QString& device) const;
    // The environment a Windows program of this prefix runs in.
    QProcessEnvironment environment(QProcessEnvironment base) const;
    // A variable for every Windows program the prefix starts from now on.
    // Wine hands a program no QT_* variable of the Unix environment, so
    // these go through the user's environment in the registry.
    bool set_variable(const QString& name, const QString& value) const;
    // Runs a program of the prefix ("reg", "taskkill", a .exe path) and
    // returns its standard output, or nothing when it failed or hung.
    std::optional<QByteArray> run(const QStringList& args, int timeout_ms = 30000) const;
    // The same for a program whose failure is the point: its exit code,
    // nothing when it hung.
    std::optional<int> exit_code(const QStringList& args, int timeout_ms = 30000,
                                 QByteArray* output = nullptr) const;
    // The prefix's C: drive as a Unix path.
    QString drive_c() const { return dir_.filePath(QStringLiteral("drive_c")); }
    // %APPDATA% of the prefix's user, as a Unix path.
    QString appdata() const;
    // Ends every process of the prefix and its wineserver.
    void kill_server() const;
    QString path() const { return dir_.path(); }

  private:
    QTemporaryDir dir_;
};

// The Windows name of a Unix path (Wine's Z: drive).
QString WindowsPath(const QString& unix_path);

// dist/windows/<program>/<program>.exe of the source tree.
QString WindowsExecutable(const QString& program);

}  // namespace vt::test
