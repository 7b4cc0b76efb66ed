// The OPL-98xx host protocol against a scanner that sends anything: the
// poll, the file table, file requests and their lines, and the closing
// command, as one download cycle asks for them.
//
// Input: one byte of choices (bit 0 debug tracing, bits 2-5 files to request
// even when the table names no records for them), then the bytes the scanner
// sends, in order, as answers to whatever the host asks.

#include <array>

#include "fuzz/fake_serial.h"
#include "fuzz/fuzz_support.h"
#include "links/opl_protocol.h"
#include "links/serial_link.h"
#include "settings/settings.h"

using namespace vt;
using vt::fuzz::Check;
using vt::fuzz::FakePort;

namespace {

QByteArray Framed(const char* four_letters) {
    return QByteArray(1, STX) + four_letters + QByteArray(1, ETX);
}

// The bytes the host wrote since `from`, as one list entry per write.
QList<QByteArray> WritesSince(qsizetype from) { return FakePort().writes.mid(from); }

bool IsPlainName(const QString& name) {
    if (name == u"." || name == u"..") return false;
    for (QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':') return false;
    }
    return !name.isEmpty();
}

void CheckTable(int32_t table, const std::array<QString, 4>& labels) {
    Check(table == ACK || table == NAK || table == -1, "file table result out of range");
    bool any_records = false;
    for (size_t i = 0; i < OplFiles.size(); ++i) {
        const fileinforecord& f = OplFiles[i];
        // The download cycle makes a working-file path of the name of every
        // entry with records: it must be a plain name inside Temp/.
        Check(f.filename.isEmpty() || IsPlainName(f.filename), "unsafe file name taken");
        if (f.filename.isEmpty()) Check(f.count == 0 && f.fsize == 0, "numbers without a name");
        Check(f.m2text == labels[i], "file table changed an entry's label");
        any_records = any_records || f.count > 0;
    }
    if (table == ACK) Check(any_records, "ACK for a table without records");
    if (table == NAK) Check(!any_records, "NAK for a table with records");
}

// The lines of one requested file, up to the end marker or the first broken
// frame. Every good frame is acknowledged once, a broken one never.
void ReadFileLines() {
    for (;;) {
        const qsizetype before = FakePort().writes.size();
        const size_t served = vt::fuzz::BytesServed();
        QByteArray line;
        const bool ok = OplReadLine(line, true);
        const QList<QByteArray> wrote = WritesSince(before);
        if (!ok) {
            Check(wrote.isEmpty(), "a broken frame was answered");
            Check(line.size() <= kOplMaxFrame + 1, "a broken frame grew past the limit");
            return;
        }
        Check(wrote == QList<QByteArray>{QByteArray(1, ACK)}, "a good frame not acknowledged once");
        Check(line.size() <= kOplMaxFrame, "line longer than the frame limit");
        Check(vt::fuzz::BytesServed() >= served + 3, "a frame read from fewer than three bytes");
        if (line.isEmpty()) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t choices = data[0];
    vt::fuzz::ServeBytes(data + 1, size - 1);
    progpar.debug = (choices & 1) != 0;

    ComHandle = ComOpen(QStringLiteral("COM1"), 115200);
    Check(ComHandle == vt::fuzz::kFakeHandle, "port not opened");

    std::array<QString, 4> labels;
    for (size_t i = 0; i < OplFiles.size(); ++i) {
        OplFiles[i].filename.clear();
        OplFiles[i].count = OplFiles[i].fsize = 0;
        labels[i] = OplFiles[i].m2text;
    }

    const int32_t poll = OplPoll();
    Check(poll == ACK || poll == NAK || poll == -1, "poll result out of range");
    Check(FakePort().purges == 1, "poll did not discard old input");
    Check(FakePort().writes == QList<QByteArray>{Framed("HMS0")}, "poll wrote other than HMS0");
    if (poll == ACK) {
        // What a previous cycle left must not survive a new table.
        for (fileinforecord& f : OplFiles) {
            f.filename = QStringLiteral("stale");
            f.count = f.fsize = 99;
        }
        const qsizetype before = FakePort().writes.size();
        CheckTable(OplFileinfo(), labels);
        for (const QByteArray& w : WritesSince(before)) Check(w == QByteArray(1, ACK), "table line answered with other than ACK");
    }

    for (int i = 0; i < 4; ++i) {
        const bool wanted = (choices >> (2 + i)) & 1;
        if (!wanted && OplFiles[size_t(i)].count <= 0) continue;
        const qsizetype before = FakePort().writes.size();
        const bool accepted = OplRequestFile(i);
        const char command[] = {'H', 'M', 'S', char('1' + i), '\0'};
        Check(WritesSince(before) == QList<QByteArray>{Framed(command)}, "file request not sent once");
        if (accepted) ReadFileLines();
    }
    for (const int bad : {-1, 4}) {
        const qsizetype before = FakePort().writes.size();
        Check(!OplRequestFile(bad) && FakePort().writes.size() == before, "a file outside the table was asked for");
    }
    const qsizetype before = FakePort().writes.size();
    OplSendEnd();
    Check(WritesSince(before) == QList<QByteArray>{Framed("HME0")}, "end not sent once");

    // Every wait ends once the device is gone: one read past the input at most.
    Check(FakePort().reads <= vt::fuzz::BytesServed() + 1, "reads went on after the device was gone");
    ComClose(ComHandle);
    ComHandle = 0;
    return 0;
}
