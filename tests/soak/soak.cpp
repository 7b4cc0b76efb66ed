// The soak run: the real VantorTrans under a private X11 desktop, a
// simulated OPL-98xx scanner that keeps filling itself with new files and
// faults its exchanges at random (silence, NAK, broken frames, gaps,
// hang-ups with a reconnect), and two Chromium order forms. It runs for the
// given minutes, then checks that every file the scanner handed over arrived
// exactly once (exported or typed into its form), that nothing else arrived,
// that the program kept polling and did not crash, and that its memory did
// not grow.
//
// With --channel extension the lines go through the browser extension
// instead of keystrokes, and the browser side faults too, every S seconds
// on average (--browser-faults S, 0 for none): the native host killed, a
// form reloaded, a form's tab closed and the form opened in a new one, a
// browser ended and started again. Every page shown is a form of its own
// (a reload empties it): a line may be in it once at most, and a delivered
// file is whole in the last form that got any of its lines.
//
//   vt_soak [--minutes N] [--faults P] [--seed N] [--keep]
//           [--channel keys|extension] [--browser-faults S]

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
#include <QRandomGenerator>
#include <cstdio>
#include <map>
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
    bool extension = false;
    double browser_fault_s = 20;
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
        else if (a == "--channel")
            o.extension = v == "extension", ok = v == "extension" || v == "keys";
        else if (a == "--browser-faults")
            o.browser_fault_s = v.toDouble(&ok), ok = ok && o.browser_fault_s >= 0;
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

// The browser side's faults, one at a time at random.
class BrowserFaults {
  public:
    BrowserFaults(vt::test::OrderForm* forms[2], const QString titles[2], QString runtime_dir, long seed)
        : forms_{forms[0], forms[1]}, titles_{titles[0], titles[1]},
          runtime_dir_(std::move(runtime_dir)), random_(quint32(seed) * 7919u + 1u) {}

    // Called every `step_ms`; injects a fault every `mean_s` on average.
    // False when the browser did not come back.
    bool maybe(int step_ms, double mean_s, QStringList* failures) {
        if (mean_s <= 0 || random_.generateDouble() >= step_ms / (mean_s * 1000.0))
            return true;
        const int form = int(random_.bounded(2));
        switch (random_.bounded(4)) {
            case 0: {
                const std::vector<pid_t> hosts = vt::test::NativeHostsOf(runtime_dir_);
                if (hosts.empty())
                    return true;
                ::kill(hosts[random_.bounded(quint32(hosts.size()))], SIGKILL);
                ++counts_["host killed"];
                return true;
            }
            case 1:
                ++counts_["form reloaded"];
                return check(forms_[form]->reload(), "a form did not load again", failures);
            case 2:
                ++counts_["tab closed and opened again"];
                return check(forms_[form]->reopen_tab(), "a form did not open in a new tab", failures);
            default:
                ++counts_["browser ended and started again"];
                forms_[form]->close();
                return check(forms_[form]->open(titles_[form]), "a browser did not start again", failures);
        }
    }
    QString summary() const {
        QStringList parts;
        for (const auto& [kind, count] : counts_)
            parts << QString("%1 %2").arg(kind).arg(count);
        return parts.isEmpty() ? QStringLiteral("none") : parts.join(", ");
    }

  private:
    static bool check(bool ok, const char* what, QStringList* failures) {
        if (!ok)
            *failures << QString::fromLatin1(what);
        return ok;
    }
    vt::test::OrderForm* forms_[2];
    QString titles_[2];
    QString runtime_dir_;
    QRandomGenerator random_;
    std::map<QString, int> counts_;
};

// The resident memory of every native host seen, from the end of its warm-up
// (its first half minute) to its last sample.
struct HostMemory {
    static constexpr qint64 kWarmUpMs = 30'000;
    struct Host {
        qint64 seen_ms = 0, last_ms = 0;
        int64_t base = -1, last = -1;
    };
    std::map<pid_t, Host> hosts;
    void sample(const QString& runtime_dir, qint64 now_ms) {
        for (const pid_t pid : vt::test::NativeHostsOf(runtime_dir)) {
            const int64_t rss = ResidentKiB(pid);
            if (rss <= 0)
                continue;
            Host& h = hosts.try_emplace(pid, Host{now_ms}).first->second;
            if (h.base < 0 && now_ms - h.seen_ms >= kWarmUpMs)
                h.base = rss;
            h.last = rss;
            h.last_ms = now_ms;
        }
    }
    int64_t largest_growth() const {
        int64_t growth = 0;
        for (const auto& [pid, h] : hosts) {
            if (h.base >= 0)
                growth = std::max(growth, h.last - h.base);
        }
        return growth;
    }
    int64_t peak() const {
        int64_t peak = 0;
        for (const auto& [pid, h] : hosts)
            peak = std::max(peak, h.last);
        return peak;
    }
    // How long the longest-lived host was measured after its warm-up.
    qint64 longest_ms() const {
        qint64 longest = 0;
        for (const auto& [pid, h] : hosts) {
            if (h.base >= 0)
                longest = std::max(longest, h.last_ms - h.seen_ms - kWarmUpMs);
        }
        return longest;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (!vt::test::EnsureTestDesktop()) {
        std::fprintf(stderr, "soak: no test desktop (Xvfb, openbox)\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::optional<Options> opt = ParseOptions(app.arguments());
    if (!opt) {
        std::fprintf(stderr,
                     "usage: vt_soak [--minutes N] [--faults P] [--seed N] [--keep] "
                     "[--channel keys|extension] [--browser-faults S]\n");
        return 2;
    }
    QTemporaryDir work;
    work.setAutoRemove(!opt->keep);
    QTemporaryDir runtime;
    const QString dir = work.path();
    QDir(dir).mkpath("csv");
    QDir(dir).mkpath("ugs");
    std::printf("soak: %g minutes, fault probability %g, seed %ld, channel %s, folder %s\n",
                opt->minutes, opt->faults, opt->seed, opt->extension ? "extension" : "keys",
                qPrintable(dir));
    if (opt->extension)
        std::printf("soak: a browser fault every %g s on average\n", opt->browser_fault_s);

    vt::test::OrderForm shop, simple;
    if (opt->extension) {
        vt::test::BrowserSetup setup{vt::test::BrowserSetup::Browser::kChromium, runtime.path()};
        setup.remote_control = true;
        shop.set_browser(setup);
        simple.set_browser(setup);
    }
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

    // Through the extension both shops are tabs in Chromium; as keystrokes
    // both are Chromium windows found by their titles.
    const QString browser = opt->extension ? QStringLiteral("Browser=3\r\n")
                                           : QStringLiteral("Browser=0\r\nBrowserTitle=Chromium\r\n");
    vt::test::write_file(
        dir + "/VantorTrans.ini",
        QString("[PORT]\r\nPort=COM7\r\nBaud=115200\r\nDevice=0\r\n[Ports]\r\nCOM7=%1\r\n"
                "[PARAMETER]\r\nDelivery=%5\r\n[Browser]\r\nActiveBrowser=0\r\n"
                "[Vantor]\r\n%6FormTitle=%2\r\nAccessKey=I\r\n"
                "[Simple System]\r\n%6FormTitle=%3\r\n"
                "[Directory]\r\nCSV=%4/csv/\r\nUGS=%4/ugs/\r\n")
            .arg(link, kShopTitle, kSimpleTitle, dir)
            .arg(opt->extension ? 1 : 0)
            .arg(browser)
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
    vt::test::OrderForm* forms[2] = {&shop, &simple};
    const QString titles[2] = {kShopTitle, kSimpleTitle};
    BrowserFaults browser_faults(forms, titles, runtime.path(), opt->seed);
    HostMemory hosts;
    while (clock.elapsed() < end_ms) {
        PumpEvents(250);
        if (opt->extension) {
            if (clock.elapsed() >= kWarmUpMs / 2 &&
                !browser_faults.maybe(250, opt->browser_fault_s, &failures))
                break;
            hosts.sample(runtime.path(), clock.elapsed());
        }
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
    // Each shop's forms in the order they were shown; as keystrokes there
    // is one window for each.
    QList<QMap<QString, int>> received[2];
    for (int place = 0; place < 2; ++place) {
        if (opt->extension) {
            for (const QString& text : forms[place]->page_texts())
                received[place] << CountTokens(text);
        } else {
            received[place] << CountTokens(forms[place]->field_text() + '\n' + forms[place]->search_text());
        }
    }
    QMap<QString, int> place_counts[4] = {{}, {}, CountTokens(FolderText(dir + "/csv", &csv_files)),
                                          CountTokens(FolderText(dir + "/ugs", &ugs_files))};
    for (int place = 0; place < 2; ++place) {
        for (const QMap<QString, int>& form : received[place]) {
            for (auto it = form.cbegin(); it != form.cend(); ++it)
                place_counts[place][it.key()] += it.value();
        }
    }
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
        // The form that holds the file: the last one that got any of its
        // lines. Earlier pages may hold a beginning of it (a form gone or
        // reloaded mid-file); a page never holds a line twice.
        int holder = -1;
        if (f.entry <= 1) {
            const auto& shown = received[f.entry];
            for (int k = int(shown.size()) - 1; k >= 0 && holder < 0; --k) {
                for (int n = 1; n <= f.lines && holder < 0; ++n) {
                    if (shown[k].contains(QString("S%1L%2").arg(it.key()).arg(n)))
                        holder = k;
                }
            }
        }
        for (int n = 1; n <= f.lines; ++n) {
            const QString token = QString("S%1L%2").arg(it.key()).arg(n);
            known[token] = true;
            for (int place = 0; place < 4; ++place) {
                const int count = place_counts[place].value(token);
                (place <= 1 ? lines_pasted : lines_exported) += count;
                if (place <= 1 && place == f.entry && opt->extension) {
                    for (int k = 0; k < received[place].size(); ++k) {
                        const int in_form = received[place][k].value(token);
                        const int expected = k == holder && f.delivered ? 1 : 0;
                        // A file the scanner still holds may have its
                        // beginning in the form: the next cycle sends the rest.
                        if (in_form > 1 || (f.delivered && k == holder && in_form != expected))
                            failures << QString("%1 is in %2 (form %3 of %4) %5 times, expected %6")
                                            .arg(token, kPlace[place]).arg(k + 1)
                                            .arg(received[place].size()).arg(in_form).arg(expected);
                    }
                    if (f.delivered && holder < 0)
                        failures << QString("%1 is in no form of %2").arg(token, kPlace[place]);
                    continue;
                }
                const int expected = place == f.entry && f.delivered ? 1 : 0;
                if (count != expected)
                    failures << QString("%1 is in %2 %3 times, expected %4")
                                    .arg(token, kPlace[place]).arg(count).arg(expected);
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
    if (hosts.largest_growth() > kMaxGrowthKiB)
        failures << QString("a native host's resident memory grew by %1 KiB").arg(hosts.largest_growth());
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
    if (opt->extension) {
        std::printf("soak: browser faults: %s\n", qPrintable(browser_faults.summary()));
        std::printf("soak: forms shown: brand shop %lld, Simple System %lld\n",
                    static_cast<long long>(received[0].size()), static_cast<long long>(received[1].size()));
        std::printf("soak: native hosts seen %lld, largest growth of one after its first half "
                    "minute %lld KiB, peak %lld KiB (the longest-lived measured over %.1f minutes)\n",
                    static_cast<long long>(hosts.hosts.size()),
                    static_cast<long long>(hosts.largest_growth()),
                    static_cast<long long>(hosts.peak()), hosts.longest_ms() / 60000.0);
    }
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
