// A working file as the scanner may have filled it, through the CSV and the
// UGS export: every source line is counted as written or skipped, each
// written line is what the public field cutters make of its source line, and
// nothing but the finished export files appears, all inside the target
// folder.
//
// Input: choices (bit 0 overwrite, bit 1 export the CSV twice in the same
// second), the separator index, six CSV column positions, then the file.

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "delivery/convert.h"
#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "settings/settings.h"

using namespace vt;
using vt::fuzz::Check;

namespace {

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The source's lines as the export reads them: LF ends a line, a CR before
// it is dropped, a last line without LF counts.
QList<QByteArray> SourceLines(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.back().isEmpty()) lines.removeLast();
    for (QByteArray& l : lines) {
        if (l.endsWith('\r')) l.chop(1);
    }
    return lines;
}

// The written file's lines, each of which must end with CR LF.
QList<QByteArray> ExportLines(const QString& path) {
    QFile f(path);
    Check(f.open(QIODevice::ReadOnly), "export file missing");
    const QByteArray all = f.readAll();
    Check(all.isEmpty() || all.endsWith("\r\n"), "export does not end with CR LF");
    QList<QByteArray> lines = all.split('\n');
    lines.removeLast();
    for (QByteArray& l : lines) {
        Check(l.endsWith('\r'), "export line without CR LF");
        l.chop(1);
    }
    return lines;
}

QString Text(const QByteArray& bytes) {
    return cp1252::decode(std::string_view(bytes.constData(), size_t(bytes.size())));
}

QByteArray Bytes(const QString& text) {
    return QByteArray::fromStdString(cp1252::encode(text));
}

void CheckCsv(const QList<QByteArray>& source, const ExportResult& r) {
    Check(r.code == 1 && r.lines == source.size() && r.lines == r.written + r.skipped, "CSV export counts");
    const QList<QByteArray> out = ExportLines(r.target);
    Check(out.size() == r.written, "CSV export line count");
    const QString sep = SeparatorValue(progpar.csvseparator);
    qsizetype k = 0;
    for (const QByteArray& line : source) {
        QStringList fields;
        if (!SplitCsvSource(Text(line), fields)) continue;
        QStringList columns;
        for (int j = 0; j < 6; ++j) columns << fields.value(progpar.csvpos[size_t(j)]);
        Check(k < out.size() && out[k++] == Bytes(columns.join(sep)), "CSV line is not its source's fields");
    }
    Check(k == out.size(), "CSV lines without a source line");
}

void CheckUgs(const QList<QByteArray>& source, const ExportResult& r) {
    Check(r.code == 1 && r.lines == source.size() && r.lines == r.written + r.skipped, "UGS export counts");
    const QList<QByteArray> out = ExportLines(r.target);
    Check(out.size() == (r.written > 0 ? r.written + 1 : 0), "UGS export line count");
    if (out.isEmpty()) return;
    Check(out[0].startsWith("V ") && out[0].size() == 2 + 6 + 95, "UGS header");
    qsizetype k = 1;
    for (const QByteArray& line : source) {
        QStringList f;
        if (!SplitUgsSource(Text(line), f)) continue;
        Check(k < out.size(), "UGS position missing");
        const QString pos = Text(out[k++]);
        const qsizetype article = std::max<qsizetype>(17, f[0].size());
        const qsizetype quantity = std::max<qsizetype>(5, f[1].size());
        Check(pos.size() == 6 + article + quantity + 13 && pos.startsWith(QStringLiteral("A     ")) &&
                  pos.endsWith(QStringLiteral("0000000000000")),
              "UGS position shape");
        Check(pos.mid(6, article).trimmed() == f[0].trimmed() && pos.mid(6 + article, quantity).trimmed() == f[1].trimmed(),
              "UGS position is not its source's fields");
    }
    Check(k == out.size(), "UGS positions without a source line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QString base = vt::fuzz::ScratchFolder("exports");  // holds only source/ and out/
    SetExportClock([] { return QDateTime(QDate(2024, 1, 31), QTime(14, 5, 9)); });
    vt::fuzz::InputBytes in(data, size);
    const uint8_t choices = in.byte();
    progpar = progparstruct{};
    progpar.csvoverwrite = progpar.ugs_overwrite = (choices & 1) != 0;
    progpar.csvseparator = in.byte() % 6;  // 5 names no separator: ";" is used
    // 6 names no field, as only a hand-edited settings file has it.
    for (int j = 0; j < 6; ++j) progpar.csvpos[size_t(j)] = in.byte() % 7;
    const QByteArray file(reinterpret_cast<const char*>(in.rest()), qsizetype(in.left()));

    const QString source_dir = base + QStringLiteral("/source");
    const QString out = base + QStringLiteral("/out");
    QDir(source_dir).removeRecursively();
    QDir(out).removeRecursively();
    Check(QDir().mkpath(source_dir) && QDir().mkpath(out), "cannot make the folders");
    const QString source = source_dir + QStringLiteral("/EXPORT.CSV");
    {
        QFile f(source);
        Check(f.open(QIODevice::WriteOnly) && f.write(file) == file.size(), "cannot write the source");
    }
    const QList<QByteArray> lines = SourceLines(file);

    const ExportResult csv = ExportCsvFile(source, out + QStringLiteral("/EXPORT.CSV"));
    Check(csv.target == out + QStringLiteral("/EXPORT_20240131_140509.CSV"), "CSV export name");
    CheckCsv(lines, csv);
    QStringList expected{QStringLiteral("EXPORT_20240131_140509.CSV")};
    if (choices & 2) {
        // The same name in the same second: replaced, or a numbered one beside it.
        const ExportResult again = ExportCsvFile(source, out + QStringLiteral("/EXPORT.CSV"));
        CheckCsv(lines, again);
        if (!progpar.csvoverwrite) {
            Check(again.target == out + QStringLiteral("/EXPORT_20240131_140509_2.CSV"), "second CSV export name");
            expected << QStringLiteral("EXPORT_20240131_140509_2.CSV");
        } else {
            Check(again.target == csv.target, "overwriting CSV export name");
        }
    }
    const ExportResult ugs = ExportUgsFile(source, out + QStringLiteral("/UGS.TXT"));
    Check(ugs.target == out + QStringLiteral("/UGS_20240131_140509.TXT"), "UGS export name");
    CheckUgs(lines, ugs);
    expected << QStringLiteral("UGS_20240131_140509.TXT");
    expected.sort();

    Check(vt::fuzz::TakeBoxCount() == 0, "a box during a sound export");
    Check(Entries(out) == expected, "files besides the exports in the target folder");
    Check(Entries(source_dir) == QStringList{QStringLiteral("EXPORT.CSV")}, "a file beside the source");
    Check(Entries(base) == (QStringList{QStringLiteral("out"), QStringLiteral("source")}), "a file outside the folders");
    return 0;
}
