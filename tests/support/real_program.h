#pragma once
// One of the real brand executables started on the test desktop, driven the
// way a person drives it: every click and key goes through the X server
// (xdotool), and what the windows show is read back through the probe plugin
// (tests/tools/ui_probe) loaded into the program.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <optional>

namespace vt::test {

class WinePrefix;

class RealProgram {
  public:
    // `executable`: "VantorTrans", "MiraboTrans" or "DoerfalTrans".
    explicit RealProgram(QString executable = QStringLiteral("VantorTrans"));
    ~RealProgram();
    RealProgram(const RealProgram&) = delete;
    RealProgram& operator=(const RealProgram&) = delete;

    // The start directory, which holds the brand's INI file.
    QString dir() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    // The program's XDG_RUNTIME_DIR (where its browser extension socket is).
    QString runtime_dir() const { return runtime_.path(); }
    // From now on start() runs the program without XDG_RUNTIME_DIR, as in a
    // session without a login manager.
    void without_runtime_dir() { without_runtime_dir_ = true; }
    QString ini_path() const;
    void write_ini(const QByteArray& text) const;
    QByteArray ini() const;

    // From now on start() runs the Windows build's program under Wine, in
    // `prefix` (which must outlive the program).
    void run_under_wine(const WinePrefix* prefix) { wine_ = prefix; }
    // From now on start() runs the installed `windows_exe` of `prefix` with
    // `args` in `working_dir` (a Unix path), as a Start menu shortcut says.
    void run_installed(const WinePrefix* prefix, const QString& windows_exe,
                       const QStringList& args, const QString& working_dir) {
        wine_ = prefix;
        installed_ = {windows_exe, args, working_dir};
    }

    // Starts the program and waits until its main window shows.
    bool start();
    bool running();
    // The exit code once the program ended within `ms`.
    std::optional<int> wait_exit(int ms);

    // Every top-level window of the program with its visible widgets, as the
    // probe wrote them; empty when the program did not answer.
    QJsonArray windows();
    // Waits until `pick` finds something in a snapshot and returns it.
    std::optional<QJsonObject> wait_for(const std::function<std::optional<QJsonObject>(const QJsonArray&)>& pick,
                                        int timeout_ms = 5000);
    // The visible window titled exactly `title`.
    std::optional<QJsonObject> window(const QString& title, int timeout_ms = 5000);
    // The main window (visible or not).
    std::optional<QJsonObject> main_window(int timeout_ms = 5000);
    // The visible widget named `name` in the visible window titled `title`.
    std::optional<QJsonObject> widget(const QString& title, const QString& name,
                                      int timeout_ms = 5000);
    // Waits until no visible window is titled `title`.
    bool gone(const QString& title, int timeout_ms = 5000);

    // A screenshot of the whole desktop into the build folder, for a failure.
    static void screenshot(const QString& name);

  private:
    QString executable_;
    const WinePrefix* wine_ = nullptr;
    bool without_runtime_dir_ = false;
    struct Installed {
        QString exe;
        QStringList args;
        QString working_dir;
    } installed_;
    QTemporaryDir dir_, runtime_, probe_;
    QProcess process_;
};

// Answers the program's message box titled `title` with the Return key, as
// a person at the keyboard would; true once the box is gone.
bool AnswerBox(RealProgram& program, const QString& title, int timeout_ms);

// The text of the main window's widget `name` (such as the status list
// "Memo2" or the log list "Memo1"); empty when there is none.
QString MainWindowText(RealProgram& program, const QString& name);

// What a window or widget description holds.
std::optional<QJsonObject> Child(const QJsonObject& window, const QString& name);
std::optional<QJsonObject> WithText(const QJsonArray& entries, const QString& text);
QStringList Texts(const QJsonArray& entries);

// Input as a person gives it.
void Click(const QJsonObject& thing, int button = 1);  // the centre of its "rect"
void ClickAt(int x, int y, int button = 1);
void DoubleClick(const QJsonObject& thing);
void Keys(const QString& keys);  // xdotool key names, such as "ctrl+a" or "Return"
void Type(const QString& text);

}  // namespace vt::test
