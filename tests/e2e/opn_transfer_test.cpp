// The main window with device 1 and its own timers against the simulated
// OPN-2001 on a private desktop: barcodes arrive once in a real Chromium
// order form or in the barcode CSV, and the scanner is cleared only after a
// complete delivery. Boxes are answered by the recorder; everything else is
// the program's own.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

#include "app/trans_main.h"
#include "settings/ui_seam.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/fake_browser.h"
#include "tests/support/opn_sim.h"
#include "tests/support/program_dir.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

namespace vt {
namespace {

static const bool kDesktop = test::EnsureTestDesktop();

const QString kShopTitle = "Bestellformular Vantor";
const QString kSimpleTitle = "Bestellformular Simple";

const QList<test::SimBarcode> kScans = {
    {"40123455", 10, "2024-01-31 14:05:09"},
    {"K1;4711;5", 1, "2024-03-01 00:30:00"},
    {"4006381333931", 1, "2007-07-09 12:00:00"},
};

// Passes everything on to the main window and keeps the tray's last state,
// which a desktop without a notification area cannot show.
class TrayWatch final : public Display {
  public:
    explicit TrayWatch(Display& inner) : inner_(inner) { set_display(this); }
    ~TrayWatch() override { set_display(&inner_); }
    void log_line(const QString& line) override { inner_.log_line(line); }
    void status_clear() override { inner_.status_clear(); }
    void status_line(const QString& line) override { inner_.status_line(line); }
    void status_bar(const QString& text) override { inner_.status_bar(text); }
    QString status_bar_text() const override { return inner_.status_bar_text(); }
    void toggle_activity() override { inner_.toggle_activity(); }
    void update_tray(bool ready, const QString& tooltip) override {
        tip = tooltip;
        this->ready = ready;
        inner_.update_tray(ready, tooltip);
    }
    bool current_tray_ready() const override { return inner_.current_tray_ready(); }
    QString current_tray_tip() const override { return inner_.current_tray_tip(); }
    QString tip;
    bool ready = true;

  private:
    Display& inner_;
};

class OpnTransfer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDesktop);
        BrandId = 0;
    }
    void TearDown() override {
        watch_.reset();
        if (form_)
            form_->close();
        form_.reset();
        BrandId = 0;
    }

    // Writes the INI file for `target` and `mode`, starts the scanner and the
    // main window.
    void Run(int target, int mode, const QStringList& sim_options = {}) {
        sim_.set_barcodes(kScans);
        ASSERT_TRUE(sim_.start(sim_options));
        const QString ini =
            QStringLiteral(
                "[PORT]\r\nPort=COM5\r\nDevice=1\r\n[Ports]\r\nCOM5=%1\r\n"
                "[PARAMETER]\r\nKeysendmode=%2\r\nDelivery=%8\r\n[Browser]\r\nActiveBrowser=%3\r\n"
                "[%4]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\nFormTitle=%5\r\n"
                "AccessKey=I\r\n"
                "[Simple System]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\n"
                "FormTitle=%6\r\n"
                "[CSVOPN2001]\r\nFilename=BARCODES.CSV\r\nCsvPos=1,2,3\r\n"
                "[Directory]\r\nCSVOPN2001=%7\r\n")
                .arg(sim_.pty_path())
                .arg(mode)
                .arg(target)
                .arg(QString::fromUtf8(brand().section), kShopTitle, kSimpleTitle, export_dir())
                .arg(delivery_);
        QDir().mkpath(export_dir());
        test::write_file(QString::fromUtf8(brand().ini_name), ini.toUtf8());
        form_ = std::make_unique<TForm1>();
        watch_ = std::make_unique<TrayWatch>(*form_);
        form_->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form_->activated(); }, 5000));
    }
    // A batch is pasted without the access key, into whatever field has the
    // focus: the user has put it into the order field.
    void FocusFieldByHand(test::OrderForm& form) {
        ASSERT_TRUE(test::PressKeys({"alt+i"}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.field_focused(); }, 3000));
    }
    QString export_dir() const { return dir_.filePath("export") + "/"; }
    QString Memo1() const { return form_->Memo1->toPlainText(); }
    QString Memo2() const { return form_->Memo2->toPlainText(); }
    bool WaitForLog(const QString& line, int ms = 15000) {
        return QTest::qWaitFor([&] { return Memo1().split(u'\n').contains(line); }, ms);
    }

    int delivery_ = 0;
    vt::test::ProgramDir dir_;
    test::RecordingDialogs dialogs_;
    test::OpnSim sim_{QStringLiteral(VT_BIN_DIR "/opn2001-sim")};
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TrayWatch> watch_;
};

const QString kShopLines = "4012345\t1\n4711\t5\n4006381333931\t1\n";

class OpnShopMode : public OpnTransfer, public ::testing::WithParamInterface<int> {};

TEST_P(OpnShopMode, BrandShopGetsEachScanOnce) {
    test::OrderForm form;
    ASSERT_TRUE(form.open(kShopTitle));
    if (GetParam() == 1)
        FocusFieldByHand(form);
    Run(0, GetParam());
    EXPECT_TRUE(form.wait_for_field(kShopLines, 20000)) << form.field_text().toStdString();
    ASSERT_TRUE(WaitForLog("Übertragung erfolgreich"));
    EXPECT_TRUE(sim_.wait_for_log("CLEAR 3 barcodes", 3000));
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "Übertragung starten ?");
    // Later cycles find an empty scanner and deliver nothing more.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Memo2().contains("MDE     : keine Daten"); }, 5000));
    EXPECT_EQ(form.settle(1500), kShopLines);
    EXPECT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(watch_->tip, "VantorTrans : bereit.");
}

INSTANTIATE_TEST_SUITE_P(Modes, OpnShopMode, ::testing::Values(0, 1));

TEST_F(OpnTransfer, SimpleSystemGetsTheCodesAsRead) {
    test::OrderForm form;
    ASSERT_TRUE(form.open(kSimpleTitle));
    FocusFieldByHand(form);
    Run(1, 1);
    const QString expected = "40123455\nK1;4711;5\n4006381333931\n";
    EXPECT_TRUE(form.wait_for_field(expected, 20000)) << form.field_text().toStdString();
    EXPECT_TRUE(sim_.wait_for_log("CLEAR 3 barcodes", 5000));
    EXPECT_EQ(form.settle(1500), expected);
}

TEST_F(OpnTransfer, MiraboWritesTheBarcodeCsvWithTheScanTimes) {
    BrandId = 1;
    Run(2, 1);
    ASSERT_TRUE(WaitForLog("Übertragung erfolgreich"));
    EXPECT_TRUE(dialogs_.boxes.empty());
    const QStringList files = QDir(export_dir()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(test::read_file(export_dir() + files[0]),
              "40123455;31.01.2024;14:05:09\r\n"
              "K1;4711;5;01.03.2024;00:30:00\r\n"
              "4006381333931;09.07.2007;12:00:00\r\n");
    EXPECT_TRUE(sim_.wait_for_log("CLEAR 3 barcodes", 3000));
    EXPECT_EQ(watch_->tip, "MiraboTrans : bereit.");
}

TEST_F(OpnTransfer, WithoutTheShopWindowEverythingStaysOnTheScanner) {
    Run(0, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Memo2().contains("Browser : Bestellformular nicht aktiv."); }, 8000));
    // Several cycles pass; none reads or clears.
    QTest::qWait(2500);
    EXPECT_TRUE(Memo2().contains("MDE     : bereit"));
    EXPECT_EQ(watch_->tip, "VantorTrans : Bestellformular nicht aktiv.");
    EXPECT_FALSE(watch_->ready);
    EXPECT_TRUE(dialogs_.boxes.empty());
    EXPECT_TRUE(sim_.log_lines("CLEAR").isEmpty());
    EXPECT_TRUE(Memo1().isEmpty());
}

// Through the browser extension (a browser played over the program's
// socket): without it nothing is read; a transfer whose host dies half-way
// clears nothing; the next one, on the browser's new host, puts each scan
// into the tab once, and then the scanner is cleared.
TEST_F(OpnTransfer, ThroughTheExtensionTheScannerIsClearedOnlyAfterDelivery) {
    // The program listens in this test process, in a runtime folder of its own.
    static QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString socket = runtime.path() + "/vantortrans/VantorTrans.sock";
    delivery_ = 1;
    Run(0, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Memo2().contains("Browser-Erweiterung nicht verbunden"); }, 8000))
        << Memo2().toStdString();
    QTest::qWait(2500);
    EXPECT_TRUE(Memo2().contains("Browser : Bestellformular nicht aktiv."));
    EXPECT_TRUE(dialogs_.boxes.empty());
    EXPECT_TRUE(sim_.log_lines("CLEAR").isEmpty());
    ASSERT_TRUE(QFile::exists(socket));

    test::FakeBrowser browser{{7, kShopTitle}};
    browser.die_after(1);
    auto host = std::make_unique<test::FakeHost>(socket, "chromium", browser.answer());
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser.delivers() >= 2; }, 10000));
    host.reset();
    ASSERT_TRUE(WaitForLog("Übertragungsfehler"));
    EXPECT_TRUE(sim_.log_lines("CLEAR").isEmpty()) << "the extension went: nothing cleared";
    EXPECT_EQ(browser.field(7), "4012345\t1\n4711\t5\n") << "the second one did arrive";

    browser.revive();
    host = std::make_unique<test::FakeHost>(socket, "chromium", browser.answer());
    ASSERT_TRUE(WaitForLog("Übertragung erfolgreich"));
    EXPECT_TRUE(sim_.wait_for_log("CLEAR 3 barcodes", 3000));
    EXPECT_EQ(browser.field(7), kShopLines) << "each scan once";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Memo2().contains("Browser-Erweiterung : verbunden (Chromium)"); }, 5000));
    EXPECT_EQ(dialogs_.boxes.size(), 2u);
}

// The same in real Chromium with the extension loaded and its host
// registered: the confirmed transfer puts each scan into the form once, and
// only then is the scanner cleared.
TEST_F(OpnTransfer, ThroughTheExtensionInChromiumEachScanOnceThenCleared) {
    static QTemporaryDir runtime;
    ::chmod(QFile::encodeName(runtime.path()).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    test::OrderForm browser;
    browser.set_browser({test::BrowserSetup::Browser::kChromium, runtime.path(), false});
    ASSERT_TRUE(browser.open(kShopTitle));
    delivery_ = 1;
    Run(0, 0);
    ASSERT_TRUE(WaitForLog("Übertragung erfolgreich", 30000)) << Memo1().toStdString();
    EXPECT_TRUE(sim_.wait_for_log("CLEAR 3 barcodes", 3000));
    EXPECT_EQ(browser.settle(500), kShopLines) << "each scan once";
    EXPECT_EQ(dialogs_.boxes.size(), 1u) << "the one confirmation";
    EXPECT_TRUE(Memo2().contains("Browser-Erweiterung : verbunden (Chromium)"))
        << Memo2().toStdString();
}

class OpnFault : public OpnTransfer, public ::testing::WithParamInterface<const char*> {};

// The second upload is the first transfer's read (the poll's is the first).
TEST_P(OpnFault, LeavesTheBarcodesForTheNextCycle) {
    test::OrderForm form;
    ASSERT_TRUE(form.open(kShopTitle));
    Run(0, 0, {"--fault", QString::fromLatin1(GetParam())});
    ASSERT_TRUE(WaitForLog("Übertragungsfehler"));
    EXPECT_TRUE(sim_.log_lines("CLEAR").isEmpty());
    EXPECT_EQ(form.field_text(), "");
    // The next cycle offers them again and delivers them once.
    EXPECT_TRUE(form.wait_for_field(kShopLines, 20000)) << form.field_text().toStdString();
    EXPECT_TRUE(sim_.wait_for_log("CLEAR 3 barcodes", 5000));
    EXPECT_EQ(dialogs_.boxes.size(), 2u);
    EXPECT_EQ(form.settle(1500), kShopLines);
}

INSTANTIATE_TEST_SUITE_P(Faults, OpnFault,
                         ::testing::Values("bad-crc:upload:1", "truncate:upload:1",
                                           "no-answer:upload:1", "oversize:upload:1"));

}  // namespace
}  // namespace vt
