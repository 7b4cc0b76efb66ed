#include "links/opl_protocol.h"

#include <QStringList>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "links/serial_link.h"
#include "platform/codepage.h"
#include "settings/settings.h"

namespace vt {

std::array<fileinforecord, 4> OplFiles = {{
    {QString(), 0, 0, QString::fromUtf8(brand_info(0).opl_file0_text)},
    {QString(), 0, 0, QString::fromUtf8(txt::OplTargetSimple)},
    {QString(), 0, 0, QString::fromUtf8(txt::OplTargetCsv)},
    {QString(), 0, 0, QString::fromUtf8(txt::OplTargetUgs)},
}};

namespace {

constexpr int32_t kAnswerTimeoutMs = 1000;
constexpr int32_t kLineByteTimeoutMs = 2000;
constexpr qsizetype kTrailerLength = 4;

void Trace(const char* text) {
    if (progpar.debug) display().log_line(QString::fromUtf8(text));
}

struct AnswerTexts {
    const char* ack;
    const char* nak;
    const char* error;
};
constexpr AnswerTexts kPollTexts{trace::PollAck, trace::PollNak, trace::PollError};
constexpr AnswerTexts kReceiveTexts{trace::ReceiveAck, trace::ReceiveNak, trace::ReceiveError};

// Sends STX command ETX and waits for the one answer byte.
int32_t Command(const char* four_letters, const AnswerTexts& texts) {
    QByteArray frame;
    frame.append(STX).append(four_letters).append(ETX);
    ComWrite(ComHandle, frame);
    const int32_t answer = ComReadByte(ComHandle, kAnswerTimeoutMs);
    Trace(answer == ACK ? texts.ack : answer == NAK ? texts.nak : texts.error);
    return answer;
}

bool IsWellFormed(const QByteArray& frame) {
    return frame.size() >= 3 && frame.front() == STX && frame.back() == ETX;
}

// Decimal only, with an optional sign, within 32 bits.
bool ParseDecimal(const QString& text, int32_t& out) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + (c - u'0');
        if (v > int64_t(INT32_MAX) + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = int32_t(v);
    return true;
}

// The name becomes a working-file and export path later: it must stay a
// plain name inside its folder.
bool IsSafeFileName(const QString& name) {
    if (name.isEmpty() || name == u"." || name == u"..") return false;
    for (QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':') return false;
    }
    return true;
}

// Fills one table entry from a line's fields; false when its numbers are not
// numbers (the table cannot be trusted then).
bool TakeTableLine(const QStringList& fields, const QString& text, fileinforecord& entry) {
    int32_t fsize = 0;
    int32_t count = 0;
    const bool numbers = ParseDecimal(fields[1], fsize) && ParseDecimal(fields[2], count);
    if (!numbers && progpar.debug) {
        display().log_line(QString::fromUtf8(trace::FileinfoBadNumber) + text);
    }
    const QString& name = fields[0];
    const bool safe = IsSafeFileName(name);
    if (!safe) display().log_line(FormatS(QString::fromUtf8(txt::RefusedFileName), name));
    if (numbers && safe) {
        entry.filename = name;
        entry.fsize = fsize;
        entry.count = count;
    }
    return numbers;
}

std::function<bool()> g_before_end_ack;

}  // namespace

OplBeforeEndAck::OplBeforeEndAck(std::function<bool()> hook) {
    g_before_end_ack = std::move(hook);
}

OplBeforeEndAck::~OplBeforeEndAck() {
    g_before_end_ack = nullptr;
}

int32_t OplPoll() {
    display().toggle_activity();
    if (PortClosed) return -1;
    ComPurgeInput(ComHandle);
    const int32_t answer = Command("HMS0", kPollTexts);
    return answer == ACK || answer == NAK ? answer : -1;
}

bool OplReadLine(QByteArray& line, bool log) {
    line.clear();
    for (;;) {
        const int32_t b = ComReadByte(ComHandle, kLineByteTimeoutMs);
        if (b < 0) break;
        line.append(char(b));
        if (line.size() > kOplMaxFrame) return false;
        if (b == ETX) break;
    }
    if (!IsWellFormed(line)) return false;
    line = line.mid(1, line.size() - 2);
    if (line.size() >= kTrailerLength) {
        line.chop(kTrailerLength);
    } else {
        line.clear();
    }
    if (!line.isEmpty() && line.front() == EOT) line.clear();
    if (line.isEmpty() && g_before_end_ack && !g_before_end_ack()) return false;
    ComWrite(ComHandle, QByteArray(1, ACK));
    if (log && progpar.debug && !line.isEmpty()) {
        display().log_line(QString::fromUtf8(trace::ReadLineOk));
        const auto first = static_cast<unsigned char>(line.front());
        if (first < 32) display().log_line(QString::fromUtf8(trace::ControlByte) + QString::number(first));
    }
    return true;
}

int32_t OplFileinfo() {
    for (fileinforecord& f : OplFiles) {
        f.filename.clear();
        f.fsize = 0;
        f.count = 0;
    }
    bool well_formed = true;
    bool end_seen = false;
    bool usable = true;
    size_t index = 0;
    while (well_formed && !end_seen) {
        QByteArray line;
        well_formed = OplReadLine(line, false);
        if (!well_formed) break;
        if (line.isEmpty()) {
            end_seen = true;
            break;
        }
        const QString text = cp1252::decode(std::string_view(line.constData(), size_t(line.size())));
        QStringList fields;
        SplitDelimited(u';', text, fields);
        if (fields.size() >= 3 && index < OplFiles.size()) {
            usable = TakeTableLine(fields, text, OplFiles[index]) && usable;
        }
        ++index;
    }
    Trace(well_formed ? trace::FileinfoOk : trace::FileinfoError);
    if (!end_seen || !usable) return -1;
    for (const fileinforecord& f : OplFiles) {
        if (f.count > 0) return ACK;
    }
    return NAK;
}

bool OplRequestFile(int index) {
    if (index < 0 || index >= int(OplFiles.size())) return false;
    const char command[] = {'H', 'M', 'S', char('1' + index), '\0'};
    if (Command(command, kReceiveTexts) != ACK) return false;
    if (progpar.debug) display().log_line(OplFiles[size_t(index)].filename);
    return true;
}

bool OplSendEnd() { return Command("HME0", kReceiveTexts) == ACK; }

}  // namespace vt
