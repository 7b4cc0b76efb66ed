#pragma once
// A private X11 desktop for GUI and end-to-end tests: Xvfb (display number
// chosen by the server through -displayfd), the openbox window manager, and
// Debian's Chromium showing an order form page of our own whose field
// content comes back to the test over HTTP on 127.0.0.1.
//
// How a test binary gets its display
// -----------------------------------
// The GUI and end-to-end binaries create their QApplication in main(),
// before any test runs, and Qt needs DISPLAY at that moment. So each test
// file that needs the desktop starts it in a static initialiser:
//
//     static const bool kDesktop = vt::test::EnsureTestDesktop();
//
// EnsureTestDesktop() is idempotent (one Xvfb per process, whichever file
// calls first), sets DISPLAY for this process, and stops the desktop at
// exit. When the binary only lists its tests (ctest discovery), it starts
// nothing and points Qt at the offscreen platform instead. Every child
// process is started with a parent-death signal, so a crashed or killed test
// leaves no Xvfb, openbox or Chromium behind. Code that must run with its
// own X11 setup can also run in a child process with DesktopEnvironment().
//
// Waits here pump the Qt event queue, so the order form's reports (and the
// clipboard requests a paste sends to this process) are served meanwhile.

#include <sys/types.h>

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace vt::test {

class WinePrefix;

// Starts Xvfb and openbox once per process; true when the desktop runs.
bool EnsureTestDesktop();
// ":N" of the private display, empty when none runs.
QString TestDisplayName();
// The system environment with this desktop's DISPLAY, for a child process
// (the real program, xclip, xdotool).
QProcessEnvironment DesktopEnvironment();
// Stops and restarts openbox, for checks of a desktop without a window
// manager. True when the requested state was reached.
bool StopWindowManager();
bool StartWindowManager();

// Pumps the Qt event queue for `ms` milliseconds.
void PumpEvents(int ms);

// Pumps events until `done` holds, checking every `step_ms`; false when it
// still does not after `timeout_ms`.
bool WaitFor(const std::function<bool()>& done, int timeout_ms, int step_ms = 50);

// Runs a program on the desktop, pumping events meanwhile; its standard
// output, or nothing when it failed or ran longer than `timeout_ms`.
std::optional<QByteArray> RunOnDesktop(const QString& program, const QStringList& args,
                                       int timeout_ms = 10000, const QByteArray& input = {});

// Presses `keys` (xdotool's names) as a person would; a second time when
// xdotool failed or hung the first time (seen once under Xvfb: 10 s
// without an answer). False when neither press went through.
bool PressKeys(const QStringList& keys);

// A started child process in a process group of its own; stopped (TERM,
// then KILL) when destroyed.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // `extra_fd` is kept open in the child under the same number.
    bool start(const QStringList& argv, const QString& log_path = {}, int extra_fd = -1);
    bool running();
    void stop();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// A headless Wayland session: sway on its headless backend, without
// Xwayland, run as `nobody` (sway refuses to run as root). Programs meant to
// show in it run as that user too, through as_user().
class WaylandSession {
  public:
    WaylandSession();
    ~WaylandSession();
    WaylandSession(const WaylandSession&) = delete;
    WaylandSession& operator=(const WaylandSession&) = delete;

    // False, with the reason, when this cannot be: not root, sway missing,
    // or it did not come up.
    bool start(QString* why);
    void stop();
    // The session user's XDG_RUNTIME_DIR (mode 0700) and home folder.
    QString runtime_dir() const;
    QString home() const;
    // The start of a command line that runs the rest as the session user,
    // with nothing of this process's environment but the session's.
    QStringList as_user(const QStringList& extra_env = {}) const;
    // Hands `path` (and everything below it) to the session user.
    bool give(const QString& path) const;
    // swaymsg -t get_tree: the compositor's windows as JSON.
    QByteArray tree() const;
    // What sway wrote, for a failure's message.
    QString log() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The native hosts running for `runtime_dir` (the XDG_RUNTIME_DIR their
// browser gave them).
std::vector<pid_t> NativeHostsOf(const QString& runtime_dir);

// How the next OrderForm::open() starts its browser.
struct BrowserSetup {
    enum class Browser { kChromium, kFirefox };
    Browser browser = Browser::kChromium;
    // Not empty: the browser runs with our extension (Chromium: loaded
    // unpacked from the source tree; Firefox: as an unsigned add-on in its
    // fresh profile) and the host registered for it in the profile, and it
    // and the host see this XDG_RUNTIME_DIR.
    QString runtime_dir;
    // A second tab after the form: a page with no field at all.
    bool tab_without_field = false;
    // Not null: Chromium runs natively in this Wayland session, as its user,
    // with the session's runtime folder (runtime_dir is not used).
    const WaylandSession* wayland = nullptr;
    // The browser and its host run without XDG_RUNTIME_DIR (runtime_dir
    // then only switches the extension on).
    bool without_runtime_dir = false;
    // Chromium only: the page takes commands (reload()) and the tabs can be
    // opened and closed from the test (reopen_tab()).
    bool remote_control = false;
    // Not null: the host the browser starts is the Windows build's
    // vantortrans-host.exe, run under Wine in this prefix by a launcher
    // script that the host manifest names, as a Windows user's would be.
    const WinePrefix* wine_host = nullptr;
};

// The command line that starts the browser of `setup` on `urls`, with its
// profile (and, for the extension, its host manifest) prepared below
// `work_dir`. Nothing when the preparation failed.
std::optional<QStringList> BrowserCommand(const BrowserSetup& setup, const QString& work_dir,
                                          const QStringList& urls);

// Chromium with the order form page. The page has a search field that has
// the focus at first and a multi-line field with the access key "I"; every
// change of either is reported to this object.
class OrderForm {
  public:
    OrderForm();
    ~OrderForm();
    OrderForm(const OrderForm&) = delete;
    OrderForm& operator=(const OrderForm&) = delete;

    // Starts a fresh Chromium on the page titled `title` and waits until its
    // window is there and the page has loaded. The window's title is then
    // `title` followed by " - Chromium".
    bool open(const QString& title, int timeout_ms = 60000);
    // For the next open(): the page keeps busy for `ms` after each Ctrl+V
    // key press, so the paste fetches the clipboard that much later.
    void set_busy_after_paste_key(int ms);
    // For the next open().
    void set_browser(const BrowserSetup& setup);
    uint64_t window() const;
    // The multi-line field's newest content (Chromium turns CR into LF).
    QString field_text() const;
    QString search_text() const;
    bool field_focused() const;
    // How many input events the multi-line field has had, as of the page's
    // newest report (one paste is one event).
    int field_changes() const;
    // What reached each page this object has shown (each load of the form,
    // in a reload as in a new tab or browser), oldest first: its field and
    // its search field, each followed by a line feed.
    QStringList page_texts() const;
    // With remote_control: the page reloads itself, as a person's F5 does;
    // true once the new document has reported.
    bool reload(int timeout_ms = 30000);
    // With remote_control: the form opens in a new tab and its old tab is
    // closed; true once the new document has reported.
    bool reopen_tab(int timeout_ms = 15000);
    // Pumps events until the field holds `expected`; true when it does.
    bool wait_for_field(const QString& expected, int timeout_ms = 10000);
    // Pumps events for `ms` and returns the field's content then.
    QString settle(int ms = 300);
    // Ends Chromium; its window is gone once this returns.
    void close();
    // What the browser wrote to standard error, for a failure's message.
    QString chromium_log() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A small X11 window of the test with a chosen title and class, on its own
// connection and thread, recording the key events it receives.
class RecordingWindow {
  public:
    enum class Show { Mapped, Minimised, Unmapped };
    RecordingWindow(const QString& title, const QString& class_name, Show show = Show::Mapped);
    ~RecordingWindow();
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    uint64_t handle() const;
    // Key events received, as "down Alt_L", "up i", in order. Cleared with
    // the pastes by clear_keys().
    QStringList keys() const;
    // What each Ctrl+V fetched from the clipboard, as a paste target would.
    QStringList pastes() const;
    void clear_keys();
    // Keeps taking the focus back whenever another window becomes active.
    void steal_focus(bool on);
    void destroy();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vt::test
