#pragma once
// The file exports: the scanner's CSV file into a CSV file with the chosen
// column order and separator, its UGS file into a fixed-width UGS order file,
// and the OPN-2001 barcodes into a barcode CSV file. Every file is written
// under a time-stamped name, first into a hidden temporary file beside it, and
// only renamed to that name once it is complete.

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vt {

// The moment an export is stamped with. Tests fix it; an empty function
// restores the local clock.
using ExportClock = std::function<QDateTime()>;
void SetExportClock(ExportClock clock);
QDateTime ExportNow();

// `name` with "_yyyymmdd_hhnnss" of the current moment before its extension;
// a point in a directory name is not an extension. An empty name stays empty.
QString MakeStampedName(const QString& name);

// Removes spaces (only code 32) from both ends.
void TrimSpaces(QString& text);

// The six fields of an order line, trimmed. A line too short for its layout
// gives no fields and false.
bool SplitCsvSource(const QString& line, QStringList& fields);

// The four fields of a UGS source line, trimmed; false (and no fields) for a
// line shorter than 55 characters.
bool SplitUgsSource(const QString& line, QStringList& fields);

// What an export did, for the caller's log.
struct ExportResult {
    int32_t code = 0;     // 1 the whole source was converted, 0 it was not (the user saw a box)
    QString target;       // the name the file now has; empty when none was written
    int64_t lines = 0;    // source lines read
    int64_t written = 0;  // records written (UGS: position records)
    int64_t skipped = 0;  // source lines too short to convert
};

// The full outcome; the user has seen a box whenever `code` is 0.
ExportResult ExportCsvFile(const QString& source, const QString& target);
ExportResult ExportUgsFile(const QString& source, const QString& target);
// The same, as the scanner cycle calls them: 1 done, 0 not done.
int32_t ExportCsv(const QString& source, const QString& target);
int32_t ExportUgs(const QString& source, const QString& target);

// One log line naming the skipped count and the file; empty when no line was skipped.
QString SkippedLinesLogLine(const ExportResult& result);

// A file that becomes visible under its final name only when it is complete.
// Lines are given as Windows-1252 bytes; each is ended by CR LF.
class ExportFile {
public:
    ExportFile() = default;
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;
    ~ExportFile();  // an unfinished file is removed

    // Creates the temporary file beside `name`. False when the directory does
    // not take it.
    bool Open(const QString& name, bool overwrite);
    // False once any write has failed; later lines are dropped.
    bool WriteLine(std::string_view bytes);
    // Writes what is buffered and gives the file its name: `name` itself when
    // that is free or `overwrite` is set, otherwise `name` with "_2", "_3", …
    // before the extension. False on any write error; the file is then removed.
    bool Commit();
    // Removes the unfinished file.
    void Abandon();

    bool is_open() const { return file_.isOpen(); }
    bool failed() const { return failed_; }
    const QString& name() const { return name_; }
    const QString& final_name() const { return final_name_; }

private:
    bool Flush();
    bool Publish();

    QFile file_;
    QString name_;
    QString final_name_;
    bool overwrite_ = false;
    bool failed_ = false;
    std::string buffer_;
};

// The barcode CSV of one OPN-2001 transfer, named after `opn_csvdir` and
// `opn_csvfilename`. Failures are shown to the user where they happen.
class BarcodeCsvWriter {
public:
    // False when the file cannot be created (the user has seen the box).
    bool Create();
    // Writes the line for one barcode and returns it (without CR LF).
    QString WriteLine(const QString& barcode, const QString& date, const QString& time);
    // Completes the file after the last barcode. False when any write failed:
    // the transfer then counts as failed and no file is left behind.
    bool Close();

    bool ok() const { return file_.is_open() && !file_.failed(); }
    const QString& final_name() const { return file_.final_name(); }

private:
    void ReportWriteError();

    ExportFile file_;
    bool reported_ = false;
};

}  // namespace vt
