// The real VantorTrans with Delivery=1, the simulated OPL-98xx scanner and
// the order forms in real browsers with the extension and its native host:
// each shop line arrives once in its form, and a file that does not arrive
// whole stays on the scanner.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/real_program.h"

namespace vt::test {
namespace {

static const bool kDesktop = EnsureTestDesktop();

const QString kShopTitle = "Testshop Bestellformular";
const QString kSimpleTitle = "Simple System Bestellformular";
using Browser = BrowserSetup::Browser;

QByteArray ShopRecord(const QByteArray& article, const QByteArray& quantity) {
    return article.leftJustified(28, ' ') + ' ' + quantity.rightJustified(6, ' ');
}

// The native host that the browser started for this test's runtime folder.
pid_t HostOf(const QString& runtime_dir) {
    const std::vector<pid_t> hosts = NativeHostsOf(runtime_dir);
    return hosts.empty() ? -1 : hosts.front();
}

class ExtensionChromium : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(kDesktop); }
    void TearDown() override {
        if (HasFailure())
            RealProgram::screenshot(QString::fromUtf8(
                ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        shop_.close();
        simple_.close();
    }

    // The brand shop in Chromium, the Simple System shop in `simple` (with
    // a second tab without any field).
    void Start(int keysendmode, const QStringList& sim_options = {},
               const QString& simple_title = kSimpleTitle, Browser simple = Browser::kChromium) {
        ASSERT_TRUE(sim_.start(QStringList{"--drop-after-end"} + sim_options));
        program_.write_ini(
            QString("[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=%1\r\n"
                    "[PARAMETER]\r\nKeysendmode=%2\r\nDelivery=1\r\n"
                    "[Vantor]\r\nBrowser=3\r\nFormTitle=%3\r\nAccessKey=I\r\n"
                    "[Simple System]\r\nBrowser=%4\r\nFormTitle=%5\r\n")
                .arg(sim_.pty_path())
                .arg(keysendmode)
                .arg(kShopTitle)
                .arg(simple == Browser::kFirefox ? 2 : 3)
                .arg(simple_title)
                .toUtf8());
        ASSERT_TRUE(program_.start());
    }
    void OpenShop(bool tab_without_field = false) {
        shop_.set_browser({Browser::kChromium, program_.runtime_dir(), tab_without_field});
        ASSERT_TRUE(shop_.open(kShopTitle)) << "Chromium did not show the brand shop";
    }
    int Count(const QString& prefix) const { return sim_.count(prefix); }
    bool WaitForCount(const QString& prefix, int count, int timeout_ms) {
        return WaitFor([&] { return Count(prefix) >= count; }, timeout_ms);
    }
    QString Status() { return MainWindowText(program_, "Memo2"); }
    QString Log() { return MainWindowText(program_, "Memo1"); }
    bool Confirm() { return AnswerBox(program_, "Bestätigen", 20000); }

    OplSim sim_{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    RealProgram program_;
    OrderForm shop_, simple_;
};

class ExtensionChromiumModes : public ExtensionChromium,
                               public ::testing::WithParamInterface<int> {};

TEST_P(ExtensionChromiumModes, TheShopFileArrivesOnceInTheForm) {
    sim_.set_file(0, {ShopRecord("4711", "12"), ShopRecord("X;0815;Y", "3")});
    sim_.set_file(1, {});
    Start(GetParam());
    OpenShop();
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field("4711\t12\n0815\t3\n", 15000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 10000));
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 6000));
    EXPECT_EQ(shop_.settle(300), "4711\t12\n0815\t3\n") << "exactly once";
    EXPECT_EQ(shop_.field_changes(), GetParam() == 0 ? 2 : 1);
    EXPECT_TRUE(Status().contains("Browser-Erweiterung : verbunden (Chromium)")) << Status();
}

INSTANTIATE_TEST_SUITE_P(Modes, ExtensionChromiumModes, ::testing::Values(0, 1, 2));

// Both shops at once, each in a browser of its own kind: the brand shop in
// Chromium, the Simple System shop in Firefox ESR.
TEST_F(ExtensionChromium, BothShopsEachInItsBrowser) {
    if (QStandardPaths::findExecutable("firefox-esr").isEmpty())
        GTEST_SKIP() << "firefox-esr is not installed";
    sim_.set_file(0, {ShopRecord("4711", "12"), ShopRecord("0815", "3")});
    sim_.set_file(1, {ShopRecord("S-100", "1"), ShopRecord("S-200", "4")});
    Start(0, {}, kSimpleTitle, Browser::kFirefox);
    OpenShop();
    simple_.set_browser({Browser::kFirefox, program_.runtime_dir(), false});
    ASSERT_TRUE(simple_.open(kSimpleTitle)) << "Firefox did not show the Simple System shop";
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field("4711\t12\n0815\t3\n", 15000)) << shop_.field_text();
    EXPECT_TRUE(simple_.wait_for_field("S-100\nS-200\n", 15000)) << simple_.field_text();
    ASSERT_TRUE(WaitForCount("DROP", 2, 10000));
    EXPECT_EQ(shop_.settle(300), "4711\t12\n0815\t3\n");
    EXPECT_EQ(simple_.settle(300), "S-100\nS-200\n");
    EXPECT_TRUE(Status().contains("verbunden (Firefox, Chromium)")) << Status();
}

// A session without a runtime folder (su, ssh -X, no login manager): the
// program and the host that Chromium starts still meet, in the user's own
// folder in /tmp, and the log says once where.
TEST_F(ExtensionChromium, WithoutRuntimeFolderTheProgramAndTheHostMeetInTmp) {
    sim_.set_file(0, {ShopRecord("4711", "12"), ShopRecord("0815", "3")});
    sim_.set_file(1, {});
    program_.without_runtime_dir();
    Start(0);
    BrowserSetup setup{Browser::kChromium, program_.runtime_dir()};
    setup.without_runtime_dir = true;
    shop_.set_browser(setup);
    ASSERT_TRUE(shop_.open(kShopTitle)) << "Chromium did not show the brand shop";
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field("4711\t12\n0815\t3\n", 15000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 10000));
    const QString folder = QString("/tmp/vantortrans-%1").arg(::getuid());
    EXPECT_TRUE(QFileInfo::exists(folder + "/VantorTrans.sock"));
    EXPECT_FALSE(QFileInfo::exists(program_.runtime_dir() + "/vantortrans"));
    EXPECT_EQ(Log().count("Browser-Erweiterung : XDG_RUNTIME_DIR nicht gesetzt, Verbindung über " +
                          folder),
              1)
        << Log();
    EXPECT_TRUE(Status().contains("Browser-Erweiterung : verbunden (Chromium)")) << Status();
}

// Without the extension nothing is read; then a tab without any field
// refuses the Simple System file, which stays on the scanner.
TEST_F(ExtensionChromium, NoExtensionThenNoFieldLeaveTheFileOnTheScanner) {
    sim_.set_file(0, {});
    sim_.set_file(1, {ShopRecord("S-100", "1")});
    Start(0, {}, "Ohne Feld");
    ASSERT_TRUE(WaitForCount("RX HMS0", 3, 15000));
    EXPECT_TRUE(Status().contains("Browser-Erweiterung nicht verbunden")) << Status();
    EXPECT_EQ(Count("RX HMS2"), 0) << "nothing is read for a shop";

    OpenShop(true);
    ASSERT_TRUE(WaitFor([&] { return Log().contains("Kein Eingabefeld"); }, 15000)) << Log();
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 6000));
    EXPECT_EQ(Count("DROP"), 0);
    EXPECT_TRUE(shop_.field_text().isEmpty()) << "the form's tab is not touched";
}

// A file slow enough (9600 baud) to be cut in the middle.
class ExtensionChromiumMidFile : public ExtensionChromium {
  protected:
    void SetUp() override {
        ExtensionChromium::SetUp();
        QList<QByteArray> lines;
        for (int i = 0; i < 40; ++i) {
            lines << ShopRecord("M" + QByteArray::number(5000 + i), QByteArray::number(i % 9 + 1));
            expected_ += QString("M%1\t%2\n").arg(5000 + i).arg(i % 9 + 1);
        }
        sim_.set_file(0, lines);
        sim_.set_file(1, {});
    }
    bool WaitForLines(int n) {
        return WaitFor([&] { return shop_.field_text().count('\n') >= n; }, 20000);
    }
    QString expected_;
};

TEST_F(ExtensionChromiumMidFile, HostKilledTheNextCycleCompletesWithoutDoubles) {
    Start(0, {"--baud", "9600"});
    OpenShop();
    ASSERT_TRUE(Confirm()) << Status();
    ASSERT_TRUE(WaitForLines(5));
    const pid_t host = HostOf(program_.runtime_dir());
    ASSERT_GT(host, 0);
    ::kill(host, SIGKILL);
    // Between two lines the form is simply gone, as a closed window is;
    // during one, its text is not acknowledged. Either way the file fails.
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 1, 10000)) << "the next cycle";
    EXPECT_LT(shop_.field_text().count('\n'), 40) << Log();
    EXPECT_EQ(Count("DROP 0"), 0) << "the scanner keeps the failed file";
    // The extension starts a new host; the next cycle brings the file again.
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field(expected_, 20000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 10000));
    EXPECT_EQ(shop_.settle(300), expected_) << "every line exactly once";
    EXPECT_TRUE(Log().contains("Zeilen bereits übertragen, übersprungen")) << Log();
}

// A reload empties the form: the lines the page held are gone with it, so
// the whole file goes into the new page, and only then does the scanner let
// the file go.
TEST_F(ExtensionChromiumMidFile, AReloadedFormGetsTheWholeFileInItsNewPage) {
    QList<QByteArray> lines;
    QString expected;
    for (int i = 0; i < 200; ++i) {
        lines << ShopRecord("R" + QByteArray::number(7000 + i), "1");
        expected += QString("R%1\t1\n").arg(7000 + i);
    }
    sim_.set_file(0, lines);
    Start(0, {"--baud", "9600"});
    BrowserSetup setup{Browser::kChromium, program_.runtime_dir()};
    setup.remote_control = true;
    shop_.set_browser(setup);
    ASSERT_TRUE(shop_.open(kShopTitle)) << "Chromium did not show the brand shop";
    ASSERT_TRUE(Confirm()) << Status();
    ASSERT_TRUE(WaitForLines(5));
    ASSERT_TRUE(shop_.reload());
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 1, 20000)) << "the next cycle";
    EXPECT_EQ(Count("DROP 0"), 0) << "the scanner keeps the file the reload took";
    ASSERT_TRUE(Confirm()) << Status();
    EXPECT_TRUE(shop_.wait_for_field(expected, 30000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 10000));
    EXPECT_EQ(shop_.settle(300), expected) << "every line exactly once in the new page";
}

TEST_F(ExtensionChromiumMidFile, TabClosedKeepsTheFileAndTheLinesDelivered) {
    Start(0, {"--baud", "9600"});
    OpenShop(true);
    ASSERT_TRUE(Confirm()) << Status();
    ASSERT_TRUE(WaitForLines(5));
    RunOnDesktop("xdotool", {"windowactivate", "--sync", QString::number(shop_.window())});
    RunOnDesktop("xdotool", {"key", "ctrl+1", "ctrl+w"});
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 10000)) << "polling goes on";
    const QString typed = shop_.field_text();
    EXPECT_TRUE(expected_.startsWith(typed)) << typed;
    EXPECT_LT(typed.count('\n'), 40);
    EXPECT_EQ(Count("DROP 0"), 0) << "the scanner keeps the file";
    EXPECT_TRUE(Status().contains("Bestellformular nicht aktiv")) << Status();
}

}  // namespace
}  // namespace vt::test
