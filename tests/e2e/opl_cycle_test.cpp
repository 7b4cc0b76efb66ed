// The real VantorTrans against the simulated OPL-98xx scanner and two order
// forms in Chromium: the exports, the shop lines in the pages, and the faults
// a real cycle meets. Throughout, every scanner file is either delivered
// once or still held by the scanner.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMap>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <memory>

#include "links/journal.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_records.h"
#include "tests/support/opl_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/temp_files.h"

namespace vt::test {
namespace {

static const bool kDesktop = EnsureTestDesktop();

const QString kShopTitle = "Testshop Bestellformular";
const QString kSimpleTitle = "Simple System Bestellformular";

class OplCycle : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDesktop);
        QDir(dir_.path()).mkdir("csv");
        QDir(dir_.path()).mkdir("ugs");
        sim_.set_file(0, {ShopRecord("4711", "12"), ShopRecord("X;0815;Y", "3")});
        sim_.set_file(1, {ShopRecord("S-100", "1"), ShopRecord("S-200", "4")});
        sim_.set_file(2, {CsvRecord("4711", "12"), CsvRecord("0815", "3")});
        sim_.set_file(3, {UgsRecord("4711", "12"), UgsRecord("0815", "3")});
    }
    void TearDown() override {
        if (HasFailure()) {
            // What the desktop showed, for the failure's reader.
            const QString name =
                QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name());
            QGuiApplication::primaryScreen()->grabWindow(0).save(
                QStringLiteral(VT_BIN_DIR "/../e2e-") + name + ".png");
        }
        if (program_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(program_.processId()), SIGTERM);
            if (!program_.waitForFinished(10000))
                program_.kill();
        }
        program_.waitForFinished(3000);
    }

    void StartAll(int keysendmode, const QStringList& sim_options, bool shops = true) {
        ASSERT_TRUE(sim_.start(QStringList{"--drop-after-end"} + sim_options));
        if (shops) {
            ASSERT_TRUE(shop_.open(kShopTitle)) << "Chromium did not show the brand shop";
            ASSERT_TRUE(simple_.open(kSimpleTitle))
                << "Chromium did not show the Simple System shop";
            // A batch is pasted without the access key, where the user left
            // the cursor: in the order field.
            for (OrderForm* form : {&shop_, &simple_}) {
                RunOnDesktop("xdotool",
                             {"windowactivate", "--sync", QString::number(form->window())});
                RunOnDesktop("xdotool", {"key", "alt+i"});
                PumpEvents(300);
                ASSERT_TRUE(form->field_focused());
            }
        }
        write_file(
            dir_.filePath("VantorTrans.ini"),
            QString(
                "[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=%1\r\n"
                "[PARAMETER]\r\nKeysendmode=%2\r\n"
                "[Vantor]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\nFormTitle=%3\r\nAccessKey=I\r\n"
                "[Simple System]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\nFormTitle=%4\r\n"
                "[Directory]\r\nCSV=%5/\r\nUGS=%6/\r\n")
                .arg(sim_.pty_path())
                .arg(keysendmode)
                .arg(kShopTitle, kSimpleTitle, dir_.filePath("csv"), dir_.filePath("ugs"))
                .toUtf8());
        QProcessEnvironment env = DesktopEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime_.path());
        program_.setProcessEnvironment(env);
        program_.setWorkingDirectory(dir_.path());
        program_.setProcessChannelMode(QProcess::ForwardedChannels);
        program_.start(QStringLiteral(VT_BIN_DIR "/VantorTrans"), {});
        ASSERT_TRUE(program_.waitForStarted(5000));
    }

    // Answers a box of the program titled `title` with the Return key, as a
    // person at the keyboard would.
    bool AnswerBox(const QString& title, int timeout_ms) {
        auto find = [&] {
            return RunOnDesktop("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"},
                                3000)
                .value_or(QByteArray())
                .trimmed()
                .split('\n')
                .value(0);
        };
        QElapsedTimer t;
        t.start();
        bool pressed = false;
        while (t.elapsed() < timeout_ms) {
            const QByteArray id = find();
            if (id.isEmpty()) {
                if (pressed)
                    return true;  // the box is gone: it was answered
            } else {
                RunOnDesktop("xdotool", {"windowactivate", "--sync", QString::fromLatin1(id)});
                PumpEvents(200);
                RunOnDesktop("xdotool", {"key", "Return"});
                pressed = true;
            }
            PumpEvents(300);
        }
        return false;
    }

    // The export files in `folder` whose names start with `stem`.
    QStringList Exports(const QString& folder, const QString& stem) const {
        return QDir(dir_.filePath(folder)).entryList({stem + "_*"}, QDir::Files);
    }
    bool WaitForExport(const QString& folder, const QString& stem, int timeout_ms) const {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeout_ms) {
            if (!Exports(folder, stem).isEmpty())
                return true;
            PumpEvents(100);
        }
        return false;
    }
    int Count(const QString& prefix) const { return sim_.count(prefix); }
    bool WaitForCount(const QString& prefix, int count, int timeout_ms) const {
        return WaitFor([&] { return Count(prefix) >= count; }, timeout_ms, 100);
    }
    QByteArray ReadExport(const QString& folder, const QString& stem) const {
        return read_file(dir_.filePath(folder + "/" + Exports(folder, stem).value(0)));
    }

    QTemporaryDir dir_, runtime_;
    OplSim sim_{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    OrderForm shop_, simple_;
    QProcess program_;
};

TEST_F(OplCycle, EveryFileReachesItsTargetLineByLine) {
    StartAll(0, {"--watch-dir", dir_.filePath("Journal")});
    ASSERT_TRUE(WaitForExport("csv", "CSV", 20000));
    ASSERT_TRUE(WaitForExport("ugs", "UGS", 10000));
    EXPECT_EQ(ReadExport("csv", "CSV"), kCsvExport);
    EXPECT_EQ(ReadExport("ugs", "UGS"), UgsExport());
    EXPECT_EQ(Count("RX HMS1"), 0) << "the brand shop waits for the confirmation";
    ASSERT_TRUE(AnswerBox("Bestätigen", 10000));
    EXPECT_TRUE(shop_.wait_for_field("4711\t12\n0815\t3\n", 15000)) << shop_.field_text();
    EXPECT_TRUE(simple_.wait_for_field("S-100\nS-200\n", 15000)) << simple_.field_text();
    ASSERT_TRUE(WaitForCount("DROP", 4, 10000)) << "the scanner let every file go";
    // The next polls find nothing more; nothing is delivered twice.
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 5000));
    EXPECT_EQ(Exports("csv", "CSV").size(), 1);
    EXPECT_EQ(Exports("ugs", "UGS").size(), 1);
    EXPECT_EQ(shop_.field_text(), "4711\t12\n0815\t3\n");
    EXPECT_EQ(QDir(dir_.filePath("Temp")).entryList(QDir::Files).size(), 4) << "working files";

    // Every file of the cycle is in the journal, exactly as received, with
    // what became of it.
    const QList<JournalEntry> entries = ReadJournal(dir_.filePath("Journal"));
    ASSERT_EQ(entries.size(), 4);
    QMap<int32_t, JournalEntry> by_target;
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(e.state, JournalEntry::State::Complete) << e.path;
        EXPECT_EQ(e.device, "OPL-98xx");
        by_target[e.target] = e;
    }
    ASSERT_EQ(by_target.size(), 4);
    EXPECT_EQ(by_target[0].lines, (QList<QByteArray>{ShopRecord("4711", "12"),
                                                     ShopRecord("X;0815;Y", "3")}));
    EXPECT_EQ(by_target[1].lines, (QList<QByteArray>{ShopRecord("S-100", "1"),
                                                     ShopRecord("S-200", "4")}));
    EXPECT_EQ(by_target[2].lines, (QList<QByteArray>{CsvRecord("4711", "12"),
                                                     CsvRecord("0815", "3")}));
    EXPECT_EQ(by_target[3].lines, (QList<QByteArray>{UgsRecord("4711", "12"),
                                                     UgsRecord("0815", "3")}));
    EXPECT_EQ(by_target[0].outcome, JournalOutcome::Pasted);
    EXPECT_TRUE(by_target[0].outcome_text.contains(kShopTitle)) << by_target[0].outcome_text;
    EXPECT_EQ(by_target[1].outcome, JournalOutcome::Pasted);
    EXPECT_TRUE(by_target[1].outcome_text.contains(kSimpleTitle)) << by_target[1].outcome_text;
    EXPECT_EQ(by_target[2].outcome, JournalOutcome::Exported);
    EXPECT_EQ(by_target[2].outcome_text, dir_.filePath("csv/" + Exports("csv", "CSV").value(0)));
    EXPECT_EQ(by_target[3].outcome, JournalOutcome::Exported);
    EXPECT_EQ(by_target[3].outcome_text, dir_.filePath("ugs/" + Exports("ugs", "UGS").value(0)));

    // What each entry held on disk the moment the scanner saw its end marker
    // acknowledged: the first time the simulator lists an entry is at the end
    // of its own file, and already then the entry must be whole.
    for (const JournalEntry& e : entries) {
        const QString name = QFileInfo(e.path).fileName();
        const QStringList seen = sim_.log_lines("AT-END-ACK " + name + " ");
        ASSERT_FALSE(seen.isEmpty()) << name.toStdString();
        bool ok = false;
        const qsizetype size = seen.first().section(' ', 2, 2).toLongLong(&ok);
        ASSERT_TRUE(ok) << seen.first().toStdString();
        const JournalEntry at_ack = ParseJournalEntry(read_file(e.path).left(size));
        EXPECT_EQ(at_ack.state, JournalEntry::State::Complete) << name.toStdString();
        EXPECT_EQ(at_ack.lines, e.lines) << name.toStdString();
    }
}

TEST_F(OplCycle, BatchModePastesEachShopFileAtOnce) {
    StartAll(1, {});
    ASSERT_TRUE(AnswerBox("Bestätigen", 20000));
    EXPECT_TRUE(shop_.wait_for_field("4711\t12\n0815\t3\n", 15000)) << shop_.field_text();
    EXPECT_TRUE(simple_.wait_for_field("S-100\nS-200\n", 15000)) << simple_.field_text();
    EXPECT_EQ(shop_.field_changes(), 1) << "one paste for the whole file";
    EXPECT_TRUE(WaitForCount("DROP", 4, 10000));
}

// Each fault fires once: the file fails in that cycle, the scanner keeps it,
// and a later cycle delivers it exactly once.
TEST_F(OplCycle, FaultsInTheExportFilesAreRecoveredByTheNextCycle) {
    StartAll(0, {"--fault", "gap:HMS3:1", "--fault", "nak:HMS4", "--fault", "broken-frame:HMS0:2"},
             false);
    ASSERT_TRUE(WaitForExport("csv", "CSV", 30000));
    ASSERT_TRUE(WaitForExport("ugs", "UGS", 10000));
    EXPECT_GE(Count("FAULT gap"), 1);
    EXPECT_GE(Count("FAULT nak"), 1);
    EXPECT_GE(Count("FAULT broken-frame"), 1);
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 6000)) << "polling goes on";
    EXPECT_EQ(Exports("csv", "CSV").size(), 1) << "the broken download was not exported";
    EXPECT_EQ(Exports("ugs", "UGS").size(), 1);
    EXPECT_EQ(ReadExport("csv", "CSV"), kCsvExport);
    EXPECT_EQ(ReadExport("ugs", "UGS"), UgsExport());
    EXPECT_EQ(Count("DROP 0") + Count("DROP 1"), 0) << "no shop window: the shop files stay";
    EXPECT_EQ(Count("RX HMS1") + Count("RX HMS2"), 0);
}

TEST_F(OplCycle, ShopWindowClosedInTheMiddleOfItsFileKeepsTheFile) {
    sim_.set_file(1, {});
    QList<QByteArray> many;
    // Long enough (about 20 s line by line) that a loaded machine's late
    // reports from the page still find the file in transfer.
    for (int i = 0; i < 160; ++i)
        many << ShopRecord("A" + QByteArray::number(1000 + i), "1");
    sim_.set_file(0, many);
    StartAll(0, {"--baud", "9600"});
    ASSERT_TRUE(AnswerBox("Bestätigen", 20000));
    // Close the brand shop's browser once a few lines have arrived.
    QElapsedTimer t;
    t.start();
    while (shop_.field_text().count('\n') < 3 && t.elapsed() < 20000)
        PumpEvents(20);
    const QString typed = shop_.field_text();
    ASSERT_GE(typed.count('\n'), 3);
    shop_.close();
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 8000)) << "polling goes on";
    EXPECT_EQ(Count("DROP 0"), 0) << "the scanner keeps the file";
    EXPECT_TRUE(typed.startsWith("A1000\t1\nA1001\t1\nA1002\t1\n")) << typed;
    EXPECT_EQ(program_.state(), QProcess::Running);
}

// Another program takes the focus while the brand shop's 40 lines are
// typed: nothing reaches it, and the form gets every line exactly once.
class OplFocusTaken : public OplCycle {
  protected:
    void SetUp() override {
        OplCycle::SetUp();
        sim_.set_file(1, {});
        for (int i = 0; i < 40; ++i) {
            const QByteArray article = "F" + QByteArray::number(2000 + i);
            const QByteArray quantity = QByteArray::number(i % 9 + 1);
            file_ << ShopRecord(article, quantity);
            expected_ += QString::fromLatin1(article + '\t' + quantity + '\n');
        }
        sim_.set_file(0, file_);
    }
    // Pumps events until the form holds at least `count` lines.
    bool WaitForLines(int count, int timeout_ms) {
        QElapsedTimer t;
        t.start();
        while (shop_.field_text().count('\n') < count && t.elapsed() < timeout_ms)
            PumpEvents(10);
        return shop_.field_text().count('\n') >= count;
    }
    // The keys the mail window got, but for the Return with which the test
    // answers the program's box: its release may land wherever the focus
    // goes once the box is gone.
    QStringList MailKeys() const {
        QStringList keys = mail_.keys();
        keys.removeAll("up Return");
        return keys;
    }
    QList<QByteArray> file_;
    QString expected_;
    RecordingWindow mail_{"Posteingang - Mail", "Mail"};
};

TEST_F(OplFocusTaken, BrieflyThreeTimesCostsAPauseNotTheFile) {
    StartAll(0, {});
    ASSERT_TRUE(AnswerBox("Bestätigen", 20000));
    // As soon as the typing has begun, a user clicks into their mail three
    // times within a second.
    ASSERT_TRUE(WaitForLines(2, 20000));
    qsizetype typed_at_first_theft = -1;
    for (int i = 0; i < 3; ++i) {
        RunOnDesktop("xdotool", {"windowactivate", QString::number(mail_.handle())});
        if (i == 0)
            typed_at_first_theft = shop_.field_text().count('\n');
        PumpEvents(200);
    }
    // The page reports its field late on a fast machine, so the file may be
    // whole before the test sees it begin; the checks below hold either way.
    if (typed_at_first_theft >= 40)
        std::printf("note: all lines were in the form before the focus was taken\n");
    EXPECT_TRUE(shop_.wait_for_field(expected_, 20000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 10000)) << "the file arrived whole";
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 6000));
    EXPECT_EQ(shop_.settle(300), expected_) << "every line exactly once";
    EXPECT_TRUE(MailKeys().isEmpty()) << MailKeys().join(", ").toStdString();
}

TEST_F(OplFocusTaken, LongerThanTheRetryTheNextCycleTypesOnlyTheRest) {
    StartAll(0, {});
    ASSERT_TRUE(AnswerBox("Bestätigen", 20000));
    ASSERT_TRUE(WaitForLines(5, 20000));
    mail_.steal_focus(true);
    PumpEvents(3500);
    const QString typed = shop_.field_text();
    mail_.steal_focus(false);
    ASSERT_LT(typed.count('\n'), 40);
    EXPECT_TRUE(expected_.startsWith(typed))
        << typed << "\nsearch field: " << shop_.search_text();
    EXPECT_EQ(Count("DROP 0"), 0) << "the scanner keeps the failed file";
    // The next cycle offers the file again and completes it in the same form.
    ASSERT_TRUE(AnswerBox("Bestätigen", 20000))
        << shop_.field_text().count('\n') << " lines; scanner: "
        << sim_.log().mid(sim_.log().size() - 15).join(" | ").toStdString();
    EXPECT_TRUE(shop_.wait_for_field(expected_, 20000)) << shop_.field_text();
    ASSERT_TRUE(WaitForCount("DROP 0", 1, 10000));
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 6000));
    EXPECT_EQ(shop_.settle(300), expected_) << "every line exactly once";
    EXPECT_TRUE(MailKeys().isEmpty()) << MailKeys().join(", ").toStdString();
}

// The program killed in the middle of a download: its journal entry reads
// as incomplete with the lines that had arrived, the scanner still holds the
// file, and the next run's download makes a complete entry of its own.
TEST_F(OplCycle, KilledDuringADownloadLeavesAnIncompleteEntry) {
    QList<QByteArray> many;
    for (int i = 0; i < 600; ++i)
        many << CsvRecord("A" + QByteArray::number(10000 + i), "1");
    sim_.set_file(2, many);
    sim_.set_file(3, {});
    StartAll(0, {"--baud", "38400"}, false);
    const QString journal = dir_.filePath("Journal");
    QElapsedTimer t;
    t.start();
    qsizetype arrived = 0;
    while (arrived < 20 && t.elapsed() < 20000) {
        PumpEvents(50);
        arrived = ReadJournal(journal).value(0).lines.size();
    }
    ASSERT_GE(arrived, 20);
    ::kill(static_cast<pid_t>(program_.processId()), SIGKILL);
    ASSERT_TRUE(program_.waitForFinished(5000));
    EXPECT_EQ(Count("DROP 2"), 0) << "the scanner keeps the file";

    QList<JournalEntry> entries = ReadJournal(journal);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].state, JournalEntry::State::Incomplete);
    ASSERT_GE(entries[0].lines.size(), arrived);
    EXPECT_LT(entries[0].lines.size(), many.size());
    EXPECT_EQ(entries[0].lines, many.mid(0, entries[0].lines.size()));

    program_.start(QStringLiteral(VT_BIN_DIR "/VantorTrans"), {});
    ASSERT_TRUE(program_.waitForStarted(5000));
    ASSERT_TRUE(WaitForCount("DROP 2", 1, 60000));
    entries = ReadJournal(journal);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].state, JournalEntry::State::Complete);
    EXPECT_EQ(entries[0].lines, many);
    EXPECT_EQ(entries[1].state, JournalEntry::State::Incomplete);
    ASSERT_TRUE(WaitForExport("csv", "CSV", 10000));
}

TEST_F(OplCycle, ScannerHangingUpInTheMiddleOfAFileLeavesItUnexported) {
    StartAll(0, {"--fault", "hangup:HMS3"}, false);
    ASSERT_TRUE(WaitForCount("FAULT hangup", 1, 20000));
    ASSERT_TRUE(sim_.wait_finished(5000));
    PumpEvents(4000);  // a few more cycles against the vanished device
    EXPECT_EQ(program_.state(), QProcess::Running);
    EXPECT_TRUE(Exports("csv", "CSV").isEmpty());
    EXPECT_EQ(Count("DROP"), 0) << "the scanner holds every file";
}

TEST_F(OplCycle, MissingCsvFolderShowsTheBoxAndTheCycleGoesOn) {
    StartAll(0, {}, false);
    // The folder goes away after the settings were loaded, which the working
    // folder's creation at the first activation shows.
    QElapsedTimer t;
    t.start();
    while (!QDir(dir_.filePath("Temp")).exists() && t.elapsed() < 10000)
        PumpEvents(20);
    ASSERT_TRUE(QDir(dir_.filePath("csv")).removeRecursively());
    ASSERT_TRUE(AnswerBox("Fehler", 20000)) << "the error box names the export";
    ASSERT_TRUE(WaitForExport("ugs", "UGS", 10000)) << "the next file still goes";
    ASSERT_TRUE(WaitForCount("RX HMS0", Count("RX HMS0") + 2, 6000));
    EXPECT_EQ(program_.state(), QProcess::Running);
    EXPECT_EQ(QDir(dir_.filePath("Temp")).entryList({"CSV.TXT"}, QDir::Files).size(), 1)
        << "the downloaded lines stay in the working file";
}

}  // namespace
}  // namespace vt::test
