// The "Verlauf" window on a journal written by the journal itself: what the
// list shows for complete, incomplete and damaged entries, the lines of the
// selected one, and sending an entry again.

#include "app/journal_window.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "links/transfer_progress.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

static const bool kDisplay = vt::test::EnsureTestDesktop();

namespace vt {
namespace {

QByteArray CsvRecord(const QByteArray& article, const QByteArray& quantity) {
    return QByteArray("KST-1").leftJustified(12, ' ') + ' ' +
           QByteArray("LAGER").leftJustified(12, ' ') + ' ' + article.leftJustified(28, ' ') + ' ' +
           quantity.rightJustified(6, ' ') + " 31.01.2024 14:05:09";
}
const QByteArray kCsvLine1 = CsvRecord("4711", "12");
const QByteArray kCsvLine2 = CsvRecord("0815", "3");

class JournalWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDisplay);
        saved_start_ = StartDir;
        saved_progpar_ = progpar;
        BrandId = 0;
        StartDir = WithTrailingSeparator(dir_.path());
        progpar.journaldays = 90;
        progpar.csvdir = WithTrailingSeparator(dir_.filePath("csv"));
        progpar.csvoverwrite = false;
        progpar.csvpos = {0, 1, 2, 3, 4, 5};
        progpar.csvseparator = 0;
        progpar.keysendmode = 0;
        QDir().mkpath(progpar.csvdir);
        const QDateTime base(QDate(2026, 3, 10), QTime(9, 0));
        Write(base, "CSV.TXT", JournalTarget::Csv, {kCsvLine1, kCsvLine2}, true);
        Write(base.addSecs(60), "SHOP.TXT", JournalTarget::BrandShop,
              {"4711                          12", "\xe4rger                          1"}, false);
        test::write_file(JournalDir() + "20260310-091000-000.vtj", "von Hand bearbeitet\n");
    }
    void TearDown() override {
        StartDir = saved_start_;
        progpar = saved_progpar_;
        CycleRunning = false;
    }
    void Write(const QDateTime& when, const QString& file, JournalTarget target,
               const QList<QByteArray>& lines, bool complete) {
        JournalWriter w;
        w.begin(JournalDir(), when, "OPL-98xx", file, target);
        for (const QByteArray& l : lines)
            w.add_line(l);
        if (complete) {
            w.complete();
            w.outcome(JournalOutcome::Exported, progpar.csvdir + "CSV_1.TXT");
        }
    }
    QStringList Row(const QTreeWidget* list, int row) const {
        QStringList cells;
        for (int c = 0; c < 5; ++c)
            cells << list->topLevelItem(row)->text(c);
        return cells;
    }

    QTemporaryDir dir_;
    test::RecordingDialogs dialogs_;
    test::RecordingDisplay display_;
    QString saved_start_;
    progparstruct saved_progpar_;
};

TEST_F(JournalWindowTest, ListsNewestFirstAndShowsTheSelectedLines) {
    JournalWindow w;
    auto* list = w.findChild<QTreeWidget*>("JournalList");
    auto* lines = w.findChild<QPlainTextEdit*>("JournalLines");
    auto* resend = w.findChild<QPushButton*>("JournalResend");
    ASSERT_TRUE(list && lines && resend);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(Row(list, 0)[4], "beschädigt");
    EXPECT_FALSE(resend->isEnabled()) << "a damaged entry is not sent";
    EXPECT_EQ(Row(list, 1), QStringList({"10.03.2026 09:01:00", "OPL-98xx / SHOP.TXT",
                                         "Shop Vantor", "2", "unvollständig"}));
    EXPECT_EQ(Row(list, 2), QStringList({"10.03.2026 09:00:00", "OPL-98xx / CSV.TXT", "CSV", "2",
                                         "exportiert nach " + progpar.csvdir + "CSV_1.TXT"}));
    list->setCurrentItem(list->topLevelItem(1));
    // The shop line's 0xE4 is Windows-1252 "ä".
    EXPECT_EQ(lines->toPlainText(),
              QString::fromUtf8("4711                          12\närger                          1"));
    EXPECT_TRUE(resend->isEnabled());
}

TEST_F(JournalWindowTest, AnExportEntrySentAgainIsANewIdenticalExport) {
    JournalWindow w;
    auto* list = w.findChild<QTreeWidget*>("JournalList");
    list->setCurrentItem(list->topLevelItem(2));
    w.findChild<QPushButton*>("JournalResend")->click();
    QStringList files = QDir(progpar.csvdir).entryList({"CSV_*"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const QByteArray first = test::read_file(progpar.csvdir + files[0]);
    EXPECT_EQ(first,
              "KST-1;LAGER;4711;12;31.01.2024;14:05:09\r\nKST-1;LAGER;0815;3;31.01.2024;14:05:09\r\n");
    EXPECT_EQ(display_.log.last(), "Übertragung erfolgreich");

    QTest::qWait(1100);  // the export's name has a time of day to the second
    list->setCurrentItem(list->topLevelItem(2));
    w.findChild<QPushButton*>("JournalResend")->click();
    files = QDir(progpar.csvdir).entryList({"CSV_*"}, QDir::Files);
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    EXPECT_EQ(test::read_file(progpar.csvdir + files[1]), first);
}

TEST_F(JournalWindowTest, ResendIsRefusedWhileACycleRunsAndWithoutTheForm) {
    JournalWindow w;
    auto* list = w.findChild<QTreeWidget*>("JournalList");
    CycleRunning = true;
    list->setCurrentItem(list->topLevelItem(2));
    w.findChild<QPushButton*>("JournalResend")->click();
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text,
              "Während einer Übertragung kann nicht erneut gesendet werden. Bitte warten.");
    EXPECT_TRUE(QDir(progpar.csvdir).entryList({"CSV_*"}, QDir::Files).isEmpty());
    CycleRunning = false;

    // No order form open: the same box and log line as a download.
    dialogs_.boxes.clear();
    progpar.browsertitle[0] = "Nirgends";
    progpar.formtitle[0] = "Keins";
    list->setCurrentItem(list->topLevelItem(1));
    w.findChild<QPushButton*>("JournalResend")->click();
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "Übertragung starten ?");
    ASSERT_GE(display_.log.size(), 2);
    EXPECT_TRUE(display_.log[display_.log.size() - 2].startsWith(
        "Bestellformular geschlossen, nicht gesendet : "))
        << display_.log.join('\n').toStdString();
    EXPECT_EQ(display_.log.last(), "Übertragungsfehler");
}

}  // namespace
}  // namespace vt
