#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

#include "settings/ui_seam.h"

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

SilentDialogs g_dialogs;

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

QString ScratchFolder(const char* name) {
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString base = shm.isDir() && shm.isWritable() ? shm.absoluteFilePath() : QDir::tempPath();
    static QStringList made;
    const QString folder = base + QStringLiteral("/vt-fuzz-%1-%2").arg(QString::fromUtf8(name)).arg(getpid());
    Check(QDir().mkpath(folder), "cannot make the scratch folder");
    if (made.isEmpty()) {
        // A run that ends by its time limit leaves nothing behind; one that
        // crashed keeps the folder for a look at what the input left there.
        std::atexit([] {
            for (const QString& f : made) QDir(f).removeRecursively();
        });
    }
    made << folder;
    return folder;
}

}  // namespace vt::fuzz

// Every target starts with a quiet program: a box would go to standard error
// (and the fuzzer down to the speed of the terminal), a Qt warning as well.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qInstallMessageHandler(vt::fuzz::DropMessage);
    QCoreApplication::setEventDispatcher(new vt::fuzz::NoEvents);
    static QCoreApplication app(*argc, *argv);
    vt::set_dialogs(&vt::fuzz::g_dialogs);
    return 0;
}
