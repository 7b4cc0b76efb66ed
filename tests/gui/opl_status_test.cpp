// What the OPL-98xx cycle shows in the status list, in the real main window,
// when the scanner holds shop files whose order forms are not open.

#include <gtest/gtest.h>

#include <QDir>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/trans_main.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/program_dir.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

static const bool kDisplay = vt::test::EnsureTestDesktop();

namespace {

QByteArray ShopRecord(const QByteArray& article, const QByteArray& quantity) {
    return article.leftJustified(28, ' ') + ' ' + quantity.rightJustified(6, ' ');
}

TEST(OplStatus, ShopFilesWithoutTheirFormsAreListedAndNeverRequested) {
    ASSERT_TRUE(kDisplay);
    vt::test::ProgramDir dir;
    vt::test::RecordingDialogs dialogs;
    vt::test::OplSim sim(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    sim.set_file(0, {ShopRecord("4711", "12"), ShopRecord("4712", "1")});
    sim.set_file(1, {ShopRecord("S-1", "1")});
    ASSERT_TRUE(sim.start());
    vt::test::write_file(
        dir.filePath("VantorTrans.ini"),
        ("[PORT]\r\nPort=COM2\r\n[Ports]\r\nCOM2=" + sim.pty_path() +
         "\r\n[Vantor]\r\nBrowser=0\r\nBrowserTitle=Nirgends\r\nFormTitle=Keins\r\n")
            .toUtf8());
    vt::BrandId = 0;
    auto form = std::make_unique<vt::TForm1>();
    form->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->activated(); }, 5000));

    // The first cycle lists the files with the flags of the activation; the
    // next ones with the result of the previous search.
    // "%-25s (%d)": the target's label padded to 25 characters.
    const QString vantor = "-> Shop Vantor" + QString(11, ' ') + " (2)";
    const QString simple = "-> Shop Simple System" + QString(4, ' ') + " (1)";
    const QString first = "MDE     : bereit\n" + vantor + "\n" + simple;
    const QString later = "MDE     : bereit\n" + vantor + " Bestellformular nicht aktiv\n" +
                          simple + " Bestellformular nicht aktiv";
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->Memo2->toPlainText() == first; }, 5000))
        << form->Memo2->toPlainText();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->Memo2->toPlainText() == later; }, 5000))
        << form->Memo2->toPlainText();
    EXPECT_TRUE(dialogs.boxes.empty()) << "no confirmation without the form";
    for (const QString& l : sim.log()) {
        EXPECT_FALSE(l.startsWith("RX HMS1") || l.startsWith("RX HMS2")) << l;
    }
    EXPECT_FALSE(form->TimerOPL.isActive() && form->TimerOPL.interval() != 1000);

    // Without an answer the status says the program waits for the scanner.
    sim.stop();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form->Memo2->toPlainText() == "MDE     : warte auf MDE"; }, 6000))
        << form->Memo2->toPlainText();
    form->close();
    form.reset();
}

}  // namespace
