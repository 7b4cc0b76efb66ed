// The real VantorTrans against the OPL-98xx simulator paced at 115200 baud:
//  (a) a 10,000-record CSV file downloaded and exported, against the serial
//      line limit;
//  (b) 500 shop records into the Chromium order form in mode 0 and mode 1,
//      against their floor: the serial time, the fixed 1 s pause before a
//      shop file, and in mode 0 the 70 ms of specified waits a line; and the
//      same in modes 0 and 1 through the browser extension, against the
//      serial time and the 1 s pause, though the extension needs no pause;
//  (c) the CPU the running program uses over 60 s with no scanner attached;
//  (w) with a Windows build: (a) for VantorTrans.exe under Wine beside the
//      Linux program, and the Windows program's start to its mapped window.
// (a) and (b) run with the transfer journal off (JournalDays=0) and then on,
// in the same run, and print what the journal costs.

#include <signal.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/wine.h"

namespace {

using vt::test::PumpEvents;
using vt::test::RunOnDesktop;

constexpr double kBytesPerSecond = 115200.0 / 10.0;
constexpr int kFrameOverhead = 6;  // STX, four trailer characters, ETX

QByteArray Fixed(const QByteArray& s, int width) {
    return s.leftJustified(width, ' ', true);
}

double CpuSeconds(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

class Run {
  public:
    // With `wine`, the Windows build's program in that prefix, whose COM3
    // must already lead to the scanner.
    explicit Run(const QString& ini_extra, const vt::test::WinePrefix* wine = nullptr)
        : wine_(wine) {
        QDir(dir_.path()).mkdir("export");
        ini_extra_ = ini_extra;
    }
    ~Run() {
        if (program_.state() != QProcess::NotRunning) {
            ::kill(pid_t(program_.processId()), SIGTERM);
            if (!program_.waitForFinished(10000))
                program_.kill();
        }
    }
    bool Start(const QString& port_device) {
        QFile ini(dir_.filePath("VantorTrans.ini"));
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        const QString ports =
            wine_ ? QString() : QString("[Ports]\r\nCOM3=%1\r\n").arg(port_device);
        const QString csv = wine_ ? vt::test::WindowsPath(dir_.filePath("export")) + "\\"
                                  : dir_.filePath("export") + "/";
        ini.write(QString("[PORT]\r\nPort=COM3\r\n%1[Directory]\r\nCSV=%2\r\n%3")
                      .arg(ports, csv, ini_extra_)
                      .toUtf8());
        ini.close();
        QProcessEnvironment env = vt::test::DesktopEnvironment();
        env.insert("XDG_RUNTIME_DIR", dir_.path());
        if (wine_) {
            program_.setProcessEnvironment(wine_->environment(env));
            program_.setWorkingDirectory(dir_.path());
            program_.start(QString::fromLatin1(vt::test::kWine),
                           {vt::test::WindowsExecutable("VantorTrans")});
        } else {
            program_.setProcessEnvironment(env);
            program_.setWorkingDirectory(dir_.path());
            program_.start(QStringLiteral(VT_BIN_DIR "/VantorTrans"), {});
        }
        return program_.waitForStarted(5000);
    }
    bool Exported() const {
        return !QDir(dir_.filePath("export")).entryList(QDir::Files).isEmpty();
    }
    qint64 pid() const { return program_.processId(); }
    // The program's XDG_RUNTIME_DIR, where it serves the browser extension.
    QString dir() const { return dir_.path(); }

  private:
    const vt::test::WinePrefix* wine_;
    QTemporaryDir dir_;
    QString ini_extra_;
    QProcess program_;
};

bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
    return vt::test::WaitFor(done, timeout_ms, 2);
}

bool LogHas(const vt::test::OplSim& sim, const QString& prefix) {
    for (const QString& l : sim.log()) {
        if (l.startsWith(prefix))
            return true;
    }
    return false;
}

// Answers the confirmation box with the Return key; the clock starts with
// the key, so the measured time holds the 1 s pause and the whole file.
bool AnswerConfirmation(QElapsedTimer& clock) {
    for (int i = 0; i < 200; ++i) {
        const QByteArray id =
            RunOnDesktop("xdotool", {"search", "--onlyvisible", "--name", "^Bestätigen$"})
                .value_or(QByteArray())
                .trimmed()
                .split('\n')
                .value(0);
        if (!id.isEmpty()) {
            RunOnDesktop("xdotool", {"windowactivate", QString::fromLatin1(id)});
            PumpEvents(100);
            clock.start();
            RunOnDesktop("xdotool", {"key", "Return"});
            return true;
        }
        PumpEvents(100);
    }
    return false;
}

// JournalDays=0 turns the journal off; the default keeps it on.
QString JournalKey(bool journal) {
    return journal ? QString() : QStringLiteral("JournalDays=0\r\n");
}

double CsvDownload(bool journal, const vt::test::WinePrefix* wine = nullptr) {
    constexpr int kRecords = 10000;
    vt::test::OplSim sim(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    QList<QByteArray> lines;
    for (int i = 0; i < kRecords; ++i) {
        lines << Fixed("KST", 12) + ' ' + Fixed("LAGER", 12) + ' ' +
                     Fixed("A" + QByteArray::number(i), 28) + ' ' +
                     QByteArray::number(i % 50 + 1).rightJustified(6, ' ') + " 31.01.2024 14:05:09";
    }
    sim.set_file(2, lines);
    if (!sim.start({"--baud", "115200", "--drop-after-end"}))
        return 0;
    if (wine && !wine->map_com(3, sim.pty_path()))
        return 0;
    Run run(QStringLiteral("[PARAMETER]\r\n") + JournalKey(journal), wine);
    if (!run.Start(sim.pty_path()))
        return 0;
    if (!WaitFor([&] { return LogHas(sim, "RX HMS3"); }, wine ? 60000 : 20000))
        return 0;
    QElapsedTimer t;
    t.start();
    if (!WaitFor([&] { return run.Exported(); }, 120000)) {
        std::printf("(a) no export\n");
        return 0;
    }
    const double seconds = t.elapsed() / 1000.0;
    const double wire = kRecords * (81.0 + kFrameOverhead) / kBytesPerSecond;
    std::printf(
        "(%s) journal %s: %d-record CSV downloaded and exported in %.2f s; line limit %.2f s: "
        "%.1f %%\n",
        wine ? "w" : "a", journal ? "on " : "off", kRecords, seconds, wire,
        100.0 * wire / seconds);
    return seconds;
}

double ShopFile(int mode, bool journal, bool extension = false) {
    constexpr int kRecords = 500;
    const QString title = "Bench Bestellformular";
    Run run(QString("[PARAMETER]\r\nKeysendmode=%1\r\nDelivery=%3\r\n%5[Vantor]\r\n"
                    "Browser=%4\r\nBrowserTitle=Chromium\r\nFormTitle=%2\r\nAccessKey=I\r\n")
                .arg(mode)
                .arg(title)
                .arg(extension ? 1 : 0)
                .arg(extension ? 3 : 0)
                .arg(JournalKey(journal)));
    vt::test::OrderForm form;
    if (extension)
        form.set_browser({vt::test::BrowserSetup::Browser::kChromium, run.dir(), false});
    if (!form.open(title)) {
        std::printf("(b) Chromium did not open\n");
        return 0;
    }
    vt::test::OplSim sim(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    QList<QByteArray> lines;
    QString expected;
    for (int i = 0; i < kRecords; ++i) {
        const QByteArray article = "ART" + QByteArray::number(10000 + i);
        lines << Fixed(article, 28) + ' ' + QByteArray::number(i % 9 + 1).rightJustified(6, ' ');
        expected += QString::fromLatin1(article) + '\t' + QString::number(i % 9 + 1) + '\n';
    }
    sim.set_file(0, lines);
    if (!sim.start({"--baud", "115200", "--drop-after-end"}))
        return 0;
    // The batch is pasted where the cursor is: in the order field.
    RunOnDesktop("xdotool", {"windowactivate", "--sync", QString::number(form.window())});
    RunOnDesktop("xdotool", {"key", "alt+i"});
    if (!run.Start(sim.pty_path()))
        return 0;
    QElapsedTimer t;
    if (!AnswerConfirmation(t)) {
        std::printf("(b) no confirmation box\n");
        return 0;
    }
    const bool arrived = WaitFor([&] { return form.field_text() == expected; }, 300000);
    const double seconds = t.elapsed() / 1000.0;
    if (!arrived) {
        const QStringList want = expected.split('\n', Qt::SkipEmptyParts);
        const QStringList got = form.field_text().split('\n', Qt::SkipEmptyParts);
        qsizetype same = 0;
        while (same < want.size() && same < got.size() && want[same] == got[same])
            ++same;
        std::printf("(b) mode %d: %lld lines in the form, the first %lld as sent; then: %s\n",
                    mode, static_cast<long long>(got.size()), static_cast<long long>(same),
                    qPrintable(got.mid(same, 3).join(" | ")));
    }
    const double wire = kRecords * (35.0 + kFrameOverhead) / kBytesPerSecond;
    const double floor = wire + 1.0 + (mode == 0 && !extension ? kRecords * 0.070 : 0.0);
    std::printf(
        "(b) %sjournal %s, mode %d: %d shop records %s in %.2f s; floor %.2f s (serial %.2f s + 1 s "
        "pause%s): %.2f x\n",
        extension ? "extension, " : "", journal ? "on " : "off", mode, kRecords,
        arrived ? "arrived exactly" : "DID NOT ARRIVE", seconds, floor, wire,
        mode == 0 && !extension ? " + 70 ms a line" : "", seconds / floor);
    return arrived ? seconds : 0;
}

// Off first, then on, in the same run; the journal's share of the time.
void JournalCost(const char* part, const std::function<double(bool)>& measure) {
    const double off = measure(false);
    const double on = measure(true);
    if (off > 0 && on > 0)
        std::printf("%s journal on costs %+.1f %% against off\n", part, 100.0 * (on - off) / off);
}

void Idle() {
    QTemporaryDir none;
    Run run("");
    if (!run.Start(none.filePath("no-such-device")))
        return;
    PumpEvents(3000);
    const double before = CpuSeconds(run.pid());
    PumpEvents(60000);
    const double used = CpuSeconds(run.pid()) - before;
    std::printf("(c) no scanner attached: %.3f CPU seconds in 60 s = %.2f %% of a core\n", used,
                100.0 * used / 60.0);
}

// The Windows program under Wine beside the Linux one, each with the
// journal on, and how long VantorTrans.exe takes to show its window: in a
// fresh prefix (Wine starts its services) and again with the prefix warm.
void UnderWine() {
#ifdef VT_WINDOWS_BUILD
    vt::test::WinePrefix prefix;
    QString why;
    if (!prefix.init(&why)) {
        std::printf("(w) no Wine prefix: %s\n", qPrintable(why));
        return;
    }
    const double linux_seconds = CsvDownload(true);
    const double windows_seconds = CsvDownload(true, &prefix);
    if (linux_seconds > 0 && windows_seconds > 0)
        std::printf("(w) 10,000-record CSV: Windows build under Wine %.2f s, Linux build %.2f s: "
                    "%.2f x\n",
                    windows_seconds, linux_seconds, windows_seconds / linux_seconds);
    for (const char* start : {"cold", "warm"}) {
        if (std::string(start) == "cold")
            prefix.kill_server();
        QTemporaryDir none;
        Run run("", &prefix);
        QElapsedTimer t;
        t.start();
        if (!run.Start(none.filePath("none")))
            return;
        const bool shown = WaitFor(
            [] {
                return !RunOnDesktop("xdotool", {"search", "--onlyvisible", "--name",
                                                 "^VantorTrans  Version 1.18$"})
                            .value_or(QByteArray())
                            .trimmed()
                            .isEmpty();
            },
            60000);
        std::printf("(w) VantorTrans.exe under Wine (%s): window mapped after %s%.2f s\n", start,
                    shown ? "" : "more than ", t.elapsed() / 1000.0);
    }
#else
    std::printf("(w) no Windows build configured (VT_WINDOWS_BUILD)\n");
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (!vt::test::EnsureTestDesktop()) {
        std::fprintf(stderr, "no test desktop\n");
        return 1;
    }
    QApplication app(argc, argv);
    // Parts to run: a, b0, b1, e0, e1, c, w (all when none is named).
    QStringList parts = app.arguments().mid(1);
    if (parts.isEmpty())
        parts = {"a", "b0", "b1", "e0", "e1", "c", "w"};
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (parts.contains("a"))
        JournalCost("(a)", [](bool journal) { return CsvDownload(journal); });
    if (parts.contains("b0"))
        JournalCost("(b) mode 0:", [](bool journal) { return ShopFile(0, journal); });
    if (parts.contains("b1"))
        JournalCost("(b) mode 1:", [](bool journal) { return ShopFile(1, journal); });
    if (parts.contains("e0"))
        ShopFile(0, true, true);
    if (parts.contains("e1"))
        ShopFile(1, true, true);
    if (parts.contains("c"))
        Idle();
    if (parts.contains("w"))
        UnderWine();
    return 0;
}
