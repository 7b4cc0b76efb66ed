// The real VantorTrans with Delivery=1 and a shop in Firefox ESR whose tab
// has no field: the extension refuses, the file stays on the scanner, and
// the form's own tab is not touched.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStandardPaths>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/real_program.h"

namespace vt::test {
namespace {

static const bool kDesktop = EnsureTestDesktop();

TEST(ExtensionFirefox, NoFieldKeepsTheFileOnTheScanner) {
    ASSERT_TRUE(kDesktop);
    if (QStandardPaths::findExecutable("firefox-esr").isEmpty())
        GTEST_SKIP() << "firefox-esr is not installed";
    OplSim sim{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    sim.set_file(0, {});
    sim.set_file(1, {QByteArray("S-100").leftJustified(28, ' ') + "      1"});
    ASSERT_TRUE(sim.start({"--drop-after-end"}));
    RealProgram program;
    // The Simple System shop is looked for among Firefox's tabs by the
    // title of the tab without a field.
    program.write_ini(QString("[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=%1\r\n"
                              "[PARAMETER]\r\nKeysendmode=0\r\nDelivery=1\r\n"
                              "[Vantor]\r\nBrowser=3\r\nFormTitle=Kein solches Formular\r\n"
                              "[Simple System]\r\nBrowser=2\r\nFormTitle=Ohne Feld\r\n")
                          .arg(sim.pty_path())
                          .toUtf8());
    ASSERT_TRUE(program.start());
    OrderForm form;
    form.set_browser({BrowserSetup::Browser::kFirefox, program.runtime_dir(), true});
    ASSERT_TRUE(form.open("Simple System Bestellformular")) << form.chromium_log().right(3000).toStdString();

    const auto count = [&](const QString& prefix) {
        int n = 0;
        for (const QString& l : sim.log()) n += l.startsWith(prefix) ? 1 : 0;
        return n;
    };
    QElapsedTimer t;
    t.start();
    while (!MainWindowText(program, "Memo1").contains("Kein Eingabefeld") && t.elapsed() < 20000)
        PumpEvents(100);
    EXPECT_TRUE(MainWindowText(program, "Memo1").contains("Kein Eingabefeld")) << MainWindowText(program, "Memo1").toStdString();
    const int polls = count("RX HMS0");
    while (count("RX HMS0") < polls + 2 && t.elapsed() < 30000) PumpEvents(100);
    EXPECT_EQ(count("DROP"), 0) << "the scanner keeps the refused file";
    EXPECT_TRUE(form.field_text().isEmpty()) << "the form's tab is not touched";
    EXPECT_TRUE(MainWindowText(program, "Memo2").contains("Firefox")) << MainWindowText(program, "Memo2").toStdString();
}

}  // namespace
}  // namespace vt::test
