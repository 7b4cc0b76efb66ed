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

#include "delivery/extension_channel.h"
#include "delivery/extension_server.h"
#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "settings/settings.h"

namespace {

constexpr int kLines = 200;
const wchar_t kForm[] = L"Bestellformular - Testform";

BOOL CALLBACK FirstEdit(HWND w, LPARAM out) {
    wchar_t cls[32] = {};
    GetClassNameW(w, cls, 32);
    if (_wcsicmp(cls, L"Edit") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(out) = w;
    return FALSE;
}

HWND FormEdit() {
    const HWND top = FindWindowW(nullptr, kForm);
    HWND edit = nullptr;
    if (top)
        EnumChildWindows(top, FirstEdit, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

QString FieldText(HWND edit) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::wstring text(size_t(length) + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(edit, WM_GETTEXT, WPARAM(text.size()),
                        reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000, &got);
    return QString::fromWCharArray(text.data(), int(got));
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

int ArrivedOnce(const QString& field, const QStringList& lines, bool* exact) {
    const QStringList got = field.split(u'\r', Qt::SkipEmptyParts);
    *exact = got == lines;
    int once = 0;
    for (const QString& line : lines)
        once += got.count(line) == 1 ? 1 : 0;
    return once;
}

void Clear(HWND edit) {
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""), SMTO_ABORTIFHUNG,
                        5000, nullptr);
}

QStringList Lines(int n) {
    QStringList lines;
    for (int i = 1; i <= n; ++i)
        lines << QString("ART%1\t%2").arg(i, 5, 10, QChar(u'0')).arg(i % 9 + 1);
    return lines;
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
        const QStringList lines = Lines(kLines);
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
        const QStringList big = Lines(10000);
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
    const QStringList lines = Lines(kLines);
    const QString expected = lines.join(u'\r') + u'\r';

    const HWND edit = FormEdit();
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
    const int once0 = ArrivedOnce(Settled(edit, expected, 10000), lines, &exact0);
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
    const int once1 = ArrivedOnce(Settled(edit, expected, 10000), lines, &exact1);

    std::printf("windows mode 0: median %.1f ms per line; %.1f ms for all lines (%.1f ms per "
                "line); %d of %d arrived exactly once; field %s\n",
                times[times.size() / 2], total0, total0 / kLines, once0, kLines,
                exact0 ? "exact" : "NOT exact");
    std::printf("windows mode 1: %.1f ms for all lines; %d of %d arrived exactly once; field %s\n",
                total1, once1, kLines, exact1 ? "exact" : "NOT exact");
    std::fflush(stdout);
    return exact0 && exact1 ? 0 : 1;
}
