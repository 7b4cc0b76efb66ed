// The transfer journal: what an entry holds, how an entry cut short by a
// crash reads, pruning by age, the switch that turns it off, and a journal
// that cannot be written.

#include "links/journal.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/settings.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

const QDateTime kNoon(QDate(2026, 3, 10), QTime(12, 0, 0, 250));

class JournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_start_ = StartDir;
        saved_days_ = progpar.journaldays;
        StartDir = WithTrailingSeparator(tmp.path());
        progpar.journaldays = 90;
        ResetJournalWarning();
    }
    void TearDown() override {
        StartDir = saved_start_;
        progpar.journaldays = saved_days_;
        ResetJournalWarning();
    }
    QString dir() const { return JournalDir(); }
    QByteArray bytes(const QString& path) const {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return f.readAll();
    }
    QStringList log_lines_containing(const char* text) const {
        return display.log.filter(QString::fromUtf8(text));
    }

    QTemporaryDir tmp;
    test::RecordingDisplay display;
    QString saved_start_;
    int32_t saved_days_ = 0;
};

// Lines with every byte value, empty lines and the record delimiter itself.
QList<QByteArray> AwkwardLines() {
    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all.append(char(c));
    return {QByteArray("4711;5"), QByteArray(), QByteArray("a\nL 3\nxyz"), all,
            QByteArray("\xe4\xf6\xfc;2", 5)};
}

TEST_F(JournalTest, CompleteEntryKeepsEveryByteAndTheOutcome) {
    JournalWriter w;
    w.begin(dir(), kNoon, QStringLiteral("OPL-98xx"), QStringLiteral("CSV.TXT"),
            JournalTarget::Csv);
    ASSERT_TRUE(w.active());
    for (const QByteArray& l : AwkwardLines())
        w.add_line(l);
    w.complete();
    w.outcome(JournalOutcome::Exported, QStringLiteral("/tmp/export/CSV_1.TXT"));

    const QList<JournalEntry> all = ReadJournal(dir());
    ASSERT_EQ(all.size(), 1);
    const JournalEntry& e = all[0];
    EXPECT_EQ(e.path, w.path());
    EXPECT_EQ(e.state, JournalEntry::State::Complete);
    EXPECT_EQ(e.when, kNoon);
    EXPECT_EQ(e.device, "OPL-98xx");
    EXPECT_EQ(e.file, "CSV.TXT");
    EXPECT_EQ(e.target, int32_t(JournalTarget::Csv));
    EXPECT_EQ(e.lines, AwkwardLines());
    EXPECT_EQ(e.outcome, JournalOutcome::Exported);
    EXPECT_EQ(e.outcome_text, "/tmp/export/CSV_1.TXT");
    EXPECT_TRUE(display.log.isEmpty());
}

TEST_F(JournalTest, EntryCutAnywhereNeverReadsAsComplete) {
    JournalWriter w;
    w.begin(dir(), kNoon, QStringLiteral("OPL-98xx"), QStringLiteral("SHOP.TXT"),
            JournalTarget::BrandShop);
    const QList<QByteArray> lines = AwkwardLines();
    for (const QByteArray& l : lines)
        w.add_line(l);
    // What a kill -9 before the end marker leaves: the lines, no end.
    const QByteArray before_end = bytes(w.path());
    w.complete();
    w.outcome(JournalOutcome::Failed, QStringLiteral("Bestellformular geschlossen"));
    const QByteArray whole = bytes(w.path());

    const JournalEntry killed = ParseJournalEntry(before_end);
    EXPECT_EQ(killed.state, JournalEntry::State::Incomplete);
    EXPECT_EQ(killed.lines, lines);

    // A crash can cut the file at any byte (a record torn in its write): the
    // entry is then incomplete with a prefix of the lines, until the end
    // record is there whole.
    const qsizetype end_record = before_end.size() + qsizetype(strlen("E 1\n5\n"));
    for (qsizetype cut = 0; cut < whole.size(); ++cut) {
        const JournalEntry e = ParseJournalEntry(whole.left(cut));
        SCOPED_TRACE(cut);
        if (cut < end_record) {
            // Without the magic record even an empty file counts as damaged.
            EXPECT_NE(e.state, JournalEntry::State::Complete);
            ASSERT_LE(e.lines.size(), lines.size());
            EXPECT_EQ(e.lines, lines.mid(0, e.lines.size()));
        } else {
            EXPECT_EQ(e.state, JournalEntry::State::Complete);
            EXPECT_EQ(e.lines, lines);
        }
    }
    EXPECT_EQ(ParseJournalEntry(whole).outcome, JournalOutcome::Failed);
}

TEST_F(JournalTest, HandEditedEntriesReadAsDamaged) {
    JournalWriter w;
    w.begin(dir(), kNoon, QStringLiteral("OPN-2001"), QString(), JournalTarget::BarcodeCsv);
    w.add_line("12345670");
    w.add_line("4711");
    w.complete();
    const QByteArray good = bytes(w.path());
    ASSERT_EQ(ParseJournalEntry(good).state, JournalEntry::State::Complete);

    QByteArray longer = good;
    longer.replace("L 4\n4711\n", "L 4\n47111\n");  // a line lengthened by hand
    QByteArray count = good;
    count.replace("E 1\n2\n", "E 1\n3\n");  // an end that does not fit the lines
    QByteArray target = good;
    target.replace("Z 1\n4\n", "Z 1\n9\n");
    QByteArray negative = good;
    negative.replace("L 4\n4711", "L -4\n4711");
    const QByteArray foreign = "Artikel;Menge\n4711;5\n";
    // A record behind the end: torn by a crash, it would leave the end intact.
    const QByteArray trailing = good + "D 3\nOPL\n";
    for (const QByteArray& bad : {longer, count, target, negative, foreign, trailing}) {
        EXPECT_EQ(ParseJournalEntry(bad).state, JournalEntry::State::Damaged) << bad.constData();
    }
    // The window lists damaged entries with the rest.
    QFile f(dir() + "20260310-130000-000.vtj");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(foreign);
    f.close();
    const QList<JournalEntry> all = ReadJournal(dir());
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[0].state, JournalEntry::State::Damaged);  // newest first
    EXPECT_EQ(all[1].state, JournalEntry::State::Complete);
}

TEST_F(JournalTest, TwoEntriesInOneMillisecondKeepBothFiles) {
    JournalWriter a;
    JournalWriter b;
    a.begin(dir(), kNoon, "OPL-98xx", "CSV.TXT", JournalTarget::Csv);
    b.begin(dir(), kNoon, "OPL-98xx", "UGS.TXT", JournalTarget::Ugs);
    a.complete();
    b.complete();
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(ReadJournal(dir()).size(), 2);
}

TEST_F(JournalTest, PruningRemovesOnlyEntriesOlderThanTheDays) {
    const QDateTime now(QDate(2026, 6, 1), QTime(8, 0));
    for (const QDateTime& when : {now.addDays(-91), now.addDays(-90).addSecs(-1),
                                  now.addDays(-89), now.addSecs(-5)}) {
        JournalWriter w;
        w.begin(dir(), when, "OPL-98xx", "CSV.TXT", JournalTarget::Csv);
        w.complete();
    }
    QFile other(dir() + "notes.txt");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    QFile stray(dir() + "kein-datum.vtj");
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();

    EXPECT_EQ(PruneJournal(dir(), 0, now), 0);  // off: nothing is touched
    EXPECT_EQ(PruneJournal(dir(), 90, now), 2);
    QList<QDateTime> left;
    for (const JournalEntry& e : ReadJournal(dir()))
        left << e.when;
    EXPECT_EQ(left, (QList<QDateTime>{QDateTime(), now.addSecs(-5), now.addDays(-89)}));
    EXPECT_TRUE(other.exists());
    EXPECT_EQ(PruneJournal(dir(), 1, now), 1);
}

TEST_F(JournalTest, JournalDaysZeroWritesNothing) {
    progpar.journaldays = 0;
    JournalWriter w;
    w.begin("OPL-98xx", "CSV.TXT", JournalTarget::Csv);
    w.add_line("4711;5");
    w.complete();
    w.outcome(JournalOutcome::Exported, "x");
    EXPECT_FALSE(w.active());
    EXPECT_FALSE(QDir(dir()).exists());
    EXPECT_TRUE(display.log.isEmpty());

    progpar.journaldays = 90;
    w.begin("OPL-98xx", "CSV.TXT", JournalTarget::Csv);
    EXPECT_TRUE(w.active());
    EXPECT_TRUE(w.path().startsWith(QDir::fromNativeSeparators(StartDir) + "Journal/"))
        << w.path().toStdString();
}

TEST_F(JournalTest, UnwritableFolderSaysSoOnceAndGoesOn) {
    // A file where the folder should be: no user can write the journal there.
    QFile blocker(StartDir + "Journal");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (int i = 0; i < 3; ++i) {
        JournalWriter w;
        w.begin("OPL-98xx", "CSV.TXT", JournalTarget::Csv);
        w.add_line("4711;5");
        w.complete();
        w.outcome(JournalOutcome::Exported, "x");
        EXPECT_FALSE(w.active());
    }
    EXPECT_EQ(log_lines_containing(txt::JournalWriteError).size(), 1) << display.log.join('\n').toStdString();
}

#ifndef _WIN32
// A file size limit (a full disk, as far as the journal can tell): the child
// writes until the limit stops it, and lives on to report what it saw.
TEST_F(JournalTest, FileSizeLimitEndsTheEntryNotTheProgram) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit lim{};
        lim.rlim_cur = lim.rlim_max = 300;
        setrlimit(RLIMIT_FSIZE, &lim);
        JournalWriter w;
        w.begin("OPL-98xx", "CSV.TXT", JournalTarget::Csv);
        for (int i = 0; i < 50; ++i)
            w.add_line(QByteArray("1234567890;") + QByteArray::number(i));
        w.complete();
        const bool stopped = !w.active();
        const bool said_once = log_lines_containing(txt::JournalWriteError).size() == 1;
        const JournalEntry e = ReadJournal(dir()).value(0);
        _exit(stopped && said_once && e.state != JournalEntry::State::Complete ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace vt
