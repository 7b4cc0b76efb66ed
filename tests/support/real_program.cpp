#include "tests/support/real_program.h"

#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QThread>
#include <cstdio>

#include "tests/support/e2e_desktop.h"
#include "tests/support/wine.h"

namespace vt::test {
namespace {

QString IniNameOf(const QString& executable) {
    return executable + QStringLiteral(".ini");
}

QJsonObject Centre(const QJsonObject& thing) {
    return thing.value(QStringLiteral("rect")).toObject();
}

void Xdotool(const QStringList& args) {
    RunOnDesktop(QStringLiteral("xdotool"), args, 5000);
    // The program sees the event a moment after the server sent it.
    PumpEvents(150);
}

}  // namespace

RealProgram::RealProgram(QString executable) : executable_(std::move(executable)) {}

RealProgram::~RealProgram() {
    if (process_.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(10000))
            process_.kill();
        process_.waitForFinished(3000);
    }
}

QString RealProgram::ini_path() const {
    return dir_.filePath(IniNameOf(executable_));
}

void RealProgram::write_ini(const QByteArray& text) const {
    QFile f(ini_path());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text);
}

QByteArray RealProgram::ini() const {
    QFile f(ini_path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool RealProgram::start() {
    QProcessEnvironment env = DesktopEnvironment();
    if (without_runtime_dir_)
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    else
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    // The user's own configuration (the autostart folder) stays in the test's folder.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    QString program = QStringLiteral(VT_BIN_DIR "/") + executable_;
    QStringList args;
    if (wine_) {
#ifdef VT_WINDOWS_BUILD
        // The probe is built for Windows beside the programs.
        env = wine_->environment(env);
        if (!wine_->set_variable(QStringLiteral("QT_PLUGIN_PATH"),
                                 WindowsPath(QStringLiteral(VT_WINDOWS_BUILD "/test-plugins"))) ||
            !wine_->set_variable(QStringLiteral("QT_QPA_GENERIC_PLUGINS"),
                                 QStringLiteral("vtuiprobe:") + WindowsPath(probe_.path())))
            return false;
        program = QString::fromLatin1(kWine);
        if (installed_.exe.isEmpty())
            args << WindowsExecutable(executable_);
        else
            args << installed_.exe << installed_.args;
#else
        return false;
#endif
    } else {
        env.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(VT_TEST_PLUGIN_DIR));
        env.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"),
                   QStringLiteral("vtuiprobe:") + probe_.path());
    }
    process_.setProcessEnvironment(env);
    process_.setWorkingDirectory(installed_.working_dir.isEmpty() ? dir_.path()
                                                                  : installed_.working_dir);
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    process_.start(program, args);
    if (!process_.waitForStarted(5000))
        return false;
    // Wine starts its own services with the first program of a prefix.
    return main_window(wine_ ? 60000 : 10000).has_value();
}

bool RealProgram::running() {
    return process_.state() != QProcess::NotRunning;
}

std::optional<int> RealProgram::wait_exit(int ms) {
    QElapsedTimer t;
    t.start();
    while (running() && t.elapsed() < ms)
        PumpEvents(50);
    if (running() || process_.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return process_.exitCode();
}

QJsonArray RealProgram::windows() {
    const QString snapshot = QDir(probe_.path()).filePath(QStringLiteral("snapshot.json"));
    QFile::remove(snapshot);
    {
        QFile request(QDir(probe_.path()).filePath(QStringLiteral("request")));
        if (!request.open(QIODevice::WriteOnly))
            return {};
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000 && running()) {
        QFile f(snapshot);
        if (f.open(QIODevice::ReadOnly))
            return QJsonDocument::fromJson(f.readAll()).array();
        PumpEvents(20);
    }
    return {};
}

std::optional<QJsonObject> RealProgram::wait_for(
    const std::function<std::optional<QJsonObject>(const QJsonArray&)>& pick, int timeout_ms) {
    QElapsedTimer t;
    t.start();
    do {
        if (auto found = pick(windows()))
            return found;
        PumpEvents(50);
    } while (t.elapsed() < timeout_ms && running());
    return std::nullopt;
}

std::optional<QJsonObject> RealProgram::window(const QString& title, int timeout_ms) {
    return wait_for(
        [&](const QJsonArray& all) -> std::optional<QJsonObject> {
            for (const QJsonValue& v : all) {
                const QJsonObject w = v.toObject();
                if (w.value("visible").toBool() && w.value("title").toString() == title)
                    return w;
            }
            return std::nullopt;
        },
        timeout_ms);
}

std::optional<QJsonObject> RealProgram::main_window(int timeout_ms) {
    return wait_for(
        [](const QJsonArray& all) -> std::optional<QJsonObject> {
            for (const QJsonValue& v : all) {
                if (v.toObject().value("class").toString() == "vt::TForm1")
                    return v.toObject();
            }
            return std::nullopt;
        },
        timeout_ms);
}

std::optional<QJsonObject> RealProgram::widget(const QString& title, const QString& name,
                                               int timeout_ms) {
    return wait_for(
        [&](const QJsonArray& all) -> std::optional<QJsonObject> {
            for (const QJsonValue& v : all) {
                const QJsonObject w = v.toObject();
                if (w.value("visible").toBool() && w.value("title").toString() == title)
                    return Child(w, name);
            }
            return std::nullopt;
        },
        timeout_ms);
}

bool RealProgram::gone(const QString& title, int timeout_ms) {
    QElapsedTimer t;
    t.start();
    do {
        bool seen = false;
        for (const QJsonValue& v : windows()) {
            const QJsonObject w = v.toObject();
            seen = seen || (w.value("visible").toBool() && w.value("title").toString() == title);
        }
        if (!seen)
            return true;
        PumpEvents(50);
    } while (t.elapsed() < timeout_ms);
    return false;
}

void RealProgram::screenshot(const QString& name) {
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(VT_BIN_DIR "/../e2e-") +
                                                         name + QStringLiteral(".png"));
}

std::optional<QJsonObject> Child(const QJsonObject& window, const QString& name) {
    for (const QJsonValue& v : window.value("widgets").toArray()) {
        if (v.toObject().value("name").toString() == name)
            return v.toObject();
    }
    return std::nullopt;
}

std::optional<QJsonObject> WithText(const QJsonArray& entries, const QString& text) {
    for (const QJsonValue& v : entries) {
        const QJsonObject o = v.isObject() ? v.toObject() : QJsonObject{{"text", v.toString()}};
        if (o.value("text").toString() == text)
            return o;
    }
    return std::nullopt;
}

QStringList Texts(const QJsonArray& entries) {
    QStringList out;
    for (const QJsonValue& v : entries)
        out << (v.isObject() ? v.toObject().value("text").toString() : v.toString());
    return out;
}

void ClickAt(int x, int y, int button) {
    // A hand holds the button for a moment; a press and release in the same
    // instant is not what a person makes (and the tray icon drops the first).
    const QString b = QString::number(button);
    Xdotool({"mousemove", "--sync", QString::number(x), QString::number(y), "mousedown", b,
             "sleep", "0.08", "mouseup", b});
}

void Click(const QJsonObject& thing, int button) {
    const QJsonObject r = Centre(thing);
    ClickAt(r.value("x").toInt() + r.value("w").toInt() / 2,
            r.value("y").toInt() + r.value("h").toInt() / 2, button);
}

void DoubleClick(const QJsonObject& thing) {
    const QJsonObject r = Centre(thing);
    Xdotool({"mousemove", "--sync", QString::number(r.value("x").toInt() + r.value("w").toInt() / 2),
             QString::number(r.value("y").toInt() + r.value("h").toInt() / 2), "click",
             "--repeat", "2", "--delay", "80", "1"});
}

void Keys(const QString& keys) {
    Xdotool(QStringList{"key", "--delay", "60"} + keys.split(u' ', Qt::SkipEmptyParts));
}

void Type(const QString& text) {
    Xdotool({"type", "--delay", "40", text});
}

bool AnswerBox(RealProgram& program, const QString& title, int timeout_ms) {
    if (!program.window(title, timeout_ms)) {
        if (!program.running())
            std::fprintf(stderr, "AnswerBox: the program has ended\n");
        return false;
    }
    // Qt counts the box as shown before the X server has mapped it.
    QByteArray id;
    WaitFor(
        [&] {
            id = RunOnDesktop("xdotool", {"search", "--onlyvisible", "--name",
                                          "^" + QRegularExpression::escape(title) + "$"})
                     .value_or(QByteArray())
                     .trimmed()
                     .split('\n')
                     .value(0);
            return !id.isEmpty();
        },
        5000);
    if (id.isEmpty())
        return false;
    RunOnDesktop("xdotool", {"windowactivate", "--sync", QString::fromLatin1(id)});
    RunOnDesktop("xdotool", {"key", "Return"});
    return program.gone(title, 5000);
}

QString MainWindowText(RealProgram& program, const QString& name) {
    const auto main = program.main_window();
    const auto widget = main ? Child(*main, name) : std::nullopt;
    return widget ? widget->value("text").toString() : QString();
}

}  // namespace vt::test
