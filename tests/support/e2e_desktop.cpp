#include "tests/support/e2e_desktop.h"
#include "tests/support/wine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrlQuery>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Xlib's macros clash with Qt's names: after Qt.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace vt::test {

// ---------------------------------------------------------------------------
// Child processes

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::start(const QStringList& argv, const QString& log_path, int extra_fd) {
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed in a process with threads.
    std::vector<std::string> storage;
    for (const QString& a : argv)
        storage.push_back(a.toStdString());
    std::vector<char*> args;
    for (std::string& s : storage)
        args.push_back(s.data());
    args.push_back(nullptr);
    const std::string log = log_path.isEmpty() ? "/dev/null" : log_path.toStdString();
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != extra_fd)
                close(fd);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    return true;
}

bool ChildProcess::running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::stop() {
    if (pid_ <= 0)
        return;
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (timer.elapsed() > 5000) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        usleep(10000);
    }
    // Helpers left in the group (Chromium's) go with it.
    kill(-pid_, SIGKILL);
    pid_ = -1;
}

// ---------------------------------------------------------------------------
// The desktop

namespace {

bool ListingTestsOnly() {
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string arg;
    while (std::getline(cmdline, arg, '\0')) {
        if (arg.rfind("--gtest_list_tests", 0) == 0)
            return true;
    }
    return false;
}

bool g_x_error = false;
int NoteXError(Display*, XErrorEvent*) {
    g_x_error = true;
    return 0;
}

bool WindowManagerReady(Display* d) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window check = 0;
    if (XGetWindowProperty(d, DefaultRootWindow(d),
                           XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
        data && count == 1) {
        check = *reinterpret_cast<Window*>(data);
    }
    if (data)
        XFree(data);
    if (!check)
        return false;
    XSync(d, False);
    g_x_error = false;
    auto* previous = XSetErrorHandler(NoteXError);
    XWindowAttributes attributes{};
    XGetWindowAttributes(d, check, &attributes);
    XSync(d, False);
    XSetErrorHandler(previous);
    return !g_x_error;
}

// Polls the display until the window manager is (or is no longer) there.
bool WaitForWindowManager(const QString& name, bool running, int timeout_ms) {
    Display* d = XOpenDisplay(name.toLocal8Bit().constData());
    if (!d)
        return false;
    QElapsedTimer timer;
    timer.start();
    bool reached = false;
    while (!(reached = WindowManagerReady(d) == running) && timer.elapsed() < timeout_ms) {
        usleep(20000);
    }
    XCloseDisplay(d);
    return reached;
}

struct Desktop {
    ChildProcess xvfb;
    ChildProcess openbox;
    QString name;
};

std::unique_ptr<Desktop>& TheDesktop() {
    static std::unique_ptr<Desktop> desktop;
    return desktop;
}

}  // namespace

bool EnsureTestDesktop() {
    auto& desktop = TheDesktop();
    if (desktop)
        return true;
    if (ListingTestsOnly()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return false;
    }
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    desktop = std::make_unique<Desktop>();
    const bool started =
        desktop->xvfb.start({"Xvfb", "-displayfd", QString::number(fds[1]), "-screen", "0",
                             "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                            {}, fds[1]);
    close(fds[1]);
    std::string number;
    if (started) {
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        std::fprintf(stderr, "e2e desktop: Xvfb did not start\n");
        desktop.reset();
        return false;
    }
    desktop->name = QString::fromStdString(":" + number);
    setenv("DISPLAY", desktop->name.toLocal8Bit().constData(), 1);
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("WAYLAND_DISPLAY");
    if (!StartWindowManager())
        std::fprintf(stderr, "e2e desktop: openbox did not start\n");
    return true;
}

QString TestDisplayName() {
    return TheDesktop() ? TheDesktop()->name : QString();
}

QProcessEnvironment DesktopEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", TestDisplayName());
    env.remove("QT_QPA_PLATFORM");
    return env;
}

bool StartWindowManager() {
    auto& desktop = TheDesktop();
    if (!desktop)
        return false;
    if (!desktop->openbox.running()) {
        // openbox reads DISPLAY from the environment the child inherits.
        if (!desktop->openbox.start({"openbox", "--sm-disable"}))
            return false;
    }
    if (!WaitForWindowManager(desktop->name, true, 15000))
        return false;
    // openbox announces itself a moment before it takes on new windows.
    usleep(300000);
    return true;
}

bool StopWindowManager() {
    auto& desktop = TheDesktop();
    if (!desktop)
        return false;
    desktop->openbox.stop();
    return WaitForWindowManager(desktop->name, false, 5000);
}

void PumpEvents(int ms) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    } while (timer.elapsed() < ms);
}

bool WaitFor(const std::function<bool()>& done, int timeout_ms, int step_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms)
            return false;
        PumpEvents(step_ms);
    }
    return true;
}

std::optional<QByteArray> RunOnDesktop(const QString& program, const QStringList& args,
                                       int timeout_ms, const QByteArray& input) {
    QProcess p;
    p.setProcessEnvironment(DesktopEnvironment());
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return std::nullopt;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    QElapsedTimer timer;
    timer.start();
    // Pumping: the program may ask this process for the clipboard.
    while (!p.waitForFinished(5)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (timer.elapsed() > timeout_ms) {
            p.kill();
            p.waitForFinished(1000);
            return std::nullopt;
        }
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return p.readAllStandardOutput();
}

bool PressKeys(const QStringList& keys) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (RunOnDesktop("xdotool", QStringList{"key"} + keys, 5000))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The order form in Chromium

namespace {

const QString kExtensionDir = QStringLiteral(VT_SOURCE_DIR "/browser/extension");
const QString kHost = QStringLiteral(VT_BIN_DIR "/vantortrans-host");

// With `wine`, the manifest names a launcher beside it that runs the
// Windows host under Wine with the browser's standard input and output.
bool WriteHostManifest(const QString& browser, const QString& path,
                       const WinePrefix* wine = nullptr) {
    QProcess p;
    p.start(kHost, {"--print-manifest", browser});
    if (!p.waitForFinished(5000) || p.exitCode() != 0)
        return false;
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QByteArray manifest = p.readAllStandardOutput();
    if (wine) {
        const QString launcher = QFileInfo(path).path() + "/wine-host.sh";
        const QProcessEnvironment env = wine->environment(QProcessEnvironment());
        QByteArray script = "#!/bin/sh\n";
        for (const QString& name : env.keys())
            script += "export " + name.toUtf8() + "='" + env.value(name).toUtf8() + "'\n";
        script += "exec " + QByteArray(kWine) + " '" +
                  WindowsPath(QFileInfo(WindowsExecutable("VantorTrans")).path() +
                              "/vantortrans-host.exe").toUtf8() +
                  "' \"$@\"\n";
        QFile s(launcher);
        if (!s.open(QIODevice::WriteOnly | QIODevice::Truncate) || s.write(script) != script.size())
            return false;
        s.close();
        s.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QJsonObject m = QJsonDocument::fromJson(manifest).object();
        m.insert("path", launcher);
        manifest = QJsonDocument(m).toJson();
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(manifest) > 0;
}

// Firefox installs an add-on it finds in a fresh profile's extensions/ when
// the file is named by the add-on's id; unsigned only with the preference.
bool PrepareFirefoxProfile(const QString& profile) {
    if (!QDir().mkpath(profile + "/extensions"))
        return false;
    QFile prefs(profile + "/user.js");
    if (!prefs.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    prefs.write(
        "user_pref(\"xpinstall.signatures.required\", false);\n"
        // Enabled at once instead of asking the user about a side-loaded add-on.
        "user_pref(\"extensions.autoDisableScopes\", 0);\n"
        "user_pref(\"extensions.enabledScopes\", 15);\n"
        "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
        "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
        "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
        "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
        "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
        "user_pref(\"app.update.disabledForTesting\", true);\n"
        "user_pref(\"browser.tabs.warnOnClose\", false);\n"
        "user_pref(\"browser.sessionstore.resume_from_crash\", false);\n");
    prefs.close();
    const QString xpi = profile + "/extensions/browser@vantortrans.de.xpi";
    QFile::remove(xpi);
    QProcess zip;
    zip.setWorkingDirectory(kExtensionDir);
    zip.start("zip", {"-q", "-r", xpi, "."});
    return zip.waitForFinished(10000) && zip.exitCode() == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// A headless Wayland session

namespace {
constexpr uid_t kNobody = 65534;
}

struct WaylandSession::State {
    QTemporaryDir dir;
    QString runtime, home, display, swaysock;
    ChildProcess sway;
};

WaylandSession::WaylandSession() : state_(std::make_unique<State>()) {}
WaylandSession::~WaylandSession() {
    stop();
}

QString WaylandSession::runtime_dir() const {
    return state_->runtime;
}
QString WaylandSession::home() const {
    return state_->home;
}

bool WaylandSession::give(const QString& path) const {
    QProcess p;
    p.start("chown", {"-R", QString("%1:%1").arg(kNobody), path});
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

QStringList WaylandSession::as_user(const QStringList& extra_env) const {
    QStringList argv{"setpriv", QString("--reuid=%1").arg(kNobody), QString("--regid=%1").arg(kNobody),
                     "--clear-groups", "env", "-i", "HOME=" + state_->home,
                     "XDG_RUNTIME_DIR=" + state_->runtime, "PATH=/usr/bin:/bin"};
    if (!state_->display.isEmpty())
        argv << "WAYLAND_DISPLAY=" + state_->display;
    if (!state_->swaysock.isEmpty())
        argv << "SWAYSOCK=" + state_->swaysock;
    return argv + extra_env;
}

bool WaylandSession::start(QString* why) {
    State& s = *state_;
    auto fail = [&](const QString& reason) {
        *why = reason;
        stop();
        return false;
    };
    if (getuid() != 0)
        return fail("needs root to run the session as nobody");
    if (QStandardPaths::findExecutable("sway").isEmpty() || QStandardPaths::findExecutable("setpriv").isEmpty())
        return fail("sway or setpriv is not installed");
    if (!s.dir.isValid())
        return fail("no temporary folder");
    s.runtime = s.dir.filePath("runtime");
    s.home = s.dir.filePath("home");
    QDir().mkpath(s.runtime);
    QDir().mkpath(s.home);
    QFile config(s.dir.filePath("sway.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return fail("cannot write the sway configuration");
    config.write("output HEADLESS-1 resolution 1280x800\nxwayland disable\n");
    config.close();
    ::chmod(QFile::encodeName(s.dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(s.runtime).constData(), 0700);
    if (!give(s.dir.path()))
        return fail("cannot hand the session folders to nobody");
    const QStringList argv =
        as_user({"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "sway", "-c",
                 config.fileName()});
    if (!s.sway.start(argv, s.dir.filePath("sway.log")))
        return fail("sway did not start");
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000 && s.sway.running()) {
        const QDir runtime(s.runtime);
        const QStringList displays = runtime.entryList({"wayland-*"}, QDir::System);
        const QStringList ipc = runtime.entryList({"sway-ipc.*.sock"}, QDir::System);
        for (const QString& d : displays) {
            if (!d.endsWith(".lock"))
                s.display = d;
        }
        if (!s.display.isEmpty() && !ipc.isEmpty()) {
            s.swaysock = runtime.filePath(ipc.first());
            return true;
        }
        PumpEvents(50);
    }
    return fail("sway did not come up:\n" + log().right(2000));
}

void WaylandSession::stop() {
    state_->sway.stop();
    state_->display.clear();
    state_->swaysock.clear();
}

QByteArray WaylandSession::tree() const {
    const QStringList argv = as_user({"swaymsg", "-t", "get_tree"});
    QProcess p;
    p.start(argv.first(), argv.mid(1));
    if (!p.waitForFinished(5000))
        return {};
    return p.readAllStandardOutput();
}

QString WaylandSession::log() const {
    QFile file(state_->dir.filePath("sway.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

std::vector<pid_t> NativeHostsOf(const QString& runtime_dir) {
    const QByteArray wanted = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtime_dir);
    std::vector<pid_t> hosts;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        QFile cmdline("/proc/" + entry + "/cmdline");
        QFile environ("/proc/" + entry + "/environ");
        if (!cmdline.open(QIODevice::ReadOnly) || !environ.open(QIODevice::ReadOnly))
            continue;
        if (!cmdline.readAll().split('\0').value(0).endsWith("vantortrans-host"))
            continue;
        if (environ.readAll().split('\0').contains(wanted))
            hosts.push_back(pid);
    }
    return hosts;
}

std::optional<QStringList> BrowserCommand(const BrowserSetup& setup, const QString& work_dir,
                                          const QStringList& urls) {
    if (setup.wayland) {
        BrowserSetup x11 = setup;
        x11.wayland = nullptr;
        x11.runtime_dir = setup.wayland->runtime_dir();
        x11.browser = BrowserSetup::Browser::kChromium;
        std::optional<QStringList> argv = BrowserCommand(x11, work_dir, urls);
        // The profile must belong to the user Chromium runs as.
        ::chmod(QFile::encodeName(work_dir).constData(), 0755);
        if (!argv || !setup.wayland->give(work_dir + "/profile"))
            return std::nullopt;
        // "env XDG_RUNTIME_DIR=... chromium ...": the session's own env
        // replaces the first two words.
        argv->remove(0, 2);
        argv->insert(1, "--ozone-platform=wayland");
        return setup.wayland->as_user() + *argv;
    }
    QStringList env{"env"};
    if (setup.without_runtime_dir)
        env << "-u" << "XDG_RUNTIME_DIR";
    else if (!setup.runtime_dir.isEmpty())
        env << "XDG_RUNTIME_DIR=" + setup.runtime_dir;
    const QString profile = work_dir + "/profile";
    if (setup.browser == BrowserSetup::Browser::kFirefox) {
        const QString home = work_dir + "/home";
        if (!PrepareFirefoxProfile(profile))
            return std::nullopt;
        // Firefox reads per-user host manifests from ~/.mozilla only.
        if (!setup.runtime_dir.isEmpty() &&
            !WriteHostManifest("firefox", home + "/.mozilla/native-messaging-hosts/de.vantortrans.host.json",
                               setup.wine_host))
            return std::nullopt;
        return env + QStringList{"HOME=" + home, "MOZ_CRASHREPORTER_DISABLE=1", "firefox-esr",
                                 "--no-remote", "--new-instance", "--profile", profile,
                                 "--width", "1000", "--height", "800"} +
               urls;
    }
    QStringList args{"chromium", "--no-sandbox", "--no-first-run", "--disable-gpu",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--no-default-browser-check", "--password-store=basic", "--window-position=0,0",
                     "--window-size=1000,800", "--user-data-dir=" + profile};
    if (!setup.runtime_dir.isEmpty()) {
        // A --user-data-dir has its own folder of host manifests.
        if (!WriteHostManifest("chromium", profile + "/NativeMessagingHosts/de.vantortrans.host.json",
                               setup.wine_host))
            return std::nullopt;
        args << "--load-extension=" + kExtensionDir;
    }
    return env + args + urls;
}

struct OrderForm::State {
    QTcpServer server;
    QHash<QTcpSocket*, QByteArray> pending;
    ChildProcess chromium;
    QTemporaryDir profile;
    QByteArray page;
    // Every load of the page is a document of its own, named in its reports.
    struct Document {
        QString field, search;
        qint64 field_seq = 0, search_seq = 0;
        int field_inputs = 0;
    };
    QHash<QString, Document> documents;
    QStringList order;  // the documents' names, oldest first
    Document none;      // until the first report
    bool reload_asked = false;
    bool focused = false;
    bool loaded = false;
    uint64_t window = 0;
    int busy_after_paste_key_ms = 0;
    BrowserSetup setup;

    void serve(QTcpSocket* socket) {
        QByteArray& buffer = pending[socket];
        buffer += socket->readAll();
        const qsizetype header_end = buffer.indexOf("\r\n\r\n");
        if (header_end < 0)
            return;
        const QList<QByteArray> header = buffer.left(header_end).split('\n');
        qsizetype length = 0;
        for (const QByteArray& line : header) {
            if (line.toLower().startsWith("content-length:")) {
                length = line.mid(15).trimmed().toLongLong();
            }
        }
        if (buffer.size() < header_end + 4 + length)
            return;
        const QByteArray body = buffer.mid(header_end + 4, length);
        const QList<QByteArray> request = header.value(0).trimmed().split(' ');
        const QUrl url(QString::fromLatin1(request.value(1)));
        QByteArray reply = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
        if (request.value(0) == "GET" && url.path() == "/form") {
            reply =
                "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                QByteArray::number(page.size()) + "\r\n\r\n" + page;
        } else if (request.value(0) == "GET" && url.path() == "/plain") {
            static const QByteArray plain =
                "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Ohne Feld</title></head>"
                "<body><p>Hier gibt es kein Eingabefeld.</p></body></html>";
            reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                    "Connection: close\r\nContent-Length: " +
                    QByteArray::number(plain.size()) + "\r\n\r\n" + plain;
        } else if (request.value(0) == "POST" && url.path() == "/report") {
            record(QUrlQuery(url), QString::fromUtf8(body));
        } else if (request.value(0) == "GET" && url.path() == "/command") {
            const QByteArray command = reload_asked ? "reload" : "";
            reload_asked = false;
            reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\n"
                    "Connection: close\r\nContent-Length: " +
                    QByteArray::number(command.size()) + "\r\n\r\n" + command;
        }
        socket->write(reply);
        socket->disconnectFromHost();
        pending.remove(socket);
    }

    const Document& current() const {
        return order.isEmpty() ? none : documents.find(order.last()).value();
    }

    void record(const QUrlQuery& query, const QString& body) {
        const QString kind = query.queryItemValue("kind");
        const qint64 seq = query.queryItemValue("seq").toLongLong();
        const QString name = query.queryItemValue("page");
        if (!documents.contains(name))
            order << name;
        Document& d = documents[name];
        if (kind == "field" && seq > d.field_seq) {
            d.field_seq = seq;
            d.field = body;
            d.field_inputs = query.queryItemValue("inputs").toInt();
        } else if (kind == "search" && seq > d.search_seq) {
            d.search_seq = seq;
            d.search = body;
        } else if (kind == "focus") {
            focused = true;
        } else if (kind == "load") {
            loaded = true;
        }
    }
};

OrderForm::OrderForm() : state_(std::make_unique<State>()) {
    QObject::connect(&state_->server, &QTcpServer::newConnection, [s = state_.get()] {
        while (QTcpSocket* socket = s->server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, [s, socket] { s->serve(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

OrderForm::~OrderForm() {
    close();
}

bool OrderForm::open(const QString& title, int timeout_ms) {
    State& s = *state_;
    QFile file(QStringLiteral(VT_SOURCE_DIR "/tests/e2e/order_form.html"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    s.page = file.readAll();
    // A form opened again is a new window with a new page.
    s.window = 0;
    s.loaded = false;
    s.focused = false;
    s.page.replace("@TITLE@", title.toHtmlEscaped().toUtf8());
    s.page.replace("@BUSY_MS@", QByteArray::number(s.busy_after_paste_key_ms));
    s.page.replace("@COMMAND_POLL_MS@", s.setup.remote_control ? "100" : "0");
    s.reload_asked = false;
    if (!s.server.isListening() && !s.server.listen(QHostAddress::LocalHost, 0))
        return false;
    if (!s.profile.isValid())
        return false;
    QStringList urls{QString("http://127.0.0.1:%1/form").arg(s.server.serverPort())};
    if (s.setup.tab_without_field)
        urls << QString("http://127.0.0.1:%1/plain").arg(s.server.serverPort());
    std::optional<QStringList> argv = BrowserCommand(s.setup, s.profile.path(), urls);
    if (argv && s.setup.remote_control) {
        // Tabs are opened and closed through the DevTools HTTP endpoints on
        // loopback: keys for it could land in the program's windows.
        QFile::remove(s.profile.filePath("profile/DevToolsActivePort"));
        argv->insert(argv->indexOf("chromium") + 1, "--remote-debugging-port=0");
        argv->insert(argv->indexOf("chromium") + 1, "--remote-debugging-address=127.0.0.1");
        // A window under another one counts as hidden, and a hidden page's
        // timers run once a minute after a while: the page's command poll
        // with them.
        for (const char* flag : {"--disable-background-timer-throttling",
                                 "--disable-backgrounding-occluded-windows",
                                 "--disable-renderer-backgrounding"})
            argv->insert(argv->indexOf("chromium") + 1, QString::fromLatin1(flag));
    }
    if (!argv || !s.chromium.start(*argv, s.profile.filePath("chromium.log")))
        return false;
    const bool firefox = s.setup.browser == BrowserSetup::Browser::kFirefox;
    const QString pattern = "^" + QRegularExpression::escape(title) +
                            (firefox ? QString(" (—|-) Mozilla Firefox") : QString(" - Chromium$"));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeout_ms && s.chromium.running()) {
        PumpEvents(100);
        // No X11 window to find in a Wayland session: the page's load
        // report is all there is.
        if (s.setup.wayland && s.loaded)
            return true;
        if (!s.window && !s.setup.wayland) {
            const QByteArray found =
                RunOnDesktop("xdotool", {"search", "--onlyvisible", "--name", pattern}, 5000)
                    .value_or(QByteArray());
            s.window = found.trimmed().split('\n').value(0).toULongLong();
        }
        if (s.window && s.loaded)
            return true;
    }
    std::fprintf(stderr, "order form did not open; Chromium says:\n%s\n",
                 qPrintable(chromium_log().right(3000)));
    close();
    return false;
}

void OrderForm::set_browser(const BrowserSetup& setup) {
    state_->setup = setup;
}

void OrderForm::set_busy_after_paste_key(int ms) {
    state_->busy_after_paste_key_ms = ms;
}

uint64_t OrderForm::window() const {
    return state_->window;
}
QString OrderForm::field_text() const {
    return state_->current().field;
}
QString OrderForm::search_text() const {
    return state_->current().search;
}
bool OrderForm::field_focused() const {
    return state_->focused;
}
int OrderForm::field_changes() const {
    return state_->current().field_inputs;
}

QStringList OrderForm::page_texts() const {
    const State& s = *state_;
    QStringList texts;
    for (const QString& name : s.order) {
        const State::Document& d = s.documents.find(name).value();
        texts << d.field + '\n' + d.search + '\n';
    }
    return texts;
}

bool OrderForm::reload(int timeout_ms) {
    State& s = *state_;
    const qsizetype before = s.order.size();
    s.reload_asked = true;
    QElapsedTimer timer;
    timer.start();
    while (s.order.size() == before && timer.elapsed() < timeout_ms && s.chromium.running())
        PumpEvents(20);
    s.reload_asked = false;
    return s.order.size() > before;
}

namespace {

// One request to Chromium's DevTools HTTP endpoint; the body of a 200 reply.
std::optional<QByteArray> DevTools(quint16 port, const QByteArray& method, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return std::nullopt;
    socket.write(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 5000) {
        socket.waitForReadyRead(100);
        reply += socket.readAll();
    }
    reply += socket.readAll();
    if (!reply.startsWith("HTTP/1.1 200"))
        return std::nullopt;
    return reply.mid(reply.indexOf("\r\n\r\n") + 4);
}

}  // namespace

bool OrderForm::reopen_tab(int timeout_ms) {
    State& s = *state_;
    QFile port_file(s.profile.filePath("profile/DevToolsActivePort"));
    if (!s.setup.remote_control || !port_file.open(QIODevice::ReadOnly))
        return false;
    const quint16 port = static_cast<quint16>(port_file.readLine().trimmed().toUInt());
    const std::optional<QByteArray> list = DevTools(port, "GET", "/json/list");
    if (!list)
        return false;
    QStringList old_tabs;
    for (const QJsonValue& target : QJsonDocument::fromJson(*list).array()) {
        const QJsonObject t = target.toObject();
        if (t.value("type").toString() == "page" && t.value("url").toString().endsWith("/form"))
            old_tabs << t.value("id").toString();
    }
    const qsizetype before = s.order.size();
    const QByteArray url = QString("http://127.0.0.1:%1/form").arg(s.server.serverPort()).toUtf8();
    if (!DevTools(port, "PUT", "/json/new?" + url))
        return false;
    for (const QString& id : old_tabs)
        DevTools(port, "GET", "/json/close/" + id.toUtf8());
    QElapsedTimer timer;
    timer.start();
    while (s.order.size() == before && timer.elapsed() < timeout_ms && s.chromium.running())
        PumpEvents(20);
    return s.order.size() > before;
}

bool OrderForm::wait_for_field(const QString& expected, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (field_text() != expected) {
        if (timer.elapsed() > timeout_ms)
            return false;
        PumpEvents(10);
    }
    return true;
}

QString OrderForm::settle(int ms) {
    PumpEvents(ms);
    return field_text();
}

void OrderForm::close() {
    State& s = *state_;
    if (!s.chromium.running())
        return;
    s.chromium.stop();
    const QString id = QString::number(s.window);
    QElapsedTimer timer;
    timer.start();
    while (s.window && timer.elapsed() < 5000 &&
           RunOnDesktop("xdotool", {"getwindowname", id}, 2000)) {
        PumpEvents(20);
    }
}

QString OrderForm::chromium_log() const {
    QFile file(state_->profile.filePath("chromium.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// ---------------------------------------------------------------------------
// Recording test windows

struct RecordingWindow::State {
    Display* display = nullptr;
    Window window = 0;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> steal{false};
    std::atomic<bool> destroy_request{false};
    std::atomic<bool> destroyed{false};
    mutable std::mutex mutex;
    QStringList keys;
    QStringList pastes;

    Atom atom(const char* name) const { return XInternAtom(display, name, False); }

    Window active() const {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window w = 0;
        if (XGetWindowProperty(display, DefaultRootWindow(display), atom("_NET_ACTIVE_WINDOW"), 0,
                               1, False, XA_WINDOW, &type, &format, &count, &after,
                               &data) == Success &&
            data && count == 1) {
            w = *reinterpret_cast<Window*>(data);
        }
        if (data)
            XFree(data);
        return w;
    }

    void take_focus() {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = window;
        e.xclient.message_type = atom("_NET_ACTIVE_WINDOW");
        e.xclient.format = 32;
        e.xclient.data.l[0] = 2;
        XSendEvent(display, DefaultRootWindow(display), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &e);
        XSync(display, False);
    }

    void run() {
        const int fd = ConnectionNumber(display);
        while (!stop) {
            if (destroy_request && !destroyed) {
                XDestroyWindow(display, window);
                XSync(display, False);
                destroyed = true;
            }
            while (XPending(display)) {
                XEvent e;
                XNextEvent(display, &e);
                if (e.type == KeyPress || e.type == KeyRelease) {
                    const KeySym sym = XkbKeycodeToKeysym(display, e.xkey.keycode, 0, 0);
                    const char* name = XKeysymToString(sym);
                    {
                        std::lock_guard lock(mutex);
                        keys << QString(e.type == KeyPress ? "down " : "up ") + (name ? name : "?");
                    }
                    // Ctrl+V fetches the clipboard, as a real paste target does.
                    if (e.type == KeyPress && sym == XK_v && (e.xkey.state & ControlMask)) {
                        XConvertSelection(display, atom("CLIPBOARD"), atom("UTF8_STRING"),
                                          atom("_VT_PASTE"), window, e.xkey.time);
                        XFlush(display);
                    }
                } else if (e.type == SelectionNotify && e.xselection.property != None) {
                    Atom type = None;
                    int format = 0;
                    unsigned long count = 0, after = 0;
                    unsigned char* data = nullptr;
                    XGetWindowProperty(display, window, e.xselection.property, 0, 1 << 20, True,
                                       AnyPropertyType, &type, &format, &count, &after, &data);
                    std::lock_guard lock(mutex);
                    pastes << QString::fromUtf8(reinterpret_cast<const char*>(data),
                                                static_cast<int>(count));
                    if (data)
                        XFree(data);
                } else if (e.type == PropertyNotify && steal && !destroyed &&
                           e.xproperty.atom == atom("_NET_ACTIVE_WINDOW") && active() != window) {
                    take_focus();
                }
            }
            if (steal && !destroyed && active() != window)
                take_focus();
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 5);
        }
    }
};

RecordingWindow::RecordingWindow(const QString& title, const QString& class_name, Show show)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.display = XOpenDisplay(TestDisplayName().toLocal8Bit().constData());
    if (!s.display)
        return;
    Display* d = s.display;
    s.window = XCreateSimpleWindow(d, DefaultRootWindow(d), 50, 50, 300, 120, 0, 0, 0xffffff);
    XSelectInput(d, s.window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XSelectInput(d, DefaultRootWindow(d), PropertyChangeMask);
    const QByteArray utf8 = title.toUtf8();
    XChangeProperty(d, s.window, s.atom("_NET_WM_NAME"), s.atom("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.constData()),
                    static_cast<int>(utf8.size()));
    XStoreName(d, s.window, title.toLatin1().constData());
    QByteArray name = class_name.toLower().toLatin1(), klass = class_name.toLatin1();
    XClassHint hint{name.data(), klass.data()};
    XSetClassHint(d, s.window, &hint);
    const long pid = getpid();
    XChangeProperty(d, s.window, s.atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    if (show != Show::Unmapped) {
        XMapWindow(d, s.window);
        XSync(d, False);
        for (int i = 0; i < 300; ++i) {
            XWindowAttributes attributes{};
            XGetWindowAttributes(d, s.window, &attributes);
            if (attributes.map_state == IsViewable)
                break;
            usleep(10000);
        }
        // A window manager marks the windows it has taken on with WM_STATE.
        if (WindowManagerReady(d)) {
            for (int i = 0; i < 300; ++i) {
                int n = 0;
                Atom* props = XListProperties(d, s.window, &n);
                bool managed = false;
                for (int k = 0; k < n; ++k)
                    managed = managed || props[k] == s.atom("WM_STATE");
                if (props)
                    XFree(props);
                if (managed)
                    break;
                usleep(10000);
            }
        }
        if (show == Show::Minimised)
            XIconifyWindow(d, s.window, DefaultScreen(d));
        XSync(d, False);
        usleep(100000);
    }
    s.thread = std::thread([&s] { s.run(); });
}

RecordingWindow::~RecordingWindow() {
    State& s = *state_;
    if (!s.display)
        return;
    s.stop = true;
    if (s.thread.joinable())
        s.thread.join();
    XCloseDisplay(s.display);
}

uint64_t RecordingWindow::handle() const {
    return state_->window;
}

QStringList RecordingWindow::keys() const {
    std::lock_guard lock(state_->mutex);
    return state_->keys;
}

QStringList RecordingWindow::pastes() const {
    std::lock_guard lock(state_->mutex);
    return state_->pastes;
}

void RecordingWindow::clear_keys() {
    std::lock_guard lock(state_->mutex);
    state_->keys.clear();
    state_->pastes.clear();
}

void RecordingWindow::steal_focus(bool on) {
    state_->steal = on;
}

void RecordingWindow::destroy() {
    state_->destroy_request = true;
    while (!state_->destroyed)
        usleep(1000);
}

}  // namespace vt::test
