// The OPL-98xx host protocol, with the test playing the scanner byte by byte
// on a pseudo-terminal.

#include "links/opl_protocol.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include "links/serial_link.h"
#include "tests/support/com_ports.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

QByteArray Frame(const QByteArray& payload) { return '\x02' + payload + "T0T0" + '\x03'; }
const QByteArray kEnd = Frame(QByteArray(1, '\x04'));
const QByteArray kAck(1, '\x06');

class OplProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ports.map(QStringLiteral("COM5"), pty.slave_path());
        ComHandle = ComOpen(QStringLiteral("COM5"), 115200);
        ASSERT_GT(ComHandle, 0);
        progpar.debug = true;
    }
    // The table as a scanner sends it; the bytes wait in the host's input.
    int32_t ReadTable(const QList<QByteArray>& lines, bool end = true) {
        for (const QByteArray& l : lines) pty.send(Frame(l));
        if (end) pty.send(kEnd);
        return OplFileinfo();
    }

    test::ComPorts ports;
    test::PtyPair pty;
    test::RecordingDisplay display;
};

TEST_F(OplProtocolTest, PollAnswers) {
    struct Case {
        QByteArray answer;
        int32_t result;
        const char* trace;
    };
    const Case cases[] = {{"\x06", 6, "Poll -> ACK"},
                          {"\x15", 21, "Poll -> NAK"},
                          {"A", -1, "Poll -> Error"},
                          {"", -1, "Poll -> Error"}};
    for (const Case& c : cases) {
        display.log.clear();
        // What came before the poll is discarded, not taken as its answer.
        pty.send("\x06\x06");
        QThread::msleep(10);
        pty.reply_after(6, c.answer);
        EXPECT_EQ(OplPoll(), c.result) << c.answer.toHex().constData();
        EXPECT_EQ(pty.heard(), QByteArray("\x02HMS0\x03"));
        EXPECT_EQ(display.log, QStringList{QString::fromLatin1(c.trace)});
    }
    EXPECT_EQ(display.toggles, 4);

    PortClosed = true;
    display.log.clear();
    EXPECT_EQ(OplPoll(), -1);
    EXPECT_EQ(display.toggles, 5);
    EXPECT_TRUE(pty.receive(100).isEmpty());
    EXPECT_TRUE(display.log.isEmpty());

    PortClosed = false;
    progpar.debug = false;
    pty.reply_after(6, "\x15");
    EXPECT_EQ(OplPoll(), 21);
    EXPECT_TRUE(display.log.isEmpty());
}

TEST_F(OplProtocolTest, FramesAreAcknowledgedOnlyWhenWellFormed) {
    struct Case {
        const char* what;
        QByteArray bytes;
        bool ok;
        QByteArray line;
    };
    const QByteArray cap(kOplMaxFrame - 2, 'x');
    const Case cases[] = {
        {"two bytes", "\x02\x03", false, "\x02\x03"},
        {"three bytes: end marker", "\x02Z\x03", true, ""},
        {"EOT alone", Frame("\x04"), true, ""},
        {"EOT and more", Frame("\x04more"), true, ""},
        {"ten bytes", Frame("0123456789"), true, "0123456789"},
        {"start byte 0x41", "A0123456789T0T0\x03", false, "A0123456789T0T0\x03"},
        {"longest frame", '\x02' + cap + '\x03', true, cap.left(cap.size() - 4)},
        {"one byte too long", '\x02' + cap + 'x' + '\x03', false, '\x02' + cap + 'x' + '\x03'},
        {"every byte value", Frame(QByteArray("\x00\x11\x13\x0d\x0a\xff", 6)), true,
         QByteArray("\x00\x11\x13\x0d\x0a\xff", 6)},
    };
    for (const Case& c : cases) {
        pty.send(c.bytes);
        QByteArray line = "old";
        EXPECT_EQ(OplReadLine(line, false), c.ok) << c.what;
        EXPECT_EQ(line.toHex(), c.line.toHex()) << c.what;
        EXPECT_EQ(pty.receive(c.ok ? 500 : 50), c.ok ? kAck : QByteArray()) << c.what;
        ComPurgeInput(ComHandle);
    }
}

// What must be on disk before the scanner may forget a file runs before the
// end marker's ACK leaves, and only for the end marker.
TEST_F(OplProtocolTest, TheEndHookRunsBeforeTheEndMarkerIsAcknowledged) {
    QStringList seen;
    QByteArray line;
    {
        OplBeforeEndAck hook([&] {
            seen << "hook, scanner got: " + pty.receive(100).toHex();
            return true;
        });
        pty.send(Frame("4711"));
        EXPECT_TRUE(OplReadLine(line, false));
        EXPECT_EQ(pty.receive(500), kAck);
        EXPECT_TRUE(seen.isEmpty()) << "not for a line";
        pty.send(kEnd);
        EXPECT_TRUE(OplReadLine(line, false));
        EXPECT_EQ(seen, QStringList{"hook, scanner got: "});
        EXPECT_EQ(pty.receive(500), kAck);
    }
    pty.send(kEnd);
    EXPECT_TRUE(OplReadLine(line, false));
    EXPECT_EQ(seen.size(), 1) << "the hook ends with its object";
    EXPECT_EQ(pty.receive(500), kAck);

    // A file whose last line did not reach the form stays on the scanner.
    OplBeforeEndAck refusing([] { return false; });
    pty.send(kEnd);
    EXPECT_FALSE(OplReadLine(line, false));
    EXPECT_TRUE(pty.receive(300).isEmpty()) << "the end marker is not acknowledged";
}

TEST_F(OplProtocolTest, BytesAfterAnEtxSpoilTheNextLine) {
    pty.send(Frame("first") + "XY" + Frame("second"));
    QByteArray line;
    EXPECT_TRUE(OplReadLine(line, false));
    EXPECT_EQ(line, "first");
    EXPECT_FALSE(OplReadLine(line, false));
    EXPECT_EQ(line, "XY\x02secondT0T0\x03");
    EXPECT_EQ(pty.receive(200), kAck);
}

TEST_F(OplProtocolTest, ALineWithoutEndIsCutOffInsteadOfGrowing) {
    // Sent from a thread: the terminal holds less than the scanner sends.
    pty.reply_after(0, '\x02' + QByteArray(3 * kOplMaxFrame, 'E'));
    QElapsedTimer clock;
    clock.start();
    QByteArray line;
    EXPECT_FALSE(OplReadLine(line, true));
    EXPECT_LT(clock.elapsed(), 1500);  // no waiting for a time-out
    EXPECT_EQ(line.size(), kOplMaxFrame + 1);
    EXPECT_TRUE(pty.receive(50).isEmpty());
}

TEST_F(OplProtocolTest, AGapInsideALineEndsIt) {
    pty.send("\x02" "half");
    QElapsedTimer clock;
    clock.start();
    QByteArray line;
    EXPECT_FALSE(OplReadLine(line, true));
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_EQ(line, "\x02half");
    EXPECT_TRUE(pty.receive(50).isEmpty());
}

TEST_F(OplProtocolTest, LineTraceWordForWord) {
    QByteArray line;
    pty.send(Frame("\x1b" "abc") + Frame("plain") + Frame("\x04") + Frame("\x1b" "q"));
    EXPECT_TRUE(OplReadLine(line, true));
    EXPECT_TRUE(OplReadLine(line, true));
    EXPECT_TRUE(OplReadLine(line, true));
    EXPECT_TRUE(OplReadLine(line, false));
    EXPECT_EQ(display.log, (QStringList{"ReadLine -> ok", "??????? 27", "ReadLine -> ok"}));
    progpar.debug = false;
    pty.send(Frame("\x01"));
    EXPECT_TRUE(OplReadLine(line, true));
    EXPECT_EQ(display.log.size(), 3);
}

TEST_F(OplProtocolTest, FileTableFillsTheFourEntriesInOrder) {
    OplFiles[2].m2text = QStringLiteral("-> CSV Export");
    EXPECT_EQ(ReadTable({"SHOP.TXT;100;3", "SIMPLE.TXT;0;0", "CSV.TXT;2048;12", "UGS.TXT;5;1",
                         "EXTRA.TXT;9;9"}),
              6);
    EXPECT_EQ(OplFiles[0].filename, u"SHOP.TXT");
    EXPECT_EQ(OplFiles[0].fsize, 100);
    EXPECT_EQ(OplFiles[0].count, 3);
    EXPECT_EQ(OplFiles[2].filename, u"CSV.TXT");
    EXPECT_EQ(OplFiles[2].count, 12);
    EXPECT_EQ(OplFiles[3].filename, u"UGS.TXT");
    EXPECT_EQ(OplFiles[2].m2text, u"-> CSV Export");
    EXPECT_EQ(pty.receive(500), QByteArray(6, '\x06'));  // the fifth line too
    EXPECT_EQ(display.log, QStringList{"Fileinfo -> OK"});

    // A two-field line keeps its place; a name with a blank loses its tail.
    EXPECT_EQ(ReadTable({"ONLY;2", "LIST 7;10;2", "C.TXT;1;0"}), 6);
    EXPECT_TRUE(OplFiles[0].filename.isEmpty());
    EXPECT_EQ(OplFiles[0].count, 0);
    EXPECT_EQ(OplFiles[1].filename, u"LIST");
    EXPECT_EQ(OplFiles[1].fsize, 7);
    EXPECT_EQ(OplFiles[1].count, 10);
    EXPECT_EQ(OplFiles[2].filename, u"C.TXT");
    EXPECT_TRUE(OplFiles[3].filename.isEmpty());

    EXPECT_EQ(ReadTable({"A;0;0", "B;0;0", "C;10;0", "D;0;0"}), 21);
    EXPECT_EQ(OplFiles[2].filename, u"C");
}

TEST_F(OplProtocolTest, AnIncompleteTableIsReportedAndKeepsWhatCame) {
    EXPECT_EQ(ReadTable({"A;1;1", "B;2;2"}, false), -1);
    EXPECT_EQ(OplFiles[0].filename, u"A");
    EXPECT_EQ(OplFiles[1].count, 2);
    EXPECT_EQ(display.log, QStringList{"Fileinfo -> Error"});

    display.log.clear();
    pty.send(Frame("A;1;1") + "B;2;2T0T0\x03");
    EXPECT_EQ(OplFileinfo(), -1);
    EXPECT_EQ(display.log, QStringList{"Fileinfo -> Error"});
}

TEST_F(OplProtocolTest, ATableLineWithoutNumbersMakesTheTableUnusable) {
    EXPECT_EQ(ReadTable({"A;1;1", "B;big;2", "C;3;x3", "D;4;4"}), -1);
    EXPECT_EQ(OplFiles[0].count, 1);
    EXPECT_TRUE(OplFiles[1].filename.isEmpty());
    EXPECT_TRUE(OplFiles[2].filename.isEmpty());
    EXPECT_EQ(OplFiles[3].count, 4);
    // The rest of the table is still taken, so the scanner stays in step.
    EXPECT_EQ(pty.receive(500), QByteArray(5, '\x06'));
    EXPECT_EQ(display.log, (QStringList{"Fileinfo -> Error: no number in B;big;2",
                                        "Fileinfo -> Error: no number in C;3;x3",
                                        "Fileinfo -> OK"}));
    pty.reply_after(6, "\x06");
    EXPECT_EQ(OplPoll(), 6);
    EXPECT_EQ(ReadTable({"A;1;1", "B;2;2", "C;3;3", "D;4;4"}), 6);
}

TEST_F(OplProtocolTest, UnsafeFileNamesNeverEnterTheTable) {
    progpar.debug = false;
    EXPECT_EQ(ReadTable({"..;10;5", "a/b;10;5", "a\\b;10;5", "C:x;10;5"}), 21);
    for (const fileinforecord& f : OplFiles) {
        EXPECT_TRUE(f.filename.isEmpty());
        EXPECT_EQ(f.count, 0);
    }
    EXPECT_EQ(display.log, (QStringList{"Ungültiger Dateiname vom MDE : \"..\"",
                                        "Ungültiger Dateiname vom MDE : \"a/b\"",
                                        "Ungültiger Dateiname vom MDE : \"a\\b\"",
                                        "Ungültiger Dateiname vom MDE : \"C:x\""}));
    display.log.clear();
    EXPECT_EQ(ReadTable({".;1;1", "\"\";1;1", "\"../up\";1;1", "ok.txt;1;1"}), 6);
    EXPECT_EQ(display.log.size(), 3);
    EXPECT_EQ(OplFiles[3].filename, u"ok.txt");
}

TEST_F(OplProtocolTest, FileRequestAndEndCommand) {
    OplFiles[2].filename = QStringLiteral("CSV.TXT");
    pty.reply_after(6, "\x06");
    EXPECT_TRUE(OplRequestFile(2));
    EXPECT_EQ(pty.heard(), QByteArray("\x02HMS3\x03"));
    EXPECT_EQ(display.log, (QStringList{"Receive -> ACK", "CSV.TXT"}));

    display.log.clear();
    pty.reply_after(6, "\x15");
    EXPECT_FALSE(OplRequestFile(0));
    EXPECT_EQ(pty.heard(), QByteArray("\x02HMS1\x03"));
    pty.reply_after(6, "\x07");
    EXPECT_FALSE(OplRequestFile(3));
    EXPECT_EQ(pty.heard(), QByteArray("\x02HMS4\x03"));
    EXPECT_EQ(display.log, (QStringList{"Receive -> NAK", "Receive -> Error"}));
    EXPECT_FALSE(OplRequestFile(4));
    EXPECT_FALSE(OplRequestFile(-1));
    EXPECT_TRUE(pty.receive(50).isEmpty());

    display.log.clear();
    pty.reply_after(6, "\x15");
    EXPECT_FALSE(OplSendEnd());
    EXPECT_EQ(pty.heard(), QByteArray("\x02HME0\x03"));
    pty.reply_after(6, "\x06");
    EXPECT_TRUE(OplSendEnd());
    EXPECT_EQ(display.log, (QStringList{"Receive -> NAK", "Receive -> ACK"}));
}

TEST(OplFilesAtStart, TargetsAreLabelled) {
    EXPECT_EQ(OplFiles[0].m2text, u"-> Shop Vantor");
    EXPECT_EQ(OplFiles[1].m2text, u"-> Shop Simple System");
    EXPECT_EQ(OplFiles[3].m2text, u"-> UGS Export");
}

}  // namespace
}  // namespace vt
