#pragma once
// The transfer journal: one file per transfer in Journal/ of the start
// directory, holding the lines exactly as the scanner sent them and what
// became of them. The lines are on disk before the scanner is allowed to
// forget them, so a lost order form or a crash never costs a scan.
//
// An entry is a run of records "<tag> <length>\n<bytes>\n". The end record
// ("E", with the number of lines) is written and synced only after the last
// line: an entry cut short by a crash has no valid end record and reads as
// incomplete, never as complete. The outcome record follows the end record.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>

namespace vt {

enum class JournalTarget : int32_t {
    BrandShop = 0,
    SimpleSystem = 1,
    Csv = 2,
    Ugs = 3,
    BarcodeCsv = 4,
};

enum class JournalOutcome { None, Pasted, Exported, Failed };

// The folder of the journal in the start directory, ending with a separator.
QString JournalDir();
// True when `JournalDays` keeps entries at all.
bool JournalOn();

// Writes one entry. Every failure is swallowed after one log line: a journal
// that cannot be written must never stop the delivery it records.
class JournalWriter {
  public:
    JournalWriter() = default;
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // Starts the entry in `dir` (made when missing). Nothing is written when
    // the journal is off; `when` names the file and is recorded.
    void begin(const QString& dir, const QDateTime& when, const QString& device,
               const QString& file, JournalTarget target);
    // Starts an entry in JournalDir() at the current time, when JournalOn().
    void begin(const QString& device, const QString& file, JournalTarget target);
    // Written at once, so the line survives a crash of the program.
    void add_line(const QByteArray& line);
    // Marks the entry complete and syncs it to the disk.
    void complete();
    // What became of the lines; the last outcome written counts.
    void outcome(JournalOutcome kind, const QString& text);

    bool active() const { return fd_ >= 0; }
    QString path() const { return path_; }
    int32_t lines() const { return lines_; }

  private:
    void record(char tag, const QByteArray& payload);
    void fail();
    void close();

    int fd_ = -1;
    QString path_;
    int32_t lines_ = 0;
};

struct JournalEntry {
    enum class State { Complete, Incomplete, Damaged };
    QString path;
    State state = State::Damaged;
    QDateTime when;
    QString device;
    QString file;
    int32_t target = -1;
    QList<QByteArray> lines;
    JournalOutcome outcome = JournalOutcome::None;
    QString outcome_text;
};

// Reads an entry's bytes. A record cut off at the end leaves the entry
// incomplete; anything that is not a record makes it damaged, with what was
// read before.
JournalEntry ParseJournalEntry(const QByteArray& data);
// Every entry of `dir`, newest first.
QList<JournalEntry> ReadJournal(const QString& dir);
// Removes the entries stamped more than `days` days before `now`; the number
// removed. Files that are not entries stay.
int PruneJournal(const QString& dir, int32_t days, const QDateTime& now);

struct ExportResult;
// The outcome of an export: the file written, or that none was.
void JournalExport(JournalWriter& journal, const ExportResult& result);
// The outcome of a delivery to shop 0 or 1: the title of the form the lines
// went into (browserrecord, as the last search found it), or why they did not.
void JournalShopOutcome(JournalWriter& journal, int shop, bool delivered);

// The test seam for the one "cannot write" line: forgets that it was said.
void ResetJournalWarning();

}  // namespace vt
