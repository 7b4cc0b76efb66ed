// Pastes 200 lines into the order form page in Chromium, in mode 0 (line by
// line) and mode 1 (one paste), and the same lines by a shell loop of xclip
// and xdotool, the do-it-yourself alternative; then writes them through the
// browser extension (mode 0, each line acknowledged) and 10,000 lines as one
// text (mode 1). Prints the median time per
// line (keystrokes, mode 0), the time per line up to the last answer
// (extension, mode 0), the totals (mode 1), the loop's time per line as a ratio,
// and how many lines arrived exactly once each way. With a Windows build it
// runs the Windows program's keystrokes under Wine too (bench/windows), into
// a form of Windows' own controls, and prints them beside the Linux figures. For mode 0 it also
// breaks a line's time down by the browser's clipboard requests: when they
// begin and end after the paste key, and what follows until the next key.

#include <xcb/xproto.h>

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/delivery/bench_lines.h"
#include "delivery/extension_channel.h"
#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/wine.h"

// Xlib's macros clash with Qt's names: after Qt.
#include "platform/linux/x11_display.h"

namespace {

constexpr int kLines = 200;
const QString kTitle = "Bestellformular Testshop";

// When the browser asked this process for the clipboard, and what for.
class RequestClock final : public QAbstractNativeEventFilter {
  public:
    struct Request {
        qint64 ns;
        bool text;  // the data itself, not the list of formats
    };
    explicit RequestClock(const QElapsedTimer& clock) : clock_(clock) {}
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            const auto* r = static_cast<const xcb_selection_request_event_t*>(message);
            requests.push_back({clock_.nsecsElapsed(), r->target != targets_});
        }
        return false;
    }
    void set_targets_atom(uint32_t atom) { targets_ = atom; }
    std::vector<Request> requests;

  private:
    const QElapsedTimer& clock_;
    uint32_t targets_ = 0;
};

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool OpenForm(vt::test::OrderForm& form) {
    if (!form.open(kTitle))
        return false;
    vt::browserrecord = vt::browserrecordtype{};
    return vt::FindShopWindow(1) && vt::BringShopToFront();
}

// Chromium with the extension on the form, connected to `server`, and the
// form found among its tabs.
bool OpenFormWithExtension(vt::test::OrderForm& form, vt::ExtensionServer& server,
                           vt::ExtensionChannel& channel, const QString& runtime) {
    form.set_browser({vt::test::BrowserSetup::Browser::kChromium, runtime, false});
    if (!form.open(kTitle))
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        vt::test::PumpEvents(100);
        if (!server.connections().empty() && channel.find_window(1))
            return true;
    }
    std::fprintf(stderr, "the extension did not connect or list the form\n");
    return false;
}

#ifdef VT_WINDOWS_BUILD
// bench_win_keys.exe beside the Qt DLLs of the program's folder.
QString WindowsBenchFolder(const QTemporaryDir& folder) {
    using namespace vt::test;
    const QDir dist(QFileInfo(WindowsExecutable(QStringLiteral("VantorTrans"))).path());
    for (const QFileInfo& f : dist.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (f.isDir()) {
            QDir().mkpath(folder.filePath(f.fileName()));
            for (const QFileInfo& g : QDir(f.filePath()).entryInfoList(QDir::Files))
                QFile::copy(g.filePath(), folder.filePath(f.fileName() + "/" + g.fileName()));
        } else if (f.suffix() == QLatin1String("dll")) {
            QFile::copy(f.filePath(), folder.filePath(f.fileName()));
        }
    }
    const QString bench = folder.filePath("bench_win_keys.exe");
    QFile::copy(QStringLiteral(VT_WINDOWS_BUILD "/bench/bench_win_keys.exe"), bench);
    return vt::test::WindowsPath(bench);
}

// The keystrokes in a Wine prefix of their own with the form open; their
// figures, or why there are none.
QByteArray WindowsKeystrokes() {
    using namespace vt::test;
    WinePrefix prefix;
    QString why;
    if (!prefix.init(&why))
        return "windows: " + why.toUtf8() + "\n";
    QTemporaryDir folder;
    const QString bench = WindowsBenchFolder(folder);
    const QString form_tool = WindowsPath(QStringLiteral(VT_WINDOWS_BUILD "/bin/win_form.exe"));
    const QString title = QStringLiteral("Bestellformular - Testform");
    QProcess form;
    form.setProcessEnvironment(prefix.environment(DesktopEnvironment()));
    form.start(QString::fromLatin1(kWine), {form_tool, "form", title});
    const bool shown = WaitFor(
        [&] { return prefix.run({form_tool, "text", title}, 10000).has_value(); }, 60000, 200);
    QByteArray out;
    if (shown) {
        const auto code = prefix.exit_code({bench}, 300000, &out);
        if (code != 0)
            out += "windows: bench_win_keys.exe failed\n";
    } else {
        out = "windows: the form did not show under Wine\n";
    }
    form.kill();
    form.waitForFinished(3000);
    return out;
}

// The extension through the Windows host: Chromium starts it under Wine,
// and bench_win_keys.exe serves the program's pipe in the same prefix.
QByteArray WindowsExtension(const QStringList& lines, const QStringList& big) {
    using namespace vt::test;
    WinePrefix prefix;
    QString why;
    if (!prefix.init(&why))
        return "windows: " + why.toUtf8() + "\n";
    QTemporaryDir folder, runtime;
    const QString bench = WindowsBenchFolder(folder);
    QByteArray out;
    for (int mode : {0, 1}) {
        const QStringList& sent = mode == 0 ? lines : big;
        OrderForm form;
        BrowserSetup setup{BrowserSetup::Browser::kChromium, runtime.path(), false};
        setup.wine_host = &prefix;
        form.set_browser(setup);
        if (!form.open(kTitle))
            return out + "windows: Chromium did not show the form\n";
        QByteArray printed;
        const auto code = prefix.exit_code({bench, "--extension", QString::number(mode)}, 300000,
                                           &printed);
        out += printed;
        if (code != 0)
            out += "windows: bench_win_keys.exe --extension failed\n";
        form.wait_for_field(sent.join(u'\n') + u'\n', 30000);
        bool exact = false;
        const int once = vt::bench::ArrivedOnce(form.settle(500), sent, u'\n', &exact);
        out += QString("windows extension mode %1: %2 of %3 arrived exactly once; field %4\n")
                   .arg(mode)
                   .arg(once)
                   .arg(sent.size())
                   .arg(exact ? "exact" : "NOT exact")
                   .toUtf8();
    }
    return out;
}
#endif

uint32_t TargetsAtom() {
    return static_cast<uint32_t>(vt::x11::atom("TARGETS"));
}

}  // namespace

int main(int argc, char** argv) {
    if (!vt::test::EnsureTestDesktop()) {
        std::fprintf(stderr, "no test desktop\n");
        return 1;
    }
    QApplication app(argc, argv);
    using namespace vt;
    progpar.browser = {0, 0};
    progpar.browsertitle = {"Chromium", "Chromium"};
    progpar.formtitle = {kTitle, kTitle};
    progpar.accesskey = {"", "I"};
    const QStringList lines = vt::bench::Lines(kLines);
    const QString expected = lines.join(u'\n') + u'\n';

    // "--extension": only the extension's part, for a quick look.
    const bool keys = !app.arguments().contains(QStringLiteral("--extension"));

    // Mode 0: each line pasted as it comes.
    double median_ms = 0;
    double total0_ms = 0;
    std::vector<double> first_request, last_text_request, last_request, next_key;
    int once0 = 0;
    bool exact0 = false;
    if (keys) {
        test::OrderForm form;
        if (!OpenForm(form))
            return 1;
        progpar.keysendmode = 0;
        std::vector<double> times;
        std::vector<qint64> keys;  // when each line's paste key went out
        QElapsedTimer clock;
        clock.start();
        RequestClock requests(clock);
        requests.set_targets_atom(TargetsAtom());
        app.installNativeEventFilter(&requests);
        QElapsedTimer t;
        for (const QString& line : lines) {
            t.start();
            FindShopWindow(1);
            DeliverLine(1, line);
            keys.push_back(clock.nsecsElapsed());  // Ctrl+V is the line's last key
            times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        AwaitLastPaste();
        total0_ms = static_cast<double>(clock.nsecsElapsed() - keys.front()) / 1e6;
        app.removeNativeEventFilter(&requests);
        // Each paste's burst of requests lies between its key and the next.
        for (size_t i = 0; i + 1 < keys.size(); ++i) {
            qint64 first = -1, last_text = -1, last = -1;
            for (const RequestClock::Request& r : requests.requests) {
                if (r.ns < keys[i] || r.ns >= keys[i + 1])
                    continue;
                if (first < 0)
                    first = r.ns;
                if (r.text)
                    last_text = r.ns;
                last = r.ns;
            }
            if (first < 0)
                continue;
            // A request after the next text was set answers its own change.
            first_request.push_back(double(first - keys[i]) / 1e6);
            last_text_request.push_back(double(last_text - keys[i]) / 1e6);
            last_request.push_back(double(std::min(last, last_text + 20'000'000) - keys[i]) / 1e6);
            next_key.push_back(double(keys[i + 1] - keys[i]) / 1e6);
        }
        form.wait_for_field(expected, 10000);
        once0 = vt::bench::ArrivedOnce(form.settle(500), lines, u'\n', &exact0);
        std::sort(times.begin(), times.end());
        median_ms = times[times.size() / 2];
    }

    // Mode 1: collected, then one paste.
    double total1_ms = 0;
    int once1 = 0;
    bool exact1 = false;
    if (keys) {
        test::OrderForm form;
        if (!OpenForm(form))
            return 1;
        test::RunOnDesktop("xdotool", {"key", "alt+i"});
        test::PumpEvents(300);
        progpar.keysendmode = 1;
        BatchLines.clear();
        QElapsedTimer t;
        t.start();
        for (const QString& line : lines)
            DeliverLine(1, line);
        PasteBatch();
        total1_ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        form.wait_for_field(expected, 10000);
        once1 = vt::bench::ArrivedOnce(form.settle(500), lines, u'\n', &exact1);
    }

    // The shell loop: xclip takes the clipboard, xdotool sends Ctrl+V.
    double loop_ms = 0;
    int once_loop = 0;
    bool exact_loop = false;
    if (keys) {
        test::OrderForm form;
        if (!OpenForm(form))
            return 1;
        test::RunOnDesktop("xdotool", {"key", "alt+i"});
        test::PumpEvents(300);
        QTemporaryFile file;
        if (!file.open())
            return 1;
        file.write((lines.join(u'\n') + u'\n').toUtf8());
        file.flush();
        const QString script =
            "while IFS= read -r l; do printf '%s\\r' \"$l\" | xclip -selection clipboard -i; "
            "xdotool key ctrl+v; done < " +
            file.fileName();
        QElapsedTimer t;
        t.start();
        test::RunOnDesktop("bash", {"-c", script}, 300000);
        loop_ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        form.wait_for_field(expected, 5000);
        once_loop = vt::bench::ArrivedOnce(form.settle(1000), lines, u'\n', &exact_loop);
    }

    // The browser extension: no clipboard, no keys, each text acknowledged.
    QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    ExtensionServer server(QStringLiteral("VantorTrans"));
    if (!server.listen())
        return 1;
    ExtensionChannel channel(server);
    progpar.browser = {3, 3};
    double ext_median_ms = 0;
    double ext_search_ms = 0;  // the search among the tabs, once a file
    double ext_total0_ms = 0;
    int ext_once0 = 0;
    bool ext_exact0 = false;
    {
        test::OrderForm form;
        if (!OpenFormWithExtension(form, server, channel, runtime.path()))
            return 1;
        progpar.keysendmode = 0;
        std::vector<double> times;
        QElapsedTimer all;
        all.start();
        QElapsedTimer t;
        t.start();
        channel.find_window(1);
        ext_search_ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        // As a download does: a line's answer is awaited by the next line.
        for (const QString& line : lines) {
            t.start();
            if (channel.window_still_there(1))
                channel.deliver_line(1, line);
            times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        channel.await_last_paste();
        ext_total0_ms = static_cast<double>(all.nsecsElapsed()) / 1e6;
        form.wait_for_field(expected, 10000);
        ext_once0 = vt::bench::ArrivedOnce(form.settle(500), lines, u'\n', &ext_exact0);
        ext_median_ms = Median(times);
    }
    constexpr int kBigLines = 10000;
    const QStringList big = vt::bench::Lines(kBigLines);
    double ext_total1_ms = 0;
    int ext_once1 = 0;
    bool ext_exact1 = false;
    {
        test::OrderForm form;
        if (!OpenFormWithExtension(form, server, channel, runtime.path()))
            return 1;
        progpar.keysendmode = 1;
        QElapsedTimer t;
        t.start();
        channel.begin_batch();
        for (const QString& line : big)
            channel.deliver_line(1, line);
        channel.paste_batch();
        ext_total1_ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
        form.wait_for_field(big.join(u'\n') + u'\n', 30000);
        ext_once1 = vt::bench::ArrivedOnce(form.settle(500), big, u'\n', &ext_exact1);
    }

    if (keys) {
        std::printf("lines: %d\n", kLines);
        std::printf("mode 0: median %.1f ms per line; %d of %d arrived exactly once; field %s\n",
                    median_ms, once0, kLines, exact0 ? "exact" : "NOT exact");
        std::printf("mode 0: %.1f ms for all lines (%.1f ms per line)\n", total0_ms,
                    total0_ms / kLines);
        std::printf(
            "mode 0 line from paste key to paste key (medians): browser's first request %.1f ms, "
            "its last text request %.1f ms, its last request %.1f ms, next paste key %.1f ms\n",
            Median(first_request), Median(last_text_request), Median(last_request), Median(next_key));
        std::printf("mode 1: %.1f ms for all lines; %d of %d arrived exactly once; field %s\n",
                    total1_ms, once1, kLines, exact1 ? "exact" : "NOT exact");
        std::printf(
            "xclip+xdotool loop: %.1f ms per line (%.0f ms in all); %d of %d arrived "
            "exactly once; field %s\n",
            loop_ms / kLines, loop_ms, once_loop, kLines, exact_loop ? "exact" : "NOT exact");
        std::printf("loop per line / mode 0 median: %.2f\n", (loop_ms / kLines) / median_ms);
    }
    // Lines go out ahead of their answers, so the time a line holds up the
    // next one says little; what counts is the whole run up to the last answer.
    std::printf(
        "extension mode 0: %.2f ms per line up to the last answer (%.1f ms in all); the median "
        "line held up the next %.2f ms; %d of %d arrived exactly once; field %s\n",
        ext_total0_ms / kLines, ext_total0_ms, ext_median_ms, ext_once0, kLines,
        ext_exact0 ? "exact" : "NOT exact");
    std::printf("extension mode 0: the search among the tabs, once a file: %.2f ms\n",
                ext_search_ms);
    if (keys)
        std::printf("keystrokes mode 0 median / extension mode 0 per line: %.1f\n",
                    median_ms / (ext_total0_ms / kLines));
    std::printf("extension mode 1: %.1f ms for %d lines; %d arrived exactly once; field %s\n",
                ext_total1_ms, kBigLines, ext_once1, ext_exact1 ? "exact" : "NOT exact");
#ifdef VT_WINDOWS_BUILD
    if (keys) {
        std::fputs(WindowsKeystrokes().constData(), stdout);
        std::printf("(linux keystrokes mode 0 above: median %.1f ms per line)\n", median_ms);
    }
    std::fputs(WindowsExtension(lines, big).constData(), stdout);
    std::printf("(linux extension above: mode 0 %.2f ms per line, mode 1 %.1f ms)\n",
                ext_total0_ms / kLines, ext_total1_ms);
#endif
    return 0;
}
