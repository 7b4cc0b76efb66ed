// The Windows build's keystroke delivery, run under Wine by bench_delivery:
// 200 lines in mode 0 (each with the access key, one Ctrl+V a line) and the
// same lines in mode 1 (one paste) into a Windows form titled
// "Bestellformular - Testform" whose field takes Alt+A (tests/tools/win_form).
// Prints the median time a line, the totals, and how many lines arrived
// exactly once, read back from the form's edit with WM_GETTEXT.
// With "--extension 0|1" it is the program's end of the browser channel
// instead: 200 lines in mode 0, each acknowledged, or 10,000 lines as one
// text in mode 1, to the order form in the Chromium that bench_delivery
// started with the Windows host; bench_delivery checks what arrived.
#include <windows.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/delivery/bench_lines.h"
#include "delivery/extension_channel.h"
#include "delivery/extension_server.h"
#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "settings/settings.h"
#include "tests/tools/win32_edit.h"

namespace {

constexpr int kLines = 200;
const wchar_t kForm[] = L"Bestellformular - Testform";

QString FieldText(HWND edit) {
    std::wstring text;
    vt::win32::TextOf(edit, &text);
    return QString::fromStdWString(text);
}

// Waits until the field holds `expected` (at most `ms`) and gives what it holds.
QString Settled(HWND edit, const QString& expected, int ms) {
    QElapsedTimer t;
    t.start();
    QString text = FieldText(edit);
    while (text != expected && t.elapsed() < ms) {
        QThread::msleep(50);
        text = FieldText(edit);
    }
    return text;
}


void Clear(HWND edit) {
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""), SMTO_ABORTIFHUNG,
                        5000, nullptr);
}


int Extension(int mode) {
    using namespace vt;
    progpar.browser = {3, 3};
    progpar.formtitle = {QStringLiteral("Bestellformular Testshop"),
                         QStringLiteral("Bestellformular Testshop")};
    progpar.accesskey = {QString(), QStringLiteral("I")};
    ExtensionServer server(QStringLiteral("VantorTrans"));
    QString why;
    if (!server.listen(&why)) {
        std::fprintf(stderr, "win_keys: %s\n", qPrintable(why));
        return 1;
    }
    ExtensionChannel channel(server);
    // The host tries the program's pipe once a second.
    QElapsedTimer wait;
    wait.start();
    bool found = false;
    while (!found && wait.elapsed() < 60000) {
        QCoreApplication::processEvents();
        QThread::msleep(50);
        found = !server.connections().empty() && channel.find_window(1);
    }
    if (!found) {
        std::fprintf(stderr, "win_keys: the extension did not connect or list the form\n");
        return 1;
    }
    QElapsedTimer t;
    if (mode == 0) {
        const QStringList lines = vt::bench::Lines(kLines);
        progpar.keysendmode = 0;
        t.start();
        for (const QString& line : lines) {
            if (channel.window_still_there(1))
                channel.deliver_line(1, line);
        }
        const bool done = channel.await_last_paste();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        std::printf("windows extension mode 0: %.2f ms per line up to the last answer (%.1f ms "
                    "in all)%s\n",
                    ms / kLines, ms, done ? "" : "; the last line was NOT acknowledged");
    } else {
        const QStringList big = vt::bench::Lines(10000);
        progpar.keysendmode = 1;
        t.start();
        channel.begin_batch();
        for (const QString& line : big)
            channel.deliver_line(1, line);
        const bool done = channel.paste_batch();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        std::printf("windows extension mode 1: %.1f ms for 10000 lines%s\n", ms,
                    done ? "" : "; NOT acknowledged");
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    using namespace vt;
    if (argc == 3 && std::strcmp(argv[1], "--extension") == 0)
        return Extension(std::atoi(argv[2]));
    progpar.browser = {0, 0};
    progpar.browsertitle = {QStringLiteral("Testform"), QString()};
    progpar.formtitle = {QStringLiteral("Bestellformular"), QString()};
    progpar.accesskey = {QStringLiteral("A"), QString()};
    const QStringList lines = vt::bench::Lines(kLines);
    const QString expected = lines.join(u'\r') + u'\r';

    const HWND edit = vt::win32::EditOf(kForm);
    if (!edit || !FindShopWindow(0)) {
        std::fprintf(stderr, "win_keys: no form window\n");
        return 1;
    }

    progpar.keysendmode = 0;
    std::vector<double> times;
    QElapsedTimer all, t;
    all.start();
    for (const QString& line : lines) {
        t.start();
        FindShopWindow(0);
        DeliverLine(0, line);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    AwaitLastPaste();
    const double total0 = double(all.nsecsElapsed()) / 1e6;
    bool exact0 = false;
    const int once0 = vt::bench::ArrivedOnce(Settled(edit, expected, 10000), lines, u'\r', &exact0);
    std::sort(times.begin(), times.end());

    Clear(edit);
    progpar.keysendmode = 1;
    BatchLines.clear();
    all.start();
    FindShopWindow(0);
    for (const QString& line : lines)
        DeliverLine(0, line);
    PasteBatch();
    AwaitLastPaste();
    const double total1 = double(all.nsecsElapsed()) / 1e6;
    bool exact1 = false;
    const int once1 = vt::bench::ArrivedOnce(Settled(edit, expected, 10000), lines, u'\r', &exact1);

    std::printf("windows mode 0: median %.1f ms per line; %.1f ms for all lines (%.1f ms per "
                "line); %d of %d arrived exactly once; field %s\n",
                times[times.size() / 2], total0, total0 / kLines, once0, kLines,
                exact0 ? "exact" : "NOT exact");
    std::printf("windows mode 1: %.1f ms for all lines; %d of %d arrived exactly once; field %s\n",
                total1, once1, kLines, exact1 ? "exact" : "NOT exact");
    std::fflush(stdout);
    return exact0 && exact1 ? 0 : 1;
}
