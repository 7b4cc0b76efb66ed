// Pastes 200 lines into the order form page in Chromium, in mode 0 (line by
// line) and mode 1 (one paste), and the same lines by a shell loop of xclip
// and xdotool, the do-it-yourself alternative. Prints the median time per
// line (mode 0), the total (mode 1), the loop's time per line as a ratio,
// and how many lines arrived exactly once each way.

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"

namespace {

constexpr int kLines = 200;
const QString kTitle = "Bestellformular Testshop";

QStringList Lines() {
    QStringList lines;
    for (int i = 1; i <= kLines; ++i) {
        lines << QString("ART%1\t%2").arg(i, 5, 10, QChar(u'0')).arg(i % 9 + 1);
    }
    return lines;
}

// Lines of `lines` found exactly once in the field, and whether the field
// holds them all in order and nothing else.
int ArrivedOnce(const QString& field, const QStringList& lines, bool* exact) {
    const QStringList got = field.split(u'\n', Qt::SkipEmptyParts);
    *exact = got == lines;
    int once = 0;
    for (const QString& line : lines)
        once += got.count(line) == 1 ? 1 : 0;
    return once;
}

bool OpenForm(vt::test::OrderForm& form) {
    if (!form.open(kTitle))
        return false;
    vt::browserrecord = vt::browserrecordtype{};
    return vt::FindShopWindow(1) && vt::BringShopToFront();
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
    const QStringList lines = Lines();
    const QString expected = lines.join(u'\n') + u'\n';

    // Mode 0: each line pasted as it comes.
    double median_ms = 0;
    int once0 = 0;
    bool exact0 = false;
    {
        test::OrderForm form;
        if (!OpenForm(form))
            return 1;
        progpar.keysendmode = 0;
        std::vector<double> times;
        QElapsedTimer t;
        for (const QString& line : lines) {
            t.start();
            FindShopWindow(1);
            DeliverLine(1, line);
            times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        form.wait_for_field(expected, 10000);
        once0 = ArrivedOnce(form.settle(500), lines, &exact0);
        std::sort(times.begin(), times.end());
        median_ms = times[times.size() / 2];
    }

    // Mode 1: collected, then one paste.
    double total1_ms = 0;
    int once1 = 0;
    bool exact1 = false;
    {
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
        once1 = ArrivedOnce(form.settle(500), lines, &exact1);
    }

    // The shell loop: xclip takes the clipboard, xdotool sends Ctrl+V.
    double loop_ms = 0;
    int once_loop = 0;
    bool exact_loop = false;
    {
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
        once_loop = ArrivedOnce(form.settle(1000), lines, &exact_loop);
    }

    std::printf("lines: %d\n", kLines);
    std::printf("mode 0: median %.1f ms per line; %d of %d arrived exactly once; field %s\n",
                median_ms, once0, kLines, exact0 ? "exact" : "NOT exact");
    std::printf("mode 1: %.1f ms for all lines; %d of %d arrived exactly once; field %s\n",
                total1_ms, once1, kLines, exact1 ? "exact" : "NOT exact");
    std::printf(
        "xclip+xdotool loop: %.1f ms per line (%.0f ms in all); %d of %d arrived "
        "exactly once; field %s\n",
        loop_ms / kLines, loop_ms, once_loop, kLines, exact_loop ? "exact" : "NOT exact");
    std::printf("loop per line / mode 0 median: %.2f\n", (loop_ms / kLines) / median_ms);
    return 0;
}
