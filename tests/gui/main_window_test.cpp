// The main window in a real X server: brand captions, target buttons,
// shortcuts, closing, and a screenshot of each brand for review.

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "app/trans_main.h"
#include "platform/profile_file.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/program_dir.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

static const bool kDisplay = vt::test::EnsureTestDesktop();

namespace {

using vt::TForm1;

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDisplay);
    }
    void TearDown() override {
        form_.reset();
        vt::BrandId = 0;
        vt::progpar = {};
        vt::browserrecord = {};
        vt::PortClosed = false;
        vt::AppClosing = false;
    }
    // Starts the window of a brand with an INI file and waits for its set-up.
    TForm1& open(int brand, const QByteArray& ini = {}) {
        vt::BrandId = brand;
        vt::progpar = {};
        vt::browserrecord = {};
        if (!ini.isEmpty()) {
            vt::test::write_file(dir_.filePath(QString::fromUtf8(vt::brand_info(brand).ini_name)),
                                 ini);
        }
        form_ = std::make_unique<TForm1>();
        EXPECT_TRUE(form_->created());
        form_->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form_->activated(); }, 5000));
        return *form_;
    }
    QString ini_path(int brand) const {
        return dir_.filePath(QString::fromUtf8(vt::brand_info(brand).ini_name));
    }

    vt::test::ProgramDir dir_;
    vt::test::RecordingDialogs dialogs_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(MainWindowTest, CaptionsAndInfoBoxPerBrand) {
    const char* captions[] = {"VantorTrans  Version 1.18", "MiraboTrans  Version 1.18",
                              "DörfalTrans  Version 1.18"};
    const char* infos[] = {"VantorTrans  Version 1.18", "MiraboTrans  Version 1.18",
                           "DoerfalTrans  Version 1.18"};
    for (int brand = 0; brand < 3; ++brand) {
        SCOPED_TRACE(brand);
        TForm1& f = open(brand);
        EXPECT_EQ(f.windowTitle(), QString::fromUtf8(captions[brand]));
        EXPECT_EQ(f.Einstellungen1->text(), "Einstellungen");
        EXPECT_EQ(f.SpeedButton1->text(), QString::fromUtf8(vt::brand_info(brand).shop_button));
        EXPECT_EQ(f.centralWidget()->size(), QSize(448, 483));
        EXPECT_EQ(f.Panel1->height(), 102);
        EXPECT_TRUE(f.Edit1->isHidden());
        QLabel* logos[] = {f.ImageOrbelin, f.ImageMirabo, f.ImageDoerfal};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(logos[i]->isVisible(), i == brand);
        ASSERT_FALSE(logos[brand]->pixmap().isNull()) << "the logo decodes";
        EXPECT_EQ(logos[brand]->pixmap().size(), QSize(439, 100));

        dialogs_.boxes.clear();
        f.Info1->trigger();
        ASSERT_EQ(dialogs_.boxes.size(), 1u);
        EXPECT_EQ(dialogs_.boxes[0].text, QString::fromUtf8(infos[brand]));
        EXPECT_EQ(dialogs_.boxes[0].buttons, vt::BoxButtons::Ok);

        // A picture for reviewers.
        f.grab().save(QStringLiteral(VT_BIN_DIR "/../main_window_brand%1.png").arg(brand));
        form_.reset();
    }
}

TEST_F(MainWindowTest, OplDeviceHidesEveryTargetButtonAndKeepsTheTarget) {
    TForm1& f = open(0, "[PORT]\r\nDevice=0\r\n[Browser]\r\nActiveBrowser=1\r\n");
    EXPECT_TRUE(f.SpeedButton1->isHidden());
    EXPECT_TRUE(f.SpeedButton2->isHidden());
    EXPECT_TRUE(f.SpeedButton3->isHidden());
    EXPECT_EQ(vt::browserrecord.mode, 1);
    EXPECT_TRUE(vt::browserrecord.state[0] && vt::browserrecord.state[1]);
    EXPECT_TRUE(vt::PortClosed);
}

TEST_F(MainWindowTest, OpnDeviceWithVantorHidesCsvButtonButKeepsTargetTwo) {
    TForm1& f = open(0, "[PORT]\r\nDevice=1\r\n[Browser]\r\nActiveBrowser=2\r\n");
    EXPECT_TRUE(f.SpeedButton1->isVisible());
    EXPECT_TRUE(f.SpeedButton2->isVisible());
    EXPECT_TRUE(f.SpeedButton3->isHidden());
    EXPECT_TRUE(f.SpeedButton3->isChecked());
    EXPECT_EQ(vt::browserrecord.mode, 2);
    EXPECT_EQ(f.SpeedButton1->geometry(), QRect(4, 4, 196, 22));
    EXPECT_EQ(f.SpeedButton2->geometry(), QRect(208, 4, 196, 22));
    // Clicking a shop button selects it and makes only its caption bold.
    QTest::mouseClick(f.SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(vt::browserrecord.mode, 1);
    EXPECT_TRUE(f.SpeedButton2->font().bold());
    EXPECT_FALSE(f.SpeedButton1->font().bold());
}

TEST_F(MainWindowTest, MiraboAndDoerfalComputeTheButtonLayout) {
    for (int brand : {1, 2}) {
        SCOPED_TRACE(brand);
        TForm1& f = open(brand, "[PORT]\r\nDevice=1\r\n[Browser]\r\nActiveBrowser=0\r\n");
        EXPECT_EQ(f.SpeedButton1->geometry(), QRect(4, 4, 160, 22));
        EXPECT_EQ(f.SpeedButton2->geometry(), QRect(168, 4, 160, 22));
        EXPECT_EQ(f.SpeedButton3->geometry(), QRect(332, 4, 448 - 4 - 160 - 160 - 14, 22));
        EXPECT_EQ(f.SpeedButton3->geometry().right() + 1, 448 - 6);
        EXPECT_TRUE(f.SpeedButton3->isVisible());
        EXPECT_TRUE(f.SpeedButton1->font().bold());
        QTest::mouseClick(f.SpeedButton3, Qt::LeftButton);
        EXPECT_EQ(vt::browserrecord.mode, 2);
        form_.reset();
    }
}

TEST_F(MainWindowTest, CtrlCEmptiesTheLogListAndNothingElseDoes) {
    TForm1& f = open(0);
    f.log_line("eins");
    f.status_line("MDE     : bereit");
    QTest::keyClick(f.Memo2, Qt::Key_C);
    QTest::keyClick(f.Memo2, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(f.Memo1, Qt::Key_C, Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(f.Memo1->toPlainText(), "eins");
    QTest::keyClick(f.Memo2, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(f.Memo1->toPlainText(), "");
    EXPECT_EQ(f.Memo2->toPlainText(), "MDE     : bereit");
}

TEST_F(MainWindowTest, LogListKeepsOnlyItsNewestLines) {
    TForm1& f = open(0);
    const int cap = TForm1::kLogListMaxLines;
    for (int i = 0; i < cap + 250; ++i)
        f.log_line(QString("Zeile %1").arg(i));
    const QStringList lines = f.Memo1->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), cap);
    EXPECT_EQ(lines.front(), "Zeile 250");
    EXPECT_EQ(lines.back(), QString("Zeile %1").arg(cap + 249));
}

TEST_F(MainWindowTest, DeclinedCloseKeepsEverythingAndClearsTheClosingFlag) {
    TForm1& f = open(0, "[PARAMETER]\r\nConfirmClose=1\r\n[PORT]\r\nPort=COM9\r\n");
    vt::PortClosed = false;  // as after a successful open
    f.TimerOPL.start();
    dialogs_.answers.push_back(vt::BoxResult::No);
    EXPECT_FALSE(f.close());
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "Programm beenden ?");
    EXPECT_EQ(dialogs_.boxes[0].title, "Warnung");
    EXPECT_EQ(dialogs_.boxes[0].buttons, vt::BoxButtons::YesNo);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.TimerOPL.isActive());
    EXPECT_FALSE(vt::PortClosed);
    EXPECT_FALSE(vt::AppClosing) << "later serial waits must keep working";
    EXPECT_FALSE(QFile::exists(ini_path(0)) &&
                 vt::ProfileFile(ini_path(0)).read_string(u"PORT", u"Baud", "").size() > 0)
        << "nothing saved";

    dialogs_.answers.push_back(vt::BoxResult::Yes);
    EXPECT_TRUE(f.close());
    EXPECT_TRUE(vt::AppClosing);
    EXPECT_EQ(vt::ProfileFile(ini_path(0)).read_string(u"PORT", u"Port", ""), "COM9");
}

TEST_F(MainWindowTest, ClosedPortClosesWithoutAskingAndSaves) {
    TForm1& f = open(1, "[PARAMETER]\r\nConfirmClose=1\r\n");
    ASSERT_TRUE(vt::PortClosed);
    EXPECT_TRUE(f.close());
    EXPECT_TRUE(dialogs_.boxes.empty());
    EXPECT_EQ(vt::ProfileFile(ini_path(1)).read_string(u"PARAMETER", u"ConfirmClose", ""), "1");
}

TEST_F(MainWindowTest, TempFolderIsCreatedInTheStartDirectory) {
    open(0);
    EXPECT_TRUE(QDir(dir_.filePath("Temp")).exists());
    EXPECT_EQ(vt::StartDir, dir_.path() + "/");
}

// The real executables: a second copy of a brand ends at once with code 0 and
// shows no window; another brand starts beside it.
TEST(SingleInstance, SecondCopyOfABrandEndsWithoutAWindow) {
    QTemporaryDir dir, runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    auto start = [&](const char* exe) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(dir.path());
        p->start(QStringLiteral(VT_BIN_DIR "/") + exe, {});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    };
    auto window_count = [&](qint64 pid) {
        QProcess x;
        x.setProcessEnvironment(env);
        x.start("xdotool", {"search", "--pid", QString::number(pid)});
        x.waitForFinished();
        return x.readAllStandardOutput().split('\n').count() - 1;
    };
    auto first = start("VantorTrans");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_count(first->processId()) > 0; }, 10000));
    auto second = start("VantorTrans");
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    auto other = start("MiraboTrans");
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_count(other->processId()) > 0; }, 10000));
    EXPECT_EQ(other->state(), QProcess::Running);
    for (auto* p : {first.get(), other.get()}) {
        p->terminate();
        EXPECT_TRUE(p->waitForFinished(10000));
        EXPECT_EQ(p->exitCode(), 0);
    }
}

}  // namespace
