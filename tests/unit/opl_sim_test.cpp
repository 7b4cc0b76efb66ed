// The protocol functions against the scanner simulator, a real process on a
// pseudo-terminal: whole downloads, and every fault it can inject.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "links/opl_protocol.h"
#include "links/serial_link.h"
#include "tests/support/com_ports.h"
#include "tests/support/opl_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

QList<QByteArray> Lines(const char* prefix, int n) {
    QList<QByteArray> out;
    for (int i = 0; i < n; ++i) out << QByteArray(prefix) + QByteArray::number(i) + " \xc4\xd6\xdc";
    return out;
}

// The file's lines up to the end marker; false when a line failed.
bool Download(int index, QList<QByteArray>& lines) {
    lines.clear();
    if (!OplRequestFile(index)) return false;
    for (;;) {
        QByteArray line;
        if (!OplReadLine(line, true)) return false;
        if (line.isEmpty()) return true;
        lines << line;
    }
}

class OplSimTest : public ::testing::Test {
protected:
    void Start(const QStringList& options = {}) {
        sim.set_file(0, Lines("4711                        ", 3));
        sim.set_file(1, Lines("SIMPLE-", 1));
        sim.set_file(2, Lines("csv;", 12));
        sim.set_file(3, Lines("UGS", 2));
        ASSERT_TRUE(sim.start(options));
        ports.map(QStringLiteral("COM5"), sim.pty_path());
        ComHandle = ComOpen(QStringLiteral("COM5"), 115200);
        ASSERT_GT(ComHandle, 0);
    }
    // A poll and a complete table, as the next cycle would do it.
    void ExpectHealthy() {
        DelayWithMessages(1000);  // the cycle's pause before its next poll
        ASSERT_EQ(OplPoll(), 6);
        EXPECT_EQ(OplFileinfo(), 6);
        EXPECT_EQ(OplFiles[2].count, 12);
    }

    test::ComPorts ports;
    test::RecordingDisplay display;
    test::OplSim sim{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
};

TEST_F(OplSimTest, EveryFileIsDownloadedAndAcknowledged) {
    Start();
    ASSERT_EQ(OplPoll(), 6);
    ASSERT_EQ(OplFileinfo(), 6);
    const char* names[] = {"SHOP.TXT", "SIMPLE.TXT", "CSV.TXT", "UGS.TXT"};
    const int counts[] = {3, 1, 12, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(OplFiles[size_t(i)].filename, QString::fromLatin1(names[i]));
        EXPECT_EQ(OplFiles[size_t(i)].count, counts[i]);
    }
    QList<QByteArray> got;
    ASSERT_TRUE(Download(2, got));
    EXPECT_EQ(got, Lines("csv;", 12));
    ASSERT_TRUE(Download(3, got));
    EXPECT_EQ(got, Lines("UGS", 2));
    ASSERT_TRUE(Download(0, got));
    EXPECT_EQ(got, Lines("4711                        ", 3));
    ASSERT_TRUE(Download(1, got));
    EXPECT_EQ(got, Lines("SIMPLE-", 1));
    EXPECT_TRUE(OplSendEnd());

    ASSERT_TRUE(sim.wait_for_log("RX HME0", 2000));
    const QStringList log = sim.log();
    EXPECT_EQ(log.count(u"RX ACK"), 5 + 13 + 3 + 4 + 2);
    for (const char* done : {"DONE HMS0", "DONE HMS1", "DONE HMS2", "DONE HMS3", "DONE HMS4"}) {
        EXPECT_TRUE(log.filter(QString::fromLatin1(done)).size() == 1) << done;
    }
}

TEST_F(OplSimTest, ADroppedFileIsGoneFromTheNextTable) {
    Start({"--drop-after-end"});
    ASSERT_EQ(OplPoll(), 6);
    ASSERT_EQ(OplFileinfo(), 6);
    QList<QByteArray> got;
    ASSERT_TRUE(Download(2, got));
    ASSERT_TRUE(sim.wait_for_log("DROP 2", 2000));
    ASSERT_EQ(OplPoll(), 6);
    ASSERT_EQ(OplFileinfo(), 6);
    EXPECT_EQ(OplFiles[2].count, 0);
    EXPECT_EQ(OplFiles[3].count, 2);
}

struct FaultCase {
    const char* fault;
    const char* expect;  // what the host sees
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.fault; }

class OplSimFaultTest : public OplSimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(OplSimFaultTest, FailsAsDocumentedAndTheNextPollWorks) {
    Start({"--fault", QString::fromLatin1(GetParam().fault)});
    const QString expect = QString::fromLatin1(GetParam().expect);
    QList<QByteArray> got;
    if (expect.startsWith(u"poll")) {
        EXPECT_EQ(OplPoll(), expect == u"poll 21" ? 21 : -1);
    } else if (expect == u"table -1") {
        ASSERT_EQ(OplPoll(), 6);
        EXPECT_EQ(OplFileinfo(), -1);
    } else {
        ASSERT_EQ(OplPoll(), 6);
        ASSERT_EQ(OplFileinfo(), 6);
        if (expect == u"request refused") {
            EXPECT_FALSE(OplRequestFile(2));
        } else if (expect == u"end refused") {
            EXPECT_FALSE(OplSendEnd());
        } else {
            EXPECT_FALSE(Download(2, got));
            EXPECT_EQ(got.size(), expect == u"line 1 fails" ? 1 : 0);
        }
    }
    ASSERT_TRUE(sim.wait_for_log("FAULT", 1000));
    ExpectHealthy();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OplSimFaultTest,
    ::testing::Values(FaultCase{"no-answer:HMS0", "poll -1"}, FaultCase{"nak:HMS0", "poll 21"},
                      FaultCase{"byte:HMS0", "poll -1"},
                      FaultCase{"broken-frame:HMS0:2", "table -1"},
                      FaultCase{"gap:HMS0:1", "table -1"},
                      FaultCase{"nak:HMS3", "request refused"},
                      FaultCase{"no-answer:HMS3", "request refused"},
                      FaultCase{"no-answer:HME0", "end refused"},
                      FaultCase{"broken-frame:HMS3:1", "line 1 fails"},
                      FaultCase{"gap:HMS3:0", "line 0 fails"},
                      FaultCase{"garbage:HMS3:0", "line 1 fails"},
                      FaultCase{"endless:HMS3:0", "line 0 fails"}),
    [](const auto& info) {
        std::string name = info.param.fault;
        for (char& c : name) {
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

TEST_F(OplSimTest, AHangUpReadsAsSilenceAndThePortIsGone) {
    Start({"--fault", "hangup:HMS0"});
    EXPECT_FALSE(ComVanished(ComHandle));
    EXPECT_EQ(OplPoll(), -1);
    EXPECT_TRUE(sim.wait_finished(3000));
    EXPECT_TRUE(ComVanished(ComHandle));
    EXPECT_FALSE(ComVanished(0));
    EXPECT_FALSE(ComVanished(-1));
    EXPECT_EQ(OplPoll(), -1);
    QByteArray line;
    EXPECT_FALSE(OplReadLine(line, true));
    EXPECT_TRUE(ComClose(ComHandle));
    EXPECT_EQ(ComOpen(QStringLiteral("COM5"), 115200), -1);
}

// The soak's scanner: after a hang-up it comes back under the same link, and
// it fills itself with files whose every line names its file and number.
TEST(OplSimSoakModes, ReconnectsUnderItsLinkAndOffersNumberedFiles) {
    test::ComPorts ports;
    test::RecordingDisplay display;
    test::OplSim sim{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    const QString link = QDir(StartDir).filePath("scanner");
    ASSERT_TRUE(sim.start({"--generate", "--link", link, "--reconnect-ms", "200", "--fault",
                           "hangup:HMS0", "--seed", "7", "--max-lines", "3"}));
#ifdef _WIN32
    // Under Wine the simulator's COM port leads to the link itself.
    ports.map(QStringLiteral("COM5"), sim.pty_path());
#else
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.pty_path());
    ports.map(QStringLiteral("COM5"), link);
#endif
    ComHandle = ComOpen(QStringLiteral("COM5"), 115200);
    ASSERT_GT(ComHandle, 0);
    EXPECT_EQ(OplPoll(), -1);
    ASSERT_TRUE(sim.wait_for_log("RECONNECT", 3000));
    EXPECT_TRUE(sim.running());
    EXPECT_TRUE(ComVanished(ComHandle));
    ComClose(ComHandle);
#ifndef _WIN32
    EXPECT_NE(QFileInfo(link).symLinkTarget(), sim.pty_path()) << "a new terminal";
#endif
    ComHandle = ComOpen(QStringLiteral("COM5"), 115200);
    ASSERT_GT(ComHandle, 0);

    // Polls until some file appears (each empty file appears with chance 1/3).
    int table = 21;
    for (int i = 0; i < 20 && table == 21; ++i) {
        ASSERT_EQ(OplPoll(), 6);
        table = OplFileinfo();
    }
    ASSERT_EQ(table, 6);
    for (int index = 0; index < 4; ++index) {
        if (OplFiles[size_t(index)].count == 0)
            continue;
        const QStringList offer = sim.log_lines(QString("OFFER "));
        QList<QByteArray> got;
        ASSERT_TRUE(Download(index, got));
        ASSERT_EQ(got.size(), OplFiles[size_t(index)].count);
        ASSERT_FALSE(got.isEmpty());
        const QRegularExpressionMatch first =
            QRegularExpression("S(\\d+)L1 ").match(QString::fromLatin1(got[0]));
        ASSERT_TRUE(first.hasMatch()) << got[0].constData();
        const QByteArray serial = first.captured(1).toLatin1();
        for (int n = 0; n < got.size(); ++n)
            EXPECT_TRUE(got[n].contains("S" + serial + "L" + QByteArray::number(n + 1) + " "))
                << got[n].constData();
        EXPECT_EQ(got[0].size(), index <= 1 ? 35 : index == 2 ? 81 : 55) << "its column layout";
        EXPECT_TRUE(sim.wait_for_log(QString("DELIVERED %1 %2").arg(serial.constData()).arg(index),
                                     2000));
        EXPECT_TRUE(offer.filter(QString("OFFER %1 %2 %3").arg(serial.constData()).arg(index)
                                     .arg(got.size())).size() == 1);
    }
    sim.stop();
    for (const QString& held : sim.log_lines("HELD "))
        EXPECT_TRUE(sim.log_lines("OFFER " + held.section(' ', 1, 2)).size() == 1) << held;
}

}  // namespace
}  // namespace vt
