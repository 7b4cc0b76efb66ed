#include "fuzz/fuzz_support.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

#include "app/ui_seam.h"

namespace vt::fuzz {
namespace {

class SilentDialogs final : public Dialogs {
  public:
    void beep() override {}
    BoxResult message_box(const QString&, const QString&, BoxIcon, BoxButtons buttons) override {
        ++boxes;
        return buttons == BoxButtons::YesNo ? BoxResult::Yes : BoxResult::Ok;
    }
    int boxes = 0;
};

class SilentDisplay final : public Display {
  public:
    void log_line(const QString&) override {}
    void status_clear() override {}
    void status_line(const QString&) override {}
    void status_bar(const QString& text) override { bar_ = text; }
    QString status_bar_text() const override { return bar_; }
    void toggle_activity() override {}
    void update_tray(bool, const QString&) override {}

  private:
    QString bar_;
};

SilentDialogs g_dialogs;
SilentDisplay g_display;

void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// The port waits pump events twice for every byte they read; a real event
// loop makes a system call each time, which would cap the scanner targets at
// a few hundred inputs a second. No event ever arrives in a fuzz run.
class NoEvents final : public QAbstractEventDispatcher {
  public:
    bool processEvents(QEventLoop::ProcessEventsFlags) override { return false; }
    void registerSocketNotifier(QSocketNotifier*) override {}
    void unregisterSocketNotifier(QSocketNotifier*) override {}
    void registerTimer(int, qint64, Qt::TimerType, QObject*) override {}
    bool unregisterTimer(int) override { return false; }
    bool unregisterTimers(QObject*) override { return false; }
    QList<TimerInfo> registeredTimers(QObject*) const override { return {}; }
    int remainingTime(int) override { return -1; }
    void wakeUp() override {}
    void interrupt() override {}
};

}  // namespace

void InitQuietProgram(int* argc, char*** argv) {
    qInstallMessageHandler(DropMessage);
    QCoreApplication::setEventDispatcher(new NoEvents);
    static QCoreApplication app(*argc, *argv);
    set_dialogs(&g_dialogs);
    set_display(&g_display);
}

int TakeBoxCount() {
    const int n = g_dialogs.boxes;
    g_dialogs.boxes = 0;
    return n;
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

QString ScratchBase() {
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable()) return shm.absoluteFilePath();
    return QDir::tempPath();
}

}  // namespace vt::fuzz
