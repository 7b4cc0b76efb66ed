// The tray icon against a real (minimal) notification area: the start-up
// tooltip, hiding without a taskbar button, and the mouse on the icon.

#include <gtest/gtest.h>

#include <QDir>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/trans_main.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/program_dir.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

// Minimising needs the window manager to iconify the window.
static const bool kDisplay = vt::test::EnsureTestDesktop();

namespace {

class TrayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDisplay);
        host_.start(QStringLiteral(VT_TRAY_HOST), {});
        ASSERT_TRUE(host_.waitForReadyRead(5000));
        ASSERT_TRUE(host_.readLine().startsWith("ready"));
    }
    void TearDown() override {
        form_.reset();
        host_.kill();
        host_.waitForFinished();
        vt::progpar = {};
    }
    vt::TForm1& open(const QByteArray& ini) {
        vt::BrandId = 0;
        vt::test::write_file(dir_.filePath("VantorTrans.ini"), ini);
        form_ = std::make_unique<vt::TForm1>();
        form_->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form_->activated(); }, 5000));
        return *form_;
    }
    // Where the tray host placed the icon, in screen coordinates.
    QPoint docked_icon() {
        if (!host_.canReadLine())
            host_.waitForReadyRead(5000);
        const QList<QByteArray> f = host_.readLine().trimmed().split(' ');
        if (f.size() != 4 || f[0] != "docked")
            return {};
        return {f[2].toInt(), f[3].toInt()};
    }
    void click(QPoint at, int button) {
        QProcess::execute("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()),
                                      "click", QString::number(button)});
    }

    vt::test::ProgramDir dir_;
    QProcess host_;
    vt::test::RecordingDialogs dialogs_;
    std::unique_ptr<vt::TForm1> form_;
};

TEST_F(TrayTest, MinimisedToTrayAndBackWithTheMouse) {
    vt::TForm1& f = open("[PARAMETER]\r\nTrayIcon=1\r\nMinimize=1\r\nTaskBar=0\r\n");
    ASSERT_NE(f.TrayIcon, nullptr);
    EXPECT_TRUE(f.TrayIcon->isVisible());
    EXPECT_EQ(f.TrayIcon->toolTip(), "VantorTrans : bereit");
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.isHidden(); }, 2000)) << "no taskbar button";

    const QPoint icon = docked_icon();
    ASSERT_FALSE(icon.isNull());
    QTest::qWait(200);
    click(icon, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.isVisible() && !f.isMinimized(); }, 3000));

    click(icon, 3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.PopupMenu1->isVisible(); }, 3000));
    EXPECT_TRUE(dialogs_.boxes.empty()) << "the release picked no menu item";
    f.PopupMenu1->hide();

    f.UpdateTray(false, "VantorTrans : MDE nicht bereit.");
    EXPECT_EQ(f.TrayIcon->toolTip(), "VantorTrans : MDE nicht bereit.");
}

TEST_F(TrayTest, WithoutTrayIconAndTaskbarAMinimisedProgramHasNeither) {
    vt::TForm1& f = open("[PARAMETER]\r\nTrayIcon=0\r\nMinimize=0\r\nTaskBar=0\r\n");
    EXPECT_TRUE(f.isVisible());
    f.showMinimized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.isHidden(); }, 3000))
        << "state " << int(f.windowState()) << " visible " << f.isVisible();
    EXPECT_TRUE(f.TrayIcon == nullptr || !f.TrayIcon->isVisible());
}

}  // namespace
