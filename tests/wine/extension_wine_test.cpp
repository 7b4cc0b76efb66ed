// The Windows program under Wine delivers through the browser extension:
// Debian's Chromium (and Firefox ESR) with the extension loaded start the
// Windows build's vantortrans-host.exe under Wine through their host
// manifest, and the host meets VantorTrans.exe on its named pipe in the
// same prefix. Each shop line arrives once in its form; a file that does not
// arrive whole stays on the scanner.

#include <gtest/gtest.h>

#include <QStandardPaths>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_records.h"
#include "tests/support/opl_sim.h"
#include "tests/support/opn_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/real_program.h"
#include "tests/support/wine.h"
#include "tests/support/wine_test.h"

namespace vt::test {
namespace {

const QString kShopTitle = "Testshop Bestellformular";
const QString kSimpleTitle = "Simple System Bestellformular";
using Browser = BrowserSetup::Browser;

class WindowsExtension : public WinePrefixTest {
  protected:
    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "log list:\n%s\nstatus list:\n%s\nbrowser:\n%s\n",
                         qPrintable(Log()), qPrintable(Status()),
                         qPrintable(shop_.chromium_log().right(3000)));
        }
        WinePrefixTest::TearDown();
        shop_.close();
        simple_.close();
    }

    // The scanner on COM3 and the program under Wine with Delivery=1; the
    // brand shop in Chromium, the Simple System shop in `simple`.
    void Start(int keysendmode, const QStringList& sim_options = {},
               Browser simple = Browser::kChromium) {
        ASSERT_TRUE(sim_.start(QStringList{"--drop-after-end"} + sim_options));
        ASSERT_TRUE(prefix_.map_com(3, sim_.pty_path()));
        program_.write_ini(QString("[PORT]\r\nPort=COM3\r\n"
                                   "[PARAMETER]\r\nKeysendmode=%1\r\nDelivery=1\r\n"
                                   "[Vantor]\r\nBrowser=3\r\nFormTitle=%2\r\nAccessKey=I\r\n"
                                   "[Simple System]\r\nBrowser=%3\r\nFormTitle=%4\r\n")
                               .arg(keysendmode)
                               .arg(kShopTitle)
                               .arg(simple == Browser::kFirefox ? 2 : 3)
                               .arg(kSimpleTitle)
                               .toUtf8());
        program_.run_under_wine(&prefix_);
        ASSERT_TRUE(program_.start());
    }
    // With `host` false the extension finds no host registered.
    void Open(OrderForm& form, const QString& title, Browser browser = Browser::kChromium,
              bool host = true) {
        BrowserSetup setup{browser, program_.runtime_dir(), false};
        if (host)
            setup.wine_host = &prefix_;
        form.set_browser(setup);
        ASSERT_TRUE(form.open(title)) << title.toStdString() << " did not show";
    }
    int Count(const QString& prefix) const { return sim_.count(prefix); }
    bool WaitForCount(const QString& prefix, int count, int timeout_ms) {
        return WaitFor([&] { return Count(prefix) >= count; }, timeout_ms);
    }
    QString Status() { return MainWindowText(program_, "Memo2"); }
    QString Log() { return MainWindowText(program_, "Memo1"); }
    bool Confirm() { return AnswerBox(program_, "Bestätigen", 60000); }

    OplSim sim_{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    RealProgram program_;
    OrderForm shop_, simple_;
};

class WindowsExtensionModes : public WindowsExtension, public ::testing::WithParamInterface<int> {};

TEST_P(WindowsExtensionModes, TheShopFileArrivesOnceInTheForm) {
    sim_.set_file(0, {ShopRecord("4711", "12"), ShopRecord("X;0815;Y", "3")});
    Start(GetParam());
    Open(shop_, kShopTitle);
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field("4711\t12\n0815\t3\n", 20000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 15000));
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 15000));
    EXPECT_EQ(shop_.settle(300), "4711\t12\n0815\t3\n") << "exactly once";
    EXPECT_EQ(shop_.field_changes(), GetParam() == 0 ? 2 : 1);
    EXPECT_TRUE(Status().contains("Browser-Erweiterung : verbunden (Chromium)")) << Status();
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowsExtensionModes, ::testing::Values(0, 1, 2));

// Both shops at once, the brand shop in Chromium and the Simple System shop
// in Firefox ESR, each browser with its own host under Wine.
TEST_F(WindowsExtension, BothShopsEachInItsBrowser) {
    if (QStandardPaths::findExecutable("firefox-esr").isEmpty())
        GTEST_SKIP() << "firefox-esr is not installed";
    sim_.set_file(0, {ShopRecord("4711", "12"), ShopRecord("0815", "3")});
    sim_.set_file(1, {ShopRecord("S-100", "1"), ShopRecord("S-200", "4")});
    Start(0, {}, Browser::kFirefox);
    Open(shop_, kShopTitle);
    Open(simple_, kSimpleTitle, Browser::kFirefox);
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field("4711\t12\n0815\t3\n", 20000)) << shop_.field_text();
    EXPECT_TRUE(simple_.wait_for_field("S-100\nS-200\n", 20000)) << simple_.field_text();
    ASSERT_TRUE(WaitForCount("DROP", 2, 15000));
    EXPECT_EQ(shop_.settle(300), "4711\t12\n0815\t3\n");
    EXPECT_EQ(simple_.settle(300), "S-100\nS-200\n");
}

// The extension is there but no host is registered: the program never sees
// a browser, reads nothing for the shops and the scanner keeps the file.
TEST_F(WindowsExtension, WithoutARegisteredHostTheFileStaysOnTheScanner) {
    sim_.set_file(0, {ShopRecord("4711", "12")});
    Start(0);
    Open(shop_, kShopTitle, Browser::kChromium, false);
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 3, 30000));
    EXPECT_TRUE(Status().contains("Browser-Erweiterung nicht verbunden")) << Status();
    EXPECT_EQ(Count("RX HMS1"), 0) << "nothing is read for the shop";
    EXPECT_EQ(Count("DROP"), 0);
    EXPECT_TRUE(shop_.field_text().isEmpty());
}

// The host is ended in the middle of a slow file: the file fails and stays
// on the scanner; the extension starts a new host, and the next cycle brings
// the lines that are missing, none twice.
TEST_F(WindowsExtension, HostKilledMidFileTheNextCycleCompletesWithoutDoubles) {
    QList<QByteArray> lines;
    QString expected;
    for (int i = 0; i < 40; ++i) {
        lines << ShopRecord("M" + QByteArray::number(5000 + i), QByteArray::number(i % 9 + 1));
        expected += QString("M%1\t%2\n").arg(5000 + i).arg(i % 9 + 1);
    }
    sim_.set_file(0, lines);
    Start(0, {"--baud", "9600"});
    Open(shop_, kShopTitle);
    ASSERT_TRUE(Confirm()) << Status();
    ASSERT_TRUE(WaitFor([&] { return shop_.field_text().count('\n') >= 5; }, 30000))
        << shop_.field_text();
    ASSERT_TRUE(prefix_.run({"taskkill", "/f", "/im", "vantortrans-host.exe"}))
        << "the host ran under Wine";
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 1, 20000)) << "the next cycle";
    EXPECT_LT(shop_.field_text().count('\n'), 40) << Log();
    EXPECT_EQ(Count("DROP 0"), 0) << "the scanner keeps the failed file";
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field(expected, 40000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 15000));
    EXPECT_EQ(shop_.settle(300), expected) << "every line exactly once";
}

// The OPN-2001 into the brand shop through the extension: the barcodes are
// delivered once, and only then is the scanner cleared.
TEST_F(WindowsExtension, TheOpn2001IsClearedOnlyAfterItsBarcodesArrived) {
    OpnSim sim(QStringLiteral(VT_BIN_DIR "/opn2001-sim"));
    sim.set_barcodes(
        {{"40123455", 10, "2024-01-31 14:05:09"}, {"4006381333931", 1, "2024-01-31 23:59:58"}});
    ASSERT_TRUE(sim.start());
    ASSERT_TRUE(prefix_.map_com(4, sim.pty_path()));
    program_.write_ini(QString("[PORT]\r\nPort=COM4\r\nDevice=1\r\n"
                               "[PARAMETER]\r\nKeysendmode=0\r\nDelivery=1\r\n"
                               "[Browser]\r\nActiveBrowser=0\r\n"
                               "[Vantor]\r\nBrowser=3\r\nFormTitle=%1\r\nAccessKey=I\r\n")
                           .arg(kShopTitle)
                           .toUtf8());
    program_.run_under_wine(&prefix_);
    ASSERT_TRUE(program_.start());
    Open(shop_, kShopTitle);
    ASSERT_TRUE(Confirm()) << Status();
    ASSERT_TRUE(sim.wait_for_log("CLEAR 2 barcodes", 60000)) << "the scanner is cleared";
    // An EAN-8 goes without its check digit; each scan counts once.
    const QString lines = "4012345\t1\n4006381333931\t1\n";
    EXPECT_EQ(shop_.settle(500), lines);
    PumpEvents(2500);
    EXPECT_EQ(shop_.settle(300), lines) << "nothing more from the empty scanner";
}

}  // namespace
}  // namespace vt::test
