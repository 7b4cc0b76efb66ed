// The settings menu of the main window with the real dialog: the port moves
// from one simulated scanner to another, is reopened at once, and reaches
// the INI file at the next orderly close.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/trans_main.h"
#include "platform/profile_file.h"
#include "settings/settings.h"
#include "settings/setup.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/program_dir.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

static const bool kDisplay = vt::test::EnsureTestDesktop();

namespace {

int Polls(const vt::test::OplSim& sim) {
    int n = 0;
    for (const QString& l : sim.log())
        n += l.startsWith("RX HMS0") ? 1 : 0;
    return n;
}

TEST(SettingsPortChange, DialogMovesThePortAndTheFileKeepsIt) {
    ASSERT_TRUE(kDisplay);
    vt::test::ProgramDir dir;
    vt::test::RecordingDialogs dialogs;
    vt::test::OplSim com3(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    vt::test::OplSim com4(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    ASSERT_TRUE(com3.start());
    ASSERT_TRUE(com4.start());
    vt::test::write_file(dir.filePath("VantorTrans.ini"),
                         ("; hand-made\r\n[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=" +
                          com3.pty_path() + "\r\nCOM4=" + com4.pty_path() + "\r\n")
                             .toUtf8());
    vt::BrandId = 0;
    auto form = std::make_unique<vt::TForm1>();
    vt::CreateSetupForms(form.get());
    form->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->activated(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Polls(com3) >= 1; }, 5000)) << "COM3 is polled";

    // The dialog is modal: it is worked while the menu command waits in it.
    bool worked = false;
    QTimer::singleShot(300, [&] {
        vt::TFormSetup1* d = vt::FormSetup1;
        ASSERT_TRUE(d->isVisible());
        d->ComboBoxCom->setEditText("COM4");
        d->ComboBoxCom->setCurrentIndex(d->ComboBoxCom->findText("COM4", Qt::MatchStartsWith));
        worked = true;
        QTest::mouseClick(d->ButtonBeenden, Qt::LeftButton);
    });
    form->Einstellungen1->trigger();
    ASSERT_TRUE(worked);
    EXPECT_EQ(vt::progpar.port, "COM4");
    const int com3_polls = Polls(com3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Polls(com4) >= 2; }, 6000)) << "COM4 is polled";
    EXPECT_EQ(form->StatusPanel->text(), " Schnittstelle geöffnet");
    EXPECT_LE(Polls(com3), com3_polls + 1) << "COM3 was let go";

    EXPECT_TRUE(form->close());
    const vt::ProfileFile ini(dir.filePath("VantorTrans.ini"));
    EXPECT_EQ(ini.read_string(u"PORT", u"Port", ""), "COM4");
    EXPECT_EQ(ini.read_string(u"Ports", u"COM4", ""), com4.pty_path()) << "the mapping stays";
    form.reset();
}

}  // namespace
