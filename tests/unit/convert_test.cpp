#include "delivery/convert.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

#include "settings/settings.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

using namespace vt;
using vt::test::read_file;
using vt::test::str;
using vt::test::write_file;

namespace {

const QString kOpenError = QString::fromUtf8("Fehler beim öffnen der Datei : ");
const QString kWriteError = QString::fromUtf8("Fehler beim Schreiben der Datei : ");

// `text` filled with spaces on the right to `width` characters.
QByteArray Pad(const QByteArray& text, int width) {
    return text + QByteArray(std::max(0, width - int(text.size())), ' ');
}

struct OrderLine {
    QByteArray kst, lager, artikel, menge, datum, zeit;
};

// The short layout: ";" in column 5 and between all fields.
QByteArray ShortLine(const OrderLine& l) {
    return Pad(l.kst, 4) + ';' + Pad(l.lager, 4) + ';' + Pad(l.artikel, 28) + ';' +
           Pad(l.menge, 6) + ';' + Pad(l.datum, 10) + ';' + Pad(l.zeit, 8);
}
// The long layout; its separator columns hold "|" so a shifted cut shows.
QByteArray LongLine(const OrderLine& l) {
    return Pad(l.kst, 12) + '|' + Pad(l.lager, 12) + '|' + Pad(l.artikel, 28) + '|' +
           Pad(l.menge, 6) + '|' + Pad(l.datum, 10) + '|' + Pad(l.zeit, 8);
}
QByteArray UgsLine(const QByteArray& artikel, const QByteArray& menge, const QByteArray& datum,
                   const QByteArray& zeit = "14:05:09") {
    return Pad(artikel, 28) + ' ' + Pad(menge, 6) + ' ' + Pad(datum, 10) + ' ' + Pad(zeit, 8);
}

// Fields that fill their columns completely, so a cut one column off loses or
// gains a character.
const OrderLine kFullShort = {"K001",   "L002",       "ARTIKEL-0123456789-ABCDEFGHI",
                              "000012", "31.01.2024", "14:05:09"};
const OrderLine kFullLong = {"KOSTEN-00001", "LAGERORT-002", "ARTIKEL-0123456789-ABCDEFGHI",
                             "000012",       "31.01.2024",   "14:05:09"};

QByteArray Lines(std::initializer_list<QByteArray> lines) {
    QByteArray out;
    for (const QByteArray& l : lines)
        out += l + "\r\n";
    return out;
}

class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExportClock([] { return QDateTime(QDate(2024, 1, 31), QTime(14, 5, 9)); });
        progpar = progparstruct{};
        out_dir = dir.path() + "/out/";
        QDir().mkpath(out_dir);
        progpar.csvdir = progpar.ugsdir = progpar.opn_csvdir = out_dir;
        progpar.csvpos = {0, 1, 2, 3, 4, 5};
        progpar.opn_csvpos = {0, 1, 2};
        progpar.opn_csvfilename = "EXPORT.CSV";
        source = dir.path() + "/Temp/WORK";
        QDir().mkpath(dir.path() + "/Temp");
    }
    void TearDown() override { SetExportClock({}); }

    ExportResult Csv(const QByteArray& content, const QString& name = "EXPORT.CSV") {
        write_file(source, content);
        return ExportCsvFile(source, progpar.csvdir + name);
    }
    ExportResult Ugs(const QByteArray& content, const QString& name = "BESTELL.UGS") {
        write_file(source, content);
        return ExportUgsFile(source, progpar.ugsdir + name);
    }
    // Everything in the export folder, hidden files included.
    QStringList OutFiles() const {
        return QDir(out_dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QByteArray Out(const QString& name) const { return read_file(out_dir + name); }

    QTemporaryDir dir;
    QString out_dir;
    QString source;
    vt::test::RecordingDialogs dialogs;
};

TEST_F(ConvertTest, StampedNameGoesBeforeTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(MakeStampedName("/srv/Export/EXPORT.CSV"), "/srv/Export/EXPORT_20240131_140509.CSV");
    EXPECT_EQ(MakeStampedName("/srv/Export/LIST"), "/srv/Export/LIST_20240131_140509");
    EXPECT_EQ(MakeStampedName("/srv/Daten.2020/LIST"), "/srv/Daten.2020/LIST_20240131_140509");
    EXPECT_EQ(MakeStampedName("C:\\Export\\EXPORT.CSV"), "C:\\Export\\EXPORT_20240131_140509.CSV");
    EXPECT_EQ(MakeStampedName("C:\\Daten.2020\\LIST"), "C:\\Daten.2020\\LIST_20240131_140509");
    EXPECT_EQ(MakeStampedName("a.b.c"), "a.b_20240131_140509.c");
    EXPECT_EQ(MakeStampedName(""), "");
    SetExportClock([] { return QDateTime(QDate(2023, 12, 1), QTime(9, 0, 3)); });
    EXPECT_EQ(MakeStampedName("X.CSV"), "X_20231201_090003.CSV");
}

TEST_F(ConvertTest, OnlySpacesAreTrimmed) {
    QString s = "   \tA B\t  ";
    TrimSpaces(s);
    EXPECT_EQ(s, "\tA B\t");
    s = "     ";
    TrimSpaces(s);
    EXPECT_EQ(s, "");
}

TEST_F(ConvertTest, BothLayoutsAreCutAtTheirColumns) {
    const QStringList expected_short = {"K001",   "L002",       "ARTIKEL-0123456789-ABCDEFGHI",
                                        "000012", "31.01.2024", "14:05:09"};
    QStringList fields;
    ASSERT_TRUE(SplitCsvSource(QString::fromLatin1(ShortLine(kFullShort)), fields));
    EXPECT_EQ(fields, expected_short);
    ASSERT_TRUE(SplitCsvSource(QString::fromLatin1(LongLine(kFullLong)), fields));
    EXPECT_EQ(fields, QStringList({"KOSTEN-00001", "LAGERORT-002", "ARTIKEL-0123456789-ABCDEFGHI",
                                   "000012", "31.01.2024", "14:05:09"}));
    // Characters after the last field are ignored.
    ASSERT_TRUE(SplitCsvSource(QString::fromLatin1(ShortLine(kFullShort) + ";REST"), fields));
    EXPECT_EQ(fields, expected_short);

    // Padded fields lose their spaces, not their tabs; a field of spaces is empty.
    const OrderLine padded = {"  1", "", "\tART 1 ", "  3", "31.01.2024", "14:05"};
    ASSERT_TRUE(SplitCsvSource(QString::fromLatin1(LongLine(padded)), fields));
    EXPECT_EQ(fields, QStringList({"1", "", "\tART 1", "3", "31.01.2024", "14:05"}));

    // One character short of the last field: no fields at all.
    EXPECT_FALSE(SplitCsvSource(QString::fromLatin1(ShortLine(kFullShort).chopped(1)), fields));
    EXPECT_TRUE(fields.isEmpty());
    EXPECT_FALSE(SplitCsvSource(QString::fromLatin1(LongLine(kFullLong).chopped(1)), fields));
    EXPECT_FALSE(SplitCsvSource("", fields));
}

TEST_F(ConvertTest, CsvExportWritesTheChosenColumnsWithTheChosenSeparator) {
    progpar.csvpos = {2, 3, 4, 5, 0, 1};
    const QByteArray src = Lines({ShortLine(kFullShort), LongLine(kFullLong)});
    const ExportResult r = Csv(src);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.target, out_dir + "EXPORT_20240131_140509.CSV");
    EXPECT_EQ(r.lines, 2);
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")),
              "ARTIKEL-0123456789-ABCDEFGHI;000012;31.01.2024;14:05:09;K001;L002\r\n"
              "ARTIKEL-0123456789-ABCDEFGHI;000012;31.01.2024;14:05:09;KOSTEN-00001;"
              "LAGERORT-002\r\n");
    EXPECT_TRUE(dialogs.events.isEmpty());
    // Only the finished file is left, no temporary one.
    EXPECT_EQ(OutFiles(), QStringList{"EXPORT_20240131_140509.CSV"});
}

TEST_F(ConvertTest, CsvSeparatorsRepeatedAndUnknownColumns) {
    const OrderLine l = {"1", "2", "A", "5", "31.01.2024", "14:05:09"};
    const char* expected[] = {"1;2;A;5;31.01.2024;14:05:09", "1,2,A,5,31.01.2024,14:05:09",
                              "1 2 A 5 31.01.2024 14:05:09", "1|2|A|5|31.01.2024|14:05:09",
                              "1\t2\tA\t5\t31.01.2024\t14:05:09"};
    for (int sep = 0; sep < 5; ++sep) {
        progpar.csvseparator = sep;
        progpar.csvoverwrite = true;
        Csv(Lines({ShortLine(l)}));
        EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")), std::string(expected[sep]) + "\r\n")
            << "separator " << sep;
    }
    progpar.csvseparator = 0;
    progpar.csvpos = {2, 2, 3, 3, 2, 2};
    Csv(Lines({ShortLine(l)}));
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")), "A;A;5;5;A;A\r\n");
    // Positions from a hand-edited file that name no field give empty columns.
    progpar.csvpos = {2, 6, -1, 3, 100, 0};
    Csv(Lines({ShortLine(l)}));
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")), "A;;;5;;1\r\n");
}

TEST_F(ConvertTest, CsvExportPassesWindows1252BytesAndAnyLineEnd) {
    const OrderLine l = {"1", "2", "M\xE4hdrescher \x80", "5", "31.01.2024", "14:05:09"};
    // LF alone and a last line without its end are lines as well.
    const QByteArray src = ShortLine(l) + "\n" + ShortLine(l) + "\r\n" + ShortLine(l);
    const ExportResult r = Csv(src);
    EXPECT_EQ(r.written, 3);
    const std::string line = "1;2;M\xE4hdrescher \x80;5;31.01.2024;14:05:09\r\n";
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")), line + line + line);
}

TEST_F(ConvertTest, LinesAcrossReadChunksAllArrive) {
    // Far more than one read chunk, with line lengths that never align with it.
    QByteArray src;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const QByteArray n = QByteArray::number(i);
        src += Lines(
            {LongLine({n, "L", "ART" + n, n, "31.01.2024", "14:05:09"}) + QByteArray(i % 37, 'x')});
        expected += (n + ";L;ART" + n + ";" + n + ";31.01.2024;14:05:09\r\n").toStdString();
    }
    // A line longer than several chunks.
    src += Lines({LongLine({"X", "L", "LONG", "1", "31.01.2024", "14:05:09"}) +
                  QByteArray(300000, 'y')});
    expected += "X;L;LONG;1;31.01.2024;14:05:09\r\n";
    const ExportResult r = Csv(src);
    EXPECT_EQ(r.lines, 5001);
    EXPECT_EQ(r.skipped, 0);
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")), expected);
}

TEST_F(ConvertTest, ShortLinesAreSkippedCountedAndReported) {
    const QByteArray src =
        Lines({ShortLine(kFullShort), "", ShortLine(kFullShort).left(40), LongLine(kFullLong)});
    const ExportResult r = Csv(src);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.lines, 4);
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(r.skipped, 2);
    EXPECT_EQ(SkippedLinesLogLine(r),
              QString::fromUtf8("Übersprungene Zeilen (zu kurz) : 2 (") + r.target + ")");
    EXPECT_EQ(Out("EXPORT_20240131_140509.CSV").count("\r\n"), 2);
    EXPECT_TRUE(dialogs.events.isEmpty());
    EXPECT_EQ(SkippedLinesLogLine(Csv(Lines({ShortLine(kFullShort)}))), "");
}

TEST_F(ConvertTest, EmptyWorkingFileGivesAnEmptyExport) {
    const ExportResult r = Csv("");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Out("EXPORT_20240131_140509.CSV"), "");
    const ExportResult u = Ugs("");
    EXPECT_EQ(u.code, 1);
    EXPECT_EQ(Out("BESTELL_20240131_140509.UGS"), "");
    EXPECT_TRUE(dialogs.events.isEmpty());
}

TEST_F(ConvertTest, MissingFilesAreReportedWithTheirPath) {
    write_file(source, Lines({ShortLine(kFullShort)}));
    const QString missing_dir = dir.path() + "/gone/";
    EXPECT_EQ(ExportCsv(source, missing_dir + "EXPORT.CSV"), 0);
    EXPECT_EQ(ExportUgs(source, missing_dir + "B.UGS"), 0);
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_EQ(dialogs.events,
              QStringList({"beep", "box:" + kOpenError + missing_dir + "EXPORT_20240131_140509.CSV",
                           "beep", "box:" + kOpenError + missing_dir + "B_20240131_140509.UGS"}));
    EXPECT_EQ(dialogs.boxes[0].title, "Fehler");
    EXPECT_EQ(dialogs.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(dialogs.boxes[0].buttons, BoxButtons::Ok);
    EXPECT_FALSE(QDir(missing_dir).exists());

    dialogs.events.clear();
    EXPECT_EQ(ExportCsv(dir.path() + "/nosuch", out_dir + "EXPORT.CSV"), 0);
    EXPECT_EQ(dialogs.events, QStringList({"beep", "box:" + kOpenError + dir.path() + "/nosuch"}));
    EXPECT_TRUE(OutFiles().isEmpty());
}

TEST_F(ConvertTest, SecondExportInTheSameSecondGetsItsOwnName) {
    const OrderLine a = {"1", "1", "FIRST", "1", "31.01.2024", "14:05:09"};
    const OrderLine b = {"2", "2", "SECOND", "2", "31.01.2024", "14:05:09"};
    const OrderLine c = {"3", "3", "THIRD", "3", "31.01.2024", "14:05:09"};
    EXPECT_EQ(Csv(Lines({ShortLine(a)})).target, out_dir + "EXPORT_20240131_140509.CSV");
    EXPECT_EQ(Csv(Lines({ShortLine(b)})).target, out_dir + "EXPORT_20240131_140509_2.CSV");
    EXPECT_EQ(Csv(Lines({ShortLine(c)})).target, out_dir + "EXPORT_20240131_140509_3.CSV");
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")), "1;1;FIRST;1;31.01.2024;14:05:09\r\n");
    EXPECT_EQ(str(Out("EXPORT_20240131_140509_2.CSV")), "2;2;SECOND;2;31.01.2024;14:05:09\r\n");
    EXPECT_EQ(str(Out("EXPORT_20240131_140509_3.CSV")), "3;3;THIRD;3;31.01.2024;14:05:09\r\n");

    // The CSV and the UGS file of one download, same folder, same scanner file name.
    Ugs(UgsLine("4711", "12", "31.01.2024") + "\r\n", "EXPORT.CSV");
    EXPECT_TRUE(Out("EXPORT_20240131_140509_4.CSV").startsWith("V 240131"));
    EXPECT_EQ(OutFiles().size(), 4);

    progpar.csvoverwrite = true;
    EXPECT_EQ(Csv(Lines({ShortLine(c)})).target, out_dir + "EXPORT_20240131_140509.CSV");
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")), "3;3;THIRD;3;31.01.2024;14:05:09\r\n");
    EXPECT_EQ(OutFiles().size(), 4);
    EXPECT_TRUE(dialogs.events.isEmpty());
}

// A file size limit is a Linux process limit; Windows has no such thing.
#ifndef _WIN32
// Writes beyond `limit` bytes fail in this process (a full disk as the
// export sees it) until the object goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = saved_;
        l.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit saved_{};
    void (*old_handler_)(int) = nullptr;
};

TEST_F(ConvertTest, WriteErrorRemovesTheFileAndTellsTheUser) {
    QByteArray src;
    for (int i = 0; i < 3000; ++i)
        src += Lines({ShortLine(kFullShort)});
    write_file(source, src);
    write_file(dir.path() + "/ugs", Lines({UgsLine("4711", "12", "31.01.2024")}));
    int csv = -1, ugs = -1;
    {
        FileSizeLimit full(1000);
        csv = ExportCsv(source, out_dir + "EXPORT.CSV");
        // Small enough to stay buffered until the end: the error shows at completion.
        FileSizeLimit fuller(10);
        ugs = ExportUgs(dir.path() + "/ugs", out_dir + "B.UGS");
    }
    EXPECT_EQ(csv, 0);
    EXPECT_EQ(ugs, 0);
    EXPECT_EQ(dialogs.events,
              QStringList({"beep", "box:" + kWriteError + out_dir + "EXPORT_20240131_140509.CSV",
                           "beep", "box:" + kWriteError + out_dir + "B_20240131_140509.UGS"}));
    EXPECT_TRUE(OutFiles().isEmpty()) << OutFiles().join(",").toStdString();
}
#endif

TEST_F(ConvertTest, BarcodeLinesFollowTheColumnOrder) {
    BarcodeCsvWriter w;
    ASSERT_TRUE(w.Create());
    EXPECT_EQ(w.WriteLine("A123", "31.01.2024", "14:05:09"), "A123;31.01.2024;14:05:09");
    progpar.opn_csvpos = {1, 2, 0};
    EXPECT_EQ(w.WriteLine("A123", "31.01.2024", "14:05:09"), "31.01.2024;14:05:09;A123");
    progpar.opn_csvpos = {0, 3, 2};
    progpar.opn_csvseparator = 4;
    EXPECT_EQ(w.WriteLine("A123", "31.01.2024", "14:05:09"), "A123\t\t14:05:09");
    progpar.opn_csvpos = {0, 9, -2};
    EXPECT_EQ(w.WriteLine(QString::fromUtf8("Ü€ß"), "31.01.2024", "14:05:09"),
              QString::fromUtf8("Ü€ß\t\t"));
    EXPECT_TRUE(OutFiles().filter(QRegularExpression("^EXPORT")).isEmpty())
        << "visible before it is complete";
    ASSERT_TRUE(w.Close());
    EXPECT_EQ(w.final_name(), out_dir + "EXPORT_20240131_140509.CSV");
    EXPECT_EQ(str(Out("EXPORT_20240131_140509.CSV")),
              "A123;31.01.2024;14:05:09\r\n"
              "31.01.2024;14:05:09;A123\r\n"
              "A123\t\t14:05:09\r\n"
              "\xDC\x80\xDF\t\t\r\n");
    EXPECT_EQ(OutFiles(), QStringList{"EXPORT_20240131_140509.CSV"});

    // A second transfer in the same second does not replace the first file.
    BarcodeCsvWriter again;
    ASSERT_TRUE(again.Create());
    again.WriteLine("B1", "31.01.2024", "14:05:09");
    ASSERT_TRUE(again.Close());
    EXPECT_EQ(again.final_name(), out_dir + "EXPORT_20240131_140509_2.CSV");
    EXPECT_TRUE(dialogs.events.isEmpty());
}

TEST_F(ConvertTest, BarcodeFileFailures) {
    progpar.opn_csvdir = dir.path() + "/gone/";
    BarcodeCsvWriter w;
    EXPECT_FALSE(w.Create());
    EXPECT_EQ(dialogs.events, QStringList({"beep", "box:" + kOpenError + dir.path() +
                                                       "/gone/EXPORT_20240131_140509.CSV"}));
    EXPECT_EQ(w.WriteLine("A1", "31.01.2024", "14:05:09"), "A1;31.01.2024;14:05:09");
    EXPECT_FALSE(w.Close());

#ifndef _WIN32
    dialogs.events.clear();
    progpar.opn_csvdir = out_dir;
    BarcodeCsvWriter full;
    bool closed = true;
    {
        FileSizeLimit limit(100);
        ASSERT_TRUE(full.Create());
        for (int i = 0; i < 5000; ++i)
            full.WriteLine("A1", "31.01.2024", "14:05:09");
        closed = full.Close();
    }
    EXPECT_FALSE(closed);
    // One box, however many lines followed the failure.
    EXPECT_EQ(dialogs.events,
              QStringList({"beep", "box:" + kWriteError + out_dir + "EXPORT_20240131_140509.CSV"}));
    EXPECT_TRUE(OutFiles().isEmpty());
#endif
}

TEST_F(ConvertTest, UgsSourceIsCutIntoFourFields) {
    QStringList fields;
    ASSERT_TRUE(SplitUgsSource(
        QString::fromLatin1(UgsLine("ARTIKEL-0123456789-ABCDEFGHI", "123456", "31.01.2024") +
                            "REST"),
        fields));
    EXPECT_EQ(fields,
              QStringList({"ARTIKEL-0123456789-ABCDEFGHI", "123456", "31.01.2024", "14:05:09"}));
    EXPECT_FALSE(
        SplitUgsSource(QString::fromLatin1(UgsLine("A", "1", "31.01.2024").chopped(1)), fields));
    EXPECT_TRUE(fields.isEmpty());
}

TEST_F(ConvertTest, UgsOrderFile) {
    const ExportResult r = Ugs(Lines({
        UgsLine("4711", "12", "31.01.2024"),
        UgsLine("ARTIKELNUMMER-20-ZEI", "12", "01.02.2025", "23:59:59"),  // later dates don't count
        UgsLine("4711", "123456", "31.01.2024"),
        UgsLine("4711", "", "31.01.2024"),
    }));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.target, out_dir + "BESTELL_20240131_140509.UGS");
    EXPECT_EQ(r.written, 4);
    const QList<QByteArray> rec = Out("BESTELL_20240131_140509.UGS").split('\n');
    ASSERT_EQ(rec.size(), 6);
    EXPECT_EQ(str(rec[0]), "V 240131" + std::string(95, ' ') + "\r");
    const std::string zeros = "0000000000000\r";
    EXPECT_EQ(str(rec[1]), "A     4711" + std::string(13, ' ') + "   12" + zeros);
    EXPECT_EQ(str(rec[2]), "A     ARTIKELNUMMER-20-ZEI   12" + zeros);
    EXPECT_EQ(str(rec[3]), "A     4711" + std::string(13, ' ') + "123456" + zeros);
    EXPECT_EQ(str(rec[4]), "A     4711" + std::string(13 + 5, ' ') + zeros);
    EXPECT_EQ(rec[0].size() - 1, 103);
    EXPECT_EQ(rec[1].size() - 1, 41);
    EXPECT_EQ(rec[2].size() - 1, 44);
    EXPECT_EQ(rec[3].size() - 1, 42);
    EXPECT_EQ(rec[4].size() - 1, 41);
    EXPECT_EQ(rec[5], "");
}

TEST_F(ConvertTest, UgsHeaderWithoutAUsableDate) {
    const std::string jjmmtt = "V JJMMTT" + std::string(95, ' ') + "\r\n";
    for (const QByteArray& date :
         {QByteArray(""), QByteArray("1.1.2024"), QByteArray("31.01.24")}) {
        progpar.ugs_overwrite = true;
        Ugs(Lines({UgsLine("4711", "12", date)}));
        EXPECT_EQ(str(Out("BESTELL_20240131_140509.UGS")),
                  jjmmtt + "A     4711" + std::string(13, ' ') + "   12" + "0000000000000\r\n")
            << date.toStdString();
    }
}

TEST_F(ConvertTest, UgsHeaderComesWithTheFirstConvertedLine) {
    const ExportResult r =
        Ugs(Lines({"4711   12   31.01.2024", UgsLine("0815", "3", "01.02.2024")}));
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(str(Out("BESTELL_20240131_140509.UGS")), "V 240201" + std::string(95, ' ') + "\r\n" +
                                                           "A     0815" + std::string(13 + 4, ' ') +
                                                           "3" + "0000000000000\r\n");
    // Nothing converted: no header either.
    Ugs(Lines({"short"}));
    EXPECT_EQ(Out("BESTELL_20240131_140509_2.UGS"), "");
}

}  // namespace
