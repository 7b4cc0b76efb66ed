#include "links/journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/durable_file.h"
#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "delivery/convert.h"
#include "settings/settings.h"

namespace vt {
namespace {

constexpr const char* kMagic = "VTJ1";
constexpr const char* kSuffix = ".vtj";
constexpr const char* kNameStamp = "yyyyMMdd-HHmmss-zzz";
constexpr int kNameStampLength = 19;
// A length beyond this is not a record of ours: a damaged entry must not
// make the reader allocate without end.
constexpr qsizetype kMaxRecord = 16 * 1024 * 1024;

bool g_warned = false;

void WarnOnce(const QString& path) {
    if (g_warned)
        return;
    g_warned = true;
    display().log_line(QString::fromUtf8(txt::JournalWriteError) + path);
}

bool WriteAll(int fd, const QByteArray& bytes) {
    return durable::WriteAll(fd, bytes.constData(), size_t(bytes.size()));
}

char OutcomeTag(JournalOutcome kind) {
    switch (kind) {
        case JournalOutcome::Pasted:
            return 'P';
        case JournalOutcome::Exported:
            return 'X';
        case JournalOutcome::Failed:
            return 'N';
        case JournalOutcome::None:
            break;
    }
    return 0;
}

}  // namespace

QString JournalDir() {
    return StartDir + QStringLiteral("Journal") + QDir::separator();
}

bool JournalOn() {
    return progpar.journaldays > 0;
}

void ResetJournalWarning() {
    g_warned = false;
}

JournalWriter::~JournalWriter() {
    close();
}

void JournalWriter::close() {
    if (fd_ >= 0)
        durable::Close(fd_);
    fd_ = -1;
}

void JournalWriter::fail() {
    close();
    WarnOnce(path_);
}

void JournalWriter::begin(const QString& device, const QString& file, JournalTarget target) {
    close();
    path_.clear();
    lines_ = 0;
    if (!JournalOn())
        return;
    begin(JournalDir(), QDateTime::currentDateTime(), device, file, target);
}

void JournalWriter::begin(const QString& dir, const QDateTime& when, const QString& device,
                          const QString& file, JournalTarget target) {
    close();
    lines_ = 0;
    durable::NoSignalOnFileSizeLimit();
    const QString stamp = when.toString(QString::fromLatin1(kNameStamp));
    // Named as ReadJournal names its entries, whatever separators `dir` has.
    const QDir folder(dir);
    path_ = folder.filePath(stamp + QString::fromLatin1(kSuffix));
    if (!QDir().mkpath(dir)) {
        fail();
        return;
    }
    // Two transfers in one millisecond get a number, never each other's file.
    for (int n = 1; n < 100 && fd_ < 0; ++n) {
        bool exists = false;
        fd_ = durable::CreateNew(path_, &exists);
        if (fd_ < 0 && !exists)
            break;
        if (fd_ < 0)
            path_ = folder.filePath(stamp + u'-' + QString::number(n) + QString::fromLatin1(kSuffix));
    }
    if (fd_ < 0) {
        fail();
        return;
    }
    record('V', kMagic);
    record('T', when.toString(Qt::ISODateWithMs).toUtf8());
    record('D', device.toUtf8());
    record('F', file.toUtf8());
    record('Z', QByteArray::number(int32_t(target)));
}

void JournalWriter::record(char tag, const QByteArray& payload) {
    if (fd_ < 0)
        return;
    QByteArray r;
    r.reserve(payload.size() + 16);
    r.append(tag).append(' ').append(QByteArray::number(payload.size())).append('\n');
    r.append(payload).append('\n');
    // One write per record: a crash cuts at most the last record short.
    if (!WriteAll(fd_, r))
        fail();
}

void JournalWriter::add_line(const QByteArray& line) {
    if (fd_ < 0)
        return;
    record('L', line);
    ++lines_;
}

void JournalWriter::complete() {
    if (fd_ < 0)
        return;
    record('E', QByteArray::number(lines_));
    if (fd_ >= 0 && !durable::Flush(fd_))
        fail();
}

void JournalWriter::outcome(JournalOutcome kind, const QString& text) {
    const char tag = OutcomeTag(kind);
    if (fd_ < 0 || tag == 0)
        return;
    record(tag, text.toUtf8());
    if (fd_ >= 0 && !durable::FlushData(fd_))
        fail();
}

void JournalExport(JournalWriter& journal, const ExportResult& result) {
    if (result.code == 1 && !result.target.isEmpty())
        journal.outcome(JournalOutcome::Exported, result.target);
    else
        journal.outcome(JournalOutcome::Failed, Text(msg::TransferFailed));
}

void JournalShopOutcome(JournalWriter& journal, int shop, bool delivered) {
    const bool form = shop >= 0 && shop < 2 && browserrecord.state[size_t(shop)];
    if (delivered)
        journal.outcome(JournalOutcome::Pasted, browserrecord.title);
    else if (!form)
        journal.outcome(JournalOutcome::Failed, QString::fromUtf8(txt::NotActiveSuffix).trimmed());
    else
        journal.outcome(JournalOutcome::Failed, Text(msg::TransferFailed));
}

JournalEntry ParseJournalEntry(const QByteArray& data) {
    JournalEntry e;
    e.state = JournalEntry::State::Incomplete;
    bool ended = false;
    bool magic = false;
    qsizetype at = 0;
    auto damaged = [&e] {
        e.state = JournalEntry::State::Damaged;
        return e;
    };
    while (at < data.size()) {
        const qsizetype nl = data.indexOf('\n', at);
        if (nl < 0)
            break;  // the header of the last record was cut off
        const QByteArray head = data.mid(at, nl - at);
        if (head.size() < 3 || head[1] != ' ')
            return damaged();
        bool ok = false;
        const qsizetype length = head.mid(2).toLongLong(&ok);
        if (!ok || length < 0 || length > kMaxRecord || head.mid(2).startsWith('+'))
            return damaged();
        const qsizetype body = nl + 1;
        if (data.size() - body < length + 1)
            break;  // the last record was cut off
        if (data[body + length] != '\n')
            return damaged();
        const QByteArray payload = data.mid(body, length);
        at = body + length + 1;
        const char tag = head[0];
        if (!magic && tag != 'V')
            return damaged();
        // The writer puts nothing but outcomes after the end record; anything
        // else there was added by hand and could make a torn entry look whole.
        if (ended && tag != 'P' && tag != 'X' && tag != 'N')
            return damaged();
        switch (tag) {
            case 'V':
                if (magic || payload != kMagic)
                    return damaged();
                magic = true;
                break;
            case 'T':
                e.when = QDateTime::fromString(QString::fromUtf8(payload), Qt::ISODateWithMs);
                break;
            case 'D':
                e.device = QString::fromUtf8(payload);
                break;
            case 'F':
                e.file = QString::fromUtf8(payload);
                break;
            case 'Z': {
                const int v = payload.toInt(&ok);
                if (!ok || v < 0 || v > int(JournalTarget::BarcodeCsv))
                    return damaged();
                e.target = v;
                break;
            }
            case 'L':
                if (ended)
                    return damaged();
                e.lines.append(payload);
                break;
            case 'E': {
                const qsizetype n = payload.toLongLong(&ok);
                if (ended || !ok || n != e.lines.size())
                    return damaged();
                ended = true;
                break;
            }
            case 'P':
            case 'X':
            case 'N':
                e.outcome = tag == 'P'   ? JournalOutcome::Pasted
                            : tag == 'X' ? JournalOutcome::Exported
                                         : JournalOutcome::Failed;
                e.outcome_text = QString::fromUtf8(payload);
                break;
            default:
                return damaged();
        }
    }
    if (!magic)
        return damaged();
    if (ended)
        e.state = JournalEntry::State::Complete;
    return e;
}

QList<JournalEntry> ReadJournal(const QString& dir) {
    QList<JournalEntry> entries;
    const QStringList names =
        QDir(dir).entryList({QStringLiteral("*") + QString::fromLatin1(kSuffix)}, QDir::Files,
                            QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        QFile f(QDir(dir).filePath(name));
        JournalEntry e;
        if (f.open(QIODevice::ReadOnly)) {
            e = ParseJournalEntry(f.read(kMaxRecord * 4));
        }
        e.path = f.fileName();
        entries.append(std::move(e));
    }
    return entries;
}

int PruneJournal(const QString& dir, int32_t days, const QDateTime& now) {
    if (days <= 0)
        return 0;
    const QDateTime limit = now.addDays(-days);
    int removed = 0;
    const QStringList names =
        QDir(dir).entryList({QStringLiteral("*") + QString::fromLatin1(kSuffix)}, QDir::Files);
    for (const QString& name : names) {
        const QDateTime stamp = QDateTime::fromString(name.left(kNameStampLength),
                                                      QString::fromLatin1(kNameStamp));
        if (!stamp.isValid() || stamp >= limit)
            continue;
        if (QFile::remove(QDir(dir).filePath(name)))
            ++removed;
    }
    return removed;
}

}  // namespace vt
