// The soak run: the real VantorTrans under a private X11 desktop, a
// simulated OPL-98xx scanner that keeps filling itself with new files and
// faults its exchanges at random (silence, NAK, broken frames, gaps,
// hang-ups with a reconnect), and two Chromium order forms. It runs for the
// given minutes, then checks that every file the scanner handed over arrived
// exactly once (exported or typed into its form), that nothing else arrived,
// that the program kept polling and did not crash, and that its memory did
// not grow.
//
//   vt_soak [--minutes N] [--faults P] [--seed N] [--keep]

#include <signal.h>
#include <sys/types.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <optional>

#include "platform/window_system.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/temp_files.h"

namespace {

using vt::test::PumpEvents;

constexpr int kWarmUpMs = 60'000;                 // memory is measured from here on
constexpr int kMaxPollSilenceMs = 30'000;         // longer without a poll: stopped
constexpr int64_t kMaxGrowthKiB = 5 * 1024;       // resident memory growth allowed
const QString kShopTitle = QStringLiteral("Soak-Shop Bestellformular");
const QString kSimpleTitle = QStringLiteral("Simple System Soak");

struct Options {
    double minutes = 30;
    double faults = 0.03;
    long seed = 1;
    bool keep = false;
};

std::optional<Options> ParseOptions(const QStringList& args) {
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--keep") {
            o.keep = true;
            continue;
        }
        if (i + 1 >= args.size())
            return std::nullopt;
        bool ok = false;
        const QString v = args[++i];
        if (a == "--minutes")
            o.minutes = v.toDouble(&ok), ok = ok && o.minutes > 0;
        else if (a == "--faults")
            o.faults = v.toDouble(&ok), ok = ok && o.faults >= 0 && o.faults <= 1;
        else if (a == "--seed")
            o.seed = v.toLong(&ok), ok = ok && o.seed >= 0;
        if (!ok)
            return std::nullopt;
    }
    return o;
}

int64_t ResidentKiB(qint64 pid) {
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// "S<file>L<line>" in whatever text the lines reached.
QMap<QString, int> CountTokens(const QString& text) {
    static const QRegularExpression token(QStringLiteral("S\\d+L\\d+"));
    QMap<QString, int> counts;
    for (auto it = token.globalMatch(text); it.hasNext();)
        ++counts[it.next().captured(0)];
    return counts;
}

QString FolderText(const QString& dir, int* files) {
    QString all;
    *files = 0;
    for (QDirIterator it(dir, QDir::Files | QDir::Hidden); it.hasNext();) {
        all += QString::fromLatin1(vt::test::read_file(it.next()));
        ++*files;
    }
    return all;
}

// Counts the polls in the scanner's log, reading only what was added.
class PollCounter {
  public:
    explicit PollCounter(QString path) : file_(std::move(path)) {}
    int polls() {
        if (!file_.isOpen() && !file_.open(QIODevice::ReadOnly))
            return polls_;
        rest_ += file_.readAll();
        qsizetype end;
        while ((end = rest_.indexOf('\n')) >= 0) {
            if (rest_.left(end).contains(" RX HMS0"))
                ++polls_;
            rest_.remove(0, end + 1);
        }
        return polls_;
    }

  private:
    QFile file_;
    QByteArray rest_;
    int polls_ = 0;
};

struct OfferedFile {
    int entry = 0;
    int lines = 0;
    bool delivered = false;
    bool held = false;
};

// The confirmation box before a brand-shop transfer is answered as a user
// would: activate it, press Return.
void AnswerConfirmation(qint64 program_pid, int* answered) {
    for (const vt::TopLevelWindow& w : vt::window_system().top_level_windows()) {
        if (w.title != QStringLiteral("Bestätigen") || w.processid != program_pid || !w.visible)
            continue;
        if (vt::window_system().activate(w.handle, 2000) &&
            vt::test::RunOnDesktop("xdotool", {"key", "Return"}, 5000))
            ++*answered;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!vt::test::EnsureTestDesktop()) {
        std::fprintf(stderr, "soak: no test desktop (Xvfb, openbox)\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::optional<Options> opt = ParseOptions(app.arguments());
    if (!opt) {
        std::fprintf(stderr, "usage: vt_soak [--minutes N] [--faults P] [--seed N] [--keep]\n");
        return 2;
    }
    QTemporaryDir work;
    work.setAutoRemove(!opt->keep);
    QTemporaryDir runtime;
    const QString dir = work.path();
    QDir(dir).mkpath("csv");
    QDir(dir).mkpath("ugs");
    std::printf("soak: %g minutes, fault probability %g, seed %ld, folder %s\n", opt->minutes,
                opt->faults, opt->seed, qPrintable(dir));

    vt::test::OrderForm shop, simple;
    if (!shop.open(kShopTitle) || !simple.open(kSimpleTitle)) {
        std::fprintf(stderr, "soak: Chromium did not show the order forms\n");
        return 2;
    }

    const QString link = dir + "/scanner";
    vt::test::OplSim sim(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    if (!sim.start({"--generate", "--random-faults", QString::number(opt->faults), "--seed",
                    QString::number(opt->seed), "--link", link, "--reconnect-ms", "1500",
                    "--gap-ms", "2500"})) {
        std::fprintf(stderr, "soak: the scanner simulator did not start\n");
        return 2;
    }

    vt::test::write_file(
        dir + "/VantorTrans.ini",
        QString("[PORT]\r\nPort=COM7\r\nBaud=115200\r\nDevice=0\r\n[Ports]\r\nCOM7=%1\r\n"
                "[Browser]\r\nActiveBrowser=0\r\n"
                "[Vantor]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\nFormTitle=%2\r\nAccessKey=I\r\n"
                "[Simple System]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\nFormTitle=%3\r\n"
                "[Directory]\r\nCSV=%4/csv/\r\nUGS=%4/ugs/\r\n")
            .arg(link, kShopTitle, kSimpleTitle, dir)
            .toUtf8());
    QProcess program;
    QProcessEnvironment env = vt::test::DesktopEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(dir);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(VT_BIN_DIR "/VantorTrans"), {});
    if (!program.waitForStarted(5000)) {
        std::fprintf(stderr, "soak: VantorTrans did not start\n");
        return 2;
    }
    const qint64 pid = program.processId();

    QStringList failures;
    QElapsedTimer clock, since_poll, since_report;
    clock.start();
    since_poll.start();
    since_report.start();
    const qint64 end_ms = qint64(opt->minutes * 60'000);
    int64_t rss_start = -1, rss_end = -1, rss_peak = -1;
    int polls = 0, answered = 0;
    PollCounter poll_counter(sim.log_path());
    while (clock.elapsed() < end_ms) {
        PumpEvents(250);
        if (program.state() != QProcess::Running) {
            failures << QString("VantorTrans ended during the run (exit code %1)").arg(program.exitCode());
            break;
        }
        AnswerConfirmation(pid, &answered);
        const int now_polls = poll_counter.polls();
        if (now_polls != polls) {
            polls = now_polls;
            since_poll.restart();
        } else if (since_poll.elapsed() > kMaxPollSilenceMs) {
            failures << QString("no poll for %1 s at minute %2")
                            .arg(since_poll.elapsed() / 1000)
                            .arg(clock.elapsed() / 60000.0, 0, 'f', 1);
            break;
        }
        const int64_t rss = ResidentKiB(pid);
        if (clock.elapsed() >= kWarmUpMs && rss_start < 0)
            rss_start = rss;
        if (rss > 0) {
            rss_end = rss;
            rss_peak = std::max(rss_peak, rss);
        }
        if (since_report.elapsed() >= 60'000) {
            since_report.restart();
            std::printf("soak: minute %.0f: %d polls, RSS %lld KiB\n",
                        clock.elapsed() / 60000.0, polls, static_cast<long long>(rss));
            std::fflush(stdout);
        }
    }
    if (rss_start < 0)
        rss_start = rss_end;

    // An orderly end: the program saves its settings and exits with 0; the
    // scanner tells what it still holds.
    const bool was_running = program.state() == QProcess::Running;
    if (was_running) {
        ::kill(pid_t(pid), SIGTERM);
        if (!program.waitForFinished(15000)) {
            failures << "VantorTrans did not end within 15 s of SIGTERM";
            program.kill();
            program.waitForFinished(5000);
        } else if (program.exitStatus() != QProcess::NormalExit || program.exitCode() != 0) {
            failures << QString("VantorTrans ended with exit code %1").arg(program.exitCode());
        }
    }
    sim.stop();
    PumpEvents(1000);  // the forms' last reports

    QMap<long, OfferedFile> offered;
    QMap<QString, int> faults;
    int reconnects = 0;
    for (const QString& line : sim.log()) {
        const QStringList w = line.split(' ');
        if (w.value(0) == "OFFER" && w.size() == 4)
            offered[w[1].toLong()] = {w[2].toInt(), w[3].toInt(), false, false};
        else if (w.value(0) == "DELIVERED" && w.size() == 3)
            offered[w[1].toLong()].delivered = true;
        else if (w.value(0) == "HELD" && w.size() == 3)
            offered[w[1].toLong()].held = true;
        else if (w.value(0) == "FAULT" && w.size() >= 2 && w[1] != "gap" && w[1] != "endless")
            ++faults[w[1]];
        else if (line.startsWith("FAULT gap ") && w.size() == 4)
            ++faults["gap"];
        else if (w.value(0) == "RECONNECT")
            ++reconnects;
    }

    int csv_files = 0, ugs_files = 0;
    const QMap<QString, int> place_counts[4] = {
        CountTokens(shop.field_text() + '\n' + shop.search_text()),
        CountTokens(simple.field_text() + '\n' + simple.search_text()),
        CountTokens(FolderText(dir + "/csv", &csv_files)),
        CountTokens(FolderText(dir + "/ugs", &ugs_files))};
    static const char* const kPlace[4] = {"the brand shop's form", "the Simple System form",
                                          "the CSV exports", "the UGS exports"};

    int delivered = 0, held = 0;
    int64_t lines_pasted = 0, lines_exported = 0;
    QMap<QString, bool> known;
    for (auto it = offered.cbegin(); it != offered.cend(); ++it) {
        const OfferedFile& f = it.value();
        if (f.entry < 0 || f.entry > 3) {
            failures << QString("file %1: no entry").arg(it.key());
            continue;
        }
        if (f.delivered)
            ++delivered;
        if (f.held)
            ++held;
        if (f.delivered == f.held)
            failures << QString("file %1 is %2").arg(it.key()).arg(
                f.delivered ? "both delivered and still held" : "neither delivered nor held");
        for (int n = 1; n <= f.lines; ++n) {
            const QString token = QString("S%1L%2").arg(it.key()).arg(n);
            known[token] = true;
            for (int place = 0; place < 4; ++place) {
                const int count = place_counts[place].value(token);
                const int expected = place == f.entry && f.delivered ? 1 : 0;
                if (count != expected)
                    failures << QString("%1 is in %2 %3 times, expected %4")
                                    .arg(token, kPlace[place]).arg(count).arg(expected);
                (place <= 1 ? lines_pasted : lines_exported) += count;
            }
        }
    }
    for (const auto& counts : place_counts) {
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (!known.contains(it.key()))
                failures << QString("%1 arrived but was never offered").arg(it.key());
        }
    }
    if (rss_end - rss_start > kMaxGrowthKiB)
        failures << QString("resident memory grew by %1 KiB").arg(rss_end - rss_start);
    if (delivered == 0)
        failures << "no file was delivered at all";

    QStringList fault_list;
    for (auto it = faults.cbegin(); it != faults.cend(); ++it)
        fault_list << QString("%1 %2").arg(it.key()).arg(it.value());
    std::printf(
        "soak: ran %.1f minutes\n"
        "soak: cycles (polls) %d, files offered %lld, exported/pasted %d (CSV files %d, UGS "
        "files %d), still held %d\n"
        "soak: lines pasted %lld, lines exported %lld, confirmations answered %d\n"
        "soak: faults injected: %s; reconnects %d\n"
        "soak: VantorTrans resident memory: %lld KiB after the first minute, %lld KiB at the "
        "end (peak %lld KiB)\n",
        clock.elapsed() / 60000.0, polls, static_cast<long long>(offered.size()), delivered,
        csv_files, ugs_files, held, static_cast<long long>(lines_pasted),
        static_cast<long long>(lines_exported), answered,
        qPrintable(fault_list.join(", ")), reconnects, static_cast<long long>(rss_start),
        static_cast<long long>(rss_end), static_cast<long long>(rss_peak));
    if (failures.isEmpty()) {
        std::printf("soak: PASSED\n");
        return 0;
    }
    work.setAutoRemove(false);
    QFile::copy(sim.log_path(), dir + "/scanner.log");
    for (const QString& f : failures.mid(0, 40))
        std::printf("soak: FAILED: %s\n", qPrintable(f));
    if (failures.size() > 40)
        std::printf("soak: ... and %lld more\n", static_cast<long long>(failures.size() - 40));
    std::printf("soak: folder kept: %s (with the scanner's log)\n", qPrintable(dir));
    return 1;
}
