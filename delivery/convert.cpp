#include "delivery/convert.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "platform/codepage.h"
#include "settings/settings.h"

namespace vt {
namespace {

ExportClock g_clock;

// Reads and writes go to the file in pieces of this size, so memory stays the
// same whatever the file's length.
constexpr size_t kChunk = 64 * 1024;

// Field positions of the fixed-column sources; `first` counts from 1.
struct Field {
    size_t first;
    size_t width;
};
constexpr std::array<Field, 6> kShortCsv = {{{1, 4}, {6, 4}, {11, 28}, {40, 6}, {47, 10}, {58, 8}}};
constexpr std::array<Field, 6> kLongCsv = {
    {{1, 12}, {14, 12}, {27, 28}, {56, 6}, {63, 10}, {74, 8}}};
constexpr std::array<Field, 4> kUgs = {{{1, 28}, {30, 6}, {37, 10}, {48, 8}}};

// The converters cut Windows-1252 bytes where the public splitters cut
// characters: every byte of that code page is exactly one character, so both
// give the same fields, and the export skips decoding and encoding each line.
inline bool Is(char c, char x) {
    return c == x;
}
inline bool Is(QChar c, char x) {
    return c.unicode() == static_cast<char16_t>(x);
}
inline std::string_view Sub(std::string_view v, size_t pos, size_t n) {
    return v.substr(pos, n);
}
inline QStringView Sub(QStringView v, size_t pos, size_t n) {
    return v.mid(static_cast<qsizetype>(pos), static_cast<qsizetype>(n));
}

template <class View>
View Trimmed(View v) {
    size_t b = 0;
    size_t e = static_cast<size_t>(v.size());
    while (b < e && Is(v[b], ' '))
        ++b;
    while (e > b && Is(v[e - 1], ' '))
        --e;
    return Sub(v, b, e - b);
}

// False when the line ends before the layout's last field.
template <class View, size_t N>
bool CutFields(View line, const std::array<Field, N>& layout, std::array<View, N>& out) {
    const Field& last = layout.back();
    if (static_cast<size_t>(line.size()) < last.first - 1 + last.width)
        return false;
    for (size_t i = 0; i < N; ++i) {
        out[i] = Trimmed(Sub(line, layout[i].first - 1, layout[i].width));
    }
    return true;
}

template <class View>
bool CutCsvFields(View line, std::array<View, 6>& out) {
    const bool short_layout = line.size() >= 5 && Is(line[4], ';');
    return CutFields(line, short_layout ? kShortCsv : kLongCsv, out);
}

// The chosen fields in column order with `sep` between them. A position that
// names no field (only a hand-edited settings file has one) gives an empty column.
template <class Str, class View, size_t N>
void JoinColumns(const std::array<View, N>& fields, const std::array<int32_t, 11>& pos,
                 size_t columns, View sep, Str& out) {
    for (size_t j = 0; j < columns; ++j) {
        if (j > 0)
            out += sep;
        const int32_t k = pos[j];
        if (k >= 0 && static_cast<size_t>(k) < N)
            out += fields[static_cast<size_t>(k)];
    }
}

// Splits at the extension: from the last point of the file-name part on.
std::pair<QString, QString> SplitExtension(const QString& name) {
    qsizetype start = 0;
    for (qsizetype i = name.size(); i > 0; --i) {
        const QChar c = name[i - 1];
        if (c == u'/' || c == u'\\' || c == u':') {
            start = i;
            break;
        }
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < start)
        return {name, QString()};
    return {name.left(dot), name.mid(dot)};
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// One source line after another, without reading more than a chunk ahead.
class LineReader {
public:
    explicit LineReader(QFile& file) : file_(file), buf_(kChunk, '\0') {}

    // The next line without its LF and a CR before it; false at the end or
    // when reading failed.
    bool Next(std::string_view& line) {
        if (carry_out_) {
            carry_.clear();
            carry_out_ = false;
        }
        for (;;) {
            if (pos_ < end_) {
                const char* from = buf_.data() + pos_;
                const void* lf = std::memchr(from, '\n', end_ - pos_);
                if (lf) {
                    const size_t n = static_cast<size_t>(static_cast<const char*>(lf) - from);
                    pos_ += n + 1;
                    if (carry_.empty())
                        return Deliver(std::string_view(from, n), line);
                    carry_.append(from, n);
                    carry_out_ = true;
                    return Deliver(carry_, line);
                }
                carry_.append(from, end_ - pos_);
                pos_ = end_;
            }
            if (eof_) {
                if (carry_.empty())
                    return false;
                carry_out_ = true;
                return Deliver(carry_, line);
            }
            const qint64 n = file_.read(buf_.data(), static_cast<qint64>(buf_.size()));
            if (n < 0) {
                error_ = true;
                return false;
            }
            eof_ = n == 0;
            pos_ = 0;
            end_ = static_cast<size_t>(n);
        }
    }
    bool error() const { return error_; }

private:
    static bool Deliver(std::string_view text, std::string_view& line) {
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        line = text;
        return true;
    }

    QFile& file_;
    std::string buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
    std::string carry_;  // a line that spans two chunks
    bool carry_out_ = false;
    bool eof_ = false;
    bool error_ = false;
};

// Reads `source` line by line into a new time-stamped file named after
// `target`; `convert` writes what one line gives. Every failure is shown here.
template <class Convert>
ExportResult RunExport(const QString& source, const QString& target, bool overwrite,
                       Convert convert) {
    ExportResult r;
    QFile src(source);
    if (!src.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        ShowFileError(source);
        return r;
    }
    const QString name = MakeStampedName(target);
    ExportFile out;
    if (!out.Open(name, overwrite)) {
        ShowFileError(name);
        return r;
    }
    LineReader reader(src);
    std::string_view line;
    while (!out.failed() && reader.Next(line)) {
        ++r.lines;
        convert(line, out, r);
    }
    if (reader.error()) {
        out.Abandon();
        ShowFileReadError(source);
        return r;
    }
    if (!out.Commit()) {
        ShowFileWriteError(name);
        return r;
    }
    r.code = 1;
    r.target = out.final_name();
    return r;
}

void AppendPadded(std::string& out, std::string_view text, size_t width, bool left_aligned) {
    const size_t fill = text.size() < width ? width - text.size() : 0;
    if (!left_aligned)
        out.append(fill, ' ');
    out += text;
    if (left_aligned)
        out.append(fill, ' ');
}

// "V", a space, the order date and three empty fields of 80, 6 and 9 characters.
void AppendUgsHeader(std::string& out, std::string_view date) {
    out += "V ";
    if (date.size() == 10) {
        const char yymmdd[6] = {date[8], date[9], date[3], date[4], date[0], date[1]};
        out.append(yymmdd, 6);
    } else {
        out += "JJMMTT";
    }
    out.append(80 + 6 + 9, ' ');
}

// "A", five spaces, the article number in 17 and the quantity in 5 characters
// (wider ones in full), thirteen zeros.
void AppendUgsPosition(std::string& out, std::string_view article, std::string_view quantity) {
    out += "A     ";
    AppendPadded(out, article, 17, true);
    AppendPadded(out, quantity, 5, false);
    out += "0000000000000";
}

}  // namespace

void SetExportClock(ExportClock clock) {
    g_clock = std::move(clock);
}

QDateTime ExportNow() {
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

QString MakeStampedName(const QString& name) {
    if (name.isEmpty())
        return name;
    const auto [rest, ext] = SplitExtension(name);
    return rest + ExportNow().toString(QStringLiteral("_yyyyMMdd_HHmmss")) + ext;
}

void TrimSpaces(QString& text) {
    const QStringView t = Trimmed(QStringView(text));
    if (t.size() != text.size())
        text = t.toString();
}

bool SplitCsvSource(const QString& line, QStringList& fields) {
    fields.clear();
    std::array<QStringView, 6> f;
    if (!CutCsvFields(QStringView(line), f))
        return false;
    for (QStringView v : f)
        fields << v.toString();
    return true;
}

bool SplitUgsSource(const QString& line, QStringList& fields) {
    fields.clear();
    std::array<QStringView, 4> f;
    if (!CutFields(QStringView(line), kUgs, f))
        return false;
    for (QStringView v : f)
        fields << v.toString();
    return true;
}

ExportResult ExportCsvFile(const QString& source, const QString& target) {
    const std::string sep = cp1252::encode(SeparatorValue(progpar.csvseparator));
    const std::array<int32_t, 11> pos = progpar.csvpos;
    std::string record;
    auto convert = [&](std::string_view line, ExportFile& out, ExportResult& r) {
        std::array<std::string_view, 6> f;
        if (!CutCsvFields(line, f)) {
            ++r.skipped;
            return;
        }
        record.clear();
        JoinColumns(f, pos, 6, std::string_view(sep), record);
        if (out.WriteLine(record))
            ++r.written;
    };
    return RunExport(source, target, progpar.csvoverwrite, convert);
}

ExportResult ExportUgsFile(const QString& source, const QString& target) {
    std::string record;
    bool header_written = false;
    auto convert = [&](std::string_view line, ExportFile& out, ExportResult& r) {
        std::array<std::string_view, 4> f;
        if (!CutFields(line, kUgs, f)) {
            ++r.skipped;
            return;
        }
        // The header goes with the first line that converts, so a file with
        // positions always starts with one even when the first line was short.
        if (!header_written) {
            record.clear();
            AppendUgsHeader(record, f[2]);
            header_written = out.WriteLine(record);
        }
        record.clear();
        AppendUgsPosition(record, f[0], f[1]);
        if (out.WriteLine(record))
            ++r.written;
    };
    return RunExport(source, target, progpar.ugs_overwrite, convert);
}

int32_t ExportCsv(const QString& source, const QString& target) {
    return ExportCsvFile(source, target).code;
}

int32_t ExportUgs(const QString& source, const QString& target) {
    return ExportUgsFile(source, target).code;
}

QString SkippedLinesLogLine(const ExportResult& result) {
    if (result.skipped == 0)
        return QString();
    QString line = QString::fromUtf8(txt::SkippedLines) + QString::number(result.skipped);
    if (!result.target.isEmpty())
        line += QStringLiteral(" (") + result.target + u')';
    return line;
}

// ---------------------------------------------------------------------------

ExportFile::~ExportFile() {
    Abandon();
}

bool ExportFile::Open(const QString& name, bool overwrite) {
    Abandon();
    name_ = name;
    final_name_.clear();
    overwrite_ = overwrite;
    failed_ = false;
    buffer_.clear();
    // Hidden and without the final extension, so nothing that watches the
    // folder for export files picks it up half-written.
    const QFileInfo info(name);
    const QString stem = info.absolutePath() + QStringLiteral("/.") + info.fileName() + u'.' +
                         QString::number(QCoreApplication::applicationPid()) + u'-';
    static int serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        file_.setFileName(stem + QString::number(++serial) + QStringLiteral(".tmp"));
        if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            buffer_.reserve(kChunk + 256);
            return true;
        }
        if (!file_.exists())
            break;  // not a name clash: the folder refuses the file
    }
    file_.setFileName(QString());
    return false;
}

bool ExportFile::WriteLine(std::string_view bytes) {
    if (failed_ || !file_.isOpen())
        return false;
    buffer_ += bytes;
    buffer_ += "\r\n";
    return buffer_.size() < kChunk || Flush();
}

bool ExportFile::Flush() {
    if (!buffer_.empty()) {
        const qint64 n = file_.write(buffer_.data(), static_cast<qint64>(buffer_.size()));
        if (n != static_cast<qint64>(buffer_.size()))
            failed_ = true;
        buffer_.clear();
    }
    return !failed_;
}

bool ExportFile::Commit() {
    if (!file_.isOpen())
        return false;
    Flush();
    file_.close();
    if (file_.error() != QFileDevice::NoError)
        failed_ = true;
    if (failed_ || !Publish()) {
        failed_ = true;
        Abandon();
        return false;
    }
    file_.setFileName(QString());
    return true;
}

bool ExportFile::Publish() {
    const QString temp = file_.fileName();
    if (overwrite_) {
        std::error_code ec;
        std::filesystem::rename(LocalPath(temp), LocalPath(name_), ec);
        if (ec)
            return false;
        final_name_ = name_;
        return true;
    }
    // QFile::rename never replaces an existing file, also not one that
    // appears between the check and the rename.
    const auto [rest, ext] = SplitExtension(name_);
    for (int k = 1; k < 10000; ++k) {
        const QString candidate = k == 1 ? name_ : rest + u'_' + QString::number(k) + ext;
        if (QFile::rename(temp, candidate)) {
            final_name_ = candidate;
            return true;
        }
        if (!QFile::exists(candidate))
            return false;
    }
    return false;
}

void ExportFile::Abandon() {
    if (file_.isOpen())
        file_.close();
    if (!file_.fileName().isEmpty()) {
        QFile::remove(file_.fileName());
        file_.setFileName(QString());
    }
    buffer_.clear();
}

// ---------------------------------------------------------------------------

bool BarcodeCsvWriter::Create() {
    reported_ = false;
    const QString name = MakeStampedName(progpar.opn_csvdir + progpar.opn_csvfilename);
    if (!file_.Open(name, progpar.opn_csvoverwrite)) {
        ShowFileError(name);
        return false;
    }
    return true;
}

QString BarcodeCsvWriter::WriteLine(const QString& barcode, const QString& date,
                                    const QString& time) {
    const std::array<QStringView, 4> fields = {barcode, date, time, QStringView()};
    const QString sep = SeparatorValue(progpar.opn_csvseparator);
    QString line;
    JoinColumns(fields, progpar.opn_csvpos, 3, QStringView(sep), line);
    if (ok() && !file_.WriteLine(cp1252::encode(line)))
        ReportWriteError();
    return line;
}

bool BarcodeCsvWriter::Close() {
    if (!ok()) {
        file_.Abandon();
        return false;
    }
    if (!file_.Commit()) {
        ReportWriteError();
        return false;
    }
    return true;
}

void BarcodeCsvWriter::ReportWriteError() {
    file_.Abandon();
    if (reported_)
        return;
    reported_ = true;
    ShowFileWriteError(file_.name());
}

}  // namespace vt
