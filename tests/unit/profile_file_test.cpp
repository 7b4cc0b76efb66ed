#include "platform/profile_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include "tests/support/temp_files.h"

using namespace vt;
using vt::test::read_file;
using vt::test::str;
using vt::test::write_file;

namespace {

class ProfileFileTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("t.ini"); }
};

TEST_F(ProfileFileTest, ReadsNamesWithoutRegardToCaseAndTrimsBlanksAndQuotes) {
    write_file(path(),
               "; a comment\r\n"
               "  [ parameter ]  \r\n"
               "TRAYICON = 1\r\n"
               "Title =  \"  quoted  \" \r\n"
               "Single='x'\r\n"
               "Odd=\"half\r\n"
               "Mixed=\"a'\r\n"
               "Empty=\r\n"
               "\t Spaced\t=\tv a l \t\r\n");
    const ProfileFile ini(path());
    EXPECT_EQ(ini.read_string(u"PARAMETER", u"TrayIcon", "d"), "1");
    EXPECT_EQ(ini.read_string(u"Parameter", u"title", "d"), "  quoted  ");
    EXPECT_EQ(ini.read_string(u"parameter", u"Single", "d"), "x");
    EXPECT_EQ(ini.read_string(u"parameter", u"Odd", "d"), "\"half");
    EXPECT_EQ(ini.read_string(u"parameter", u"Mixed", "d"), "\"a'");
    EXPECT_EQ(ini.read_string(u"parameter", u"Empty", "d"), "");
    EXPECT_EQ(ini.read_string(u"parameter", u"Spaced", "d"), "v a l");
    EXPECT_EQ(ini.read_string(u"parameter", u"Missing", "d"), "d");
    EXPECT_EQ(ini.read_string(u"Other", u"TrayIcon", "d"), "d");
    EXPECT_EQ(ini.read_string(u"parameter", u"; a comment", "d"), "d");
    // Blanks around the names asked for count no more than those in the file.
    EXPECT_EQ(ini.read_string(u" parameter\t", u" TrayIcon ", "d"), "1");
    ProfileFile w(path());
    ASSERT_TRUE(w.write_string(u" Parameter ", u"  TrayIcon", "0"));
    EXPECT_EQ(ProfileFile(path()).read_string(u"parameter", u"TrayIcon", "d"), "0");
    EXPECT_EQ(read_file(path()).count("TRAYICON"), 1) << "the key was changed, not added";
}

TEST_F(ProfileFileTest, ValuesAreCutAt2047Characters) {
    write_file(path(), "[s]\nk=" + QByteArray(3000, 'x') + "\n");
    EXPECT_EQ(ProfileFile(path()).read_string(u"s", u"k", "").size(), 2047);
}

TEST_F(ProfileFileTest, IntegersAndTruthValues) {
    write_file(path(),
               "[n]\nhex=0x1C200\ndollar=$ff\nneg=-12\nplus=+7\nbad=12a\nyes=yes\nbig=99999999999\n"
               "wrap=0xFFFFFFFF\nempty=\nzero=0\nnothex=0x\n");
    const ProfileFile ini(path());
    EXPECT_EQ(ini.read_integer(u"n", u"hex", 1), 115200);
    EXPECT_EQ(ini.read_integer(u"n", u"dollar", 1), 255);
    EXPECT_EQ(ini.read_integer(u"n", u"neg", 1), -12);
    EXPECT_EQ(ini.read_integer(u"n", u"plus", 1), 7);
    EXPECT_EQ(ini.read_integer(u"n", u"bad", 1), 1);
    EXPECT_EQ(ini.read_integer(u"n", u"big", 1), 1);
    EXPECT_EQ(ini.read_integer(u"n", u"wrap", 1), -1);
    EXPECT_EQ(ini.read_integer(u"n", u"empty", 5), 5);
    EXPECT_EQ(ini.read_integer(u"n", u"nothex", 5), 5);
    EXPECT_FALSE(ini.read_bool(u"n", u"yes", false));
    EXPECT_TRUE(ini.read_bool(u"n", u"yes", true));
    EXPECT_TRUE(ini.read_bool(u"n", u"neg", false));
    EXPECT_FALSE(ini.read_bool(u"n", u"zero", true));
}

TEST_F(ProfileFileTest, WritesKeepEveryOtherLineByteForByte) {
    const QByteArray original =
        "; header comment\r\n"
        "\r\n"
        "[PORT]\r\n"
        "Port=COM1\r\n"
        "  ; inside comment\r\n"
        "Baud = 9600   \r\n"
        "Unknown=keep me\r\n"
        "\r\n"
        "[Foreign]\n"  // a line end of another kind
        "x=\"quoted\"\n"
        "[DEBUG]\r\n"
        "Debug=1";  // no final line end
    write_file(path(), original);
    ProfileFile ini(path());
    ASSERT_TRUE(ini.write_string(u"port", u"BAUD", "19200"));
    ASSERT_TRUE(ini.write_string(u"PORT", u"Device", "1"));
    ASSERT_TRUE(ini.write_string(u"Debug", u"Other", "x"));
    ASSERT_TRUE(ini.write_string(u"New", u"Key", "v"));
    ASSERT_TRUE(ini.write_string(u"PORT", u"Device", "0"));  // a second save of the same key

    const QByteArray expected =
        "; header comment\r\n"
        "\r\n"
        "[PORT]\r\n"
        "Port=COM1\r\n"
        "  ; inside comment\r\n"
        "Baud=19200\r\n"
        "Unknown=keep me\r\n"
        "Device=0\r\n"
        "\r\n"
        "[Foreign]\n"
        "x=\"quoted\"\n"
        "[DEBUG]\r\n"
        "Debug=1\r\n"
        "Other=x\r\n"
        "[New]\r\n"
        "Key=v\r\n";
    EXPECT_EQ(str(read_file(path())), str(expected));
    // A fresh reader sees what was written.
    EXPECT_EQ(ProfileFile(path()).read_string(u"port", u"baud", ""), "19200");
}

TEST_F(ProfileFileTest, NewFileIsUtf8WithCrLfInOrderOfWrites) {
    ProfileFile ini(path());
    ASSERT_TRUE(ini.write_string(u"B", u"k1", "Ü"));
    ASSERT_TRUE(ini.write_string(u"A", u"k2", "2"));
    ASSERT_TRUE(ini.write_string(u"B", u"k3", "3"));
    EXPECT_EQ(str(read_file(path())), "[B]\r\nk1=\xC3\x9C\r\nk3=3\r\n[A]\r\nk2=2\r\n");
}

TEST_F(ProfileFileTest, Windows1252FileStaysWindows1252) {
    write_file(path(),
               "[Shop]\r\nTitle=B\xFC"
               "ro\r\nOther=\xDC\r\n");  // not valid UTF-8
    ProfileFile ini(path());
    EXPECT_FALSE(ini.is_utf8());
    EXPECT_EQ(ini.read_string(u"shop", u"Title", ""), "Büro");
    ASSERT_TRUE(ini.write_string(u"Shop", u"Title", "Übersicht"));
    EXPECT_EQ(str(read_file(path())),
              "[Shop]\r\nTitle=\xDC"
              "bersicht\r\nOther=\xDC\r\n");
    EXPECT_EQ(ProfileFile(path()).read_string(u"Shop", u"Other", ""), "Ü");
}

TEST_F(ProfileFileTest, CharacterOutsideWindows1252TurnsFileIntoUtf8InsteadOfLosingIt) {
    write_file(path(), "[S]\r\nA=\xDC\r\n");
    ProfileFile ini(path());
    ASSERT_TRUE(ini.write_string(u"S", u"B", QString::fromUtf8("€ und ✓")));
    EXPECT_EQ(str(read_file(path())), "[S]\r\nA=\xC3\x9C\r\nB=\xE2\x82\xAC und \xE2\x9C\x93\r\n");
}

TEST_F(ProfileFileTest, Windows1252FileIsNotLeftToPassForUtf8) {
    // "ü" is the only byte UTF-8 refuses; "Ã©" is Windows-1252 text whose
    // bytes are also UTF-8 for "é".
    write_file(path(), "[Shop]\r\nTitle=B\xFCro\r\nOther=\xC3\xA9\r\n");
    ASSERT_EQ(ProfileFile(path()).read_string(u"Shop", u"Other", ""), QString::fromUtf8("Ã©"));
    // "Ö€" in Windows-1252 is D6 80, valid UTF-8 once "ü" has gone.
    ASSERT_TRUE(ProfileFile(path()).write_string(u"Shop", u"Title", QString::fromUtf8("Ö€")));
    EXPECT_EQ(str(read_file(path())),
              "[Shop]\r\nTitle=\xC3\x96\xE2\x82\xAC\r\nOther=\xC3\x83\xC2\xA9\r\n");
    const ProfileFile again(path());
    EXPECT_EQ(again.read_string(u"Shop", u"Title", ""), QString::fromUtf8("Ö€"));
    EXPECT_EQ(again.read_string(u"Shop", u"Other", ""), QString::fromUtf8("Ã©"));

    // A file left with ASCII only reads the same either way and keeps its bytes.
    write_file(path(), "[Shop]\r\nTitle=B\xFCro\r\nOther=x\r\n");
    ASSERT_TRUE(ProfileFile(path()).write_string(u"Shop", u"Title", "Buero"));
    EXPECT_EQ(str(read_file(path())), "[Shop]\r\nTitle=Buero\r\nOther=x\r\n");
}

TEST_F(ProfileFileTest, Utf8ByteOrderMarkIsKept) {
    write_file(path(), "\xEF\xBB\xBF[S]\r\nA=1\r\n");
    ProfileFile ini(path());
    EXPECT_EQ(ini.read_string(u"S", u"A", ""), "1");
    ASSERT_TRUE(ini.write_string(u"S", u"A", "2"));
    EXPECT_EQ(str(read_file(path())), "\xEF\xBB\xBF[S]\r\nA=2\r\n");
}

TEST_F(ProfileFileTest, FirstOfTwoSectionsOfTheSameNameCounts) {
    write_file(path(), "[S]\r\nA=1\r\n[T]\r\n[s]\r\nA=2\r\nB=3\r\n");
    ProfileFile ini(path());
    EXPECT_EQ(ini.read_string(u"S", u"A", ""), "1");
    EXPECT_EQ(ini.read_string(u"S", u"B", "none"), "none");
}

TEST_F(ProfileFileTest, ACarriageReturnAloneEndsALine) {
    // As an old Mac editor leaves a file: the key behind the CR is a key.
    const QByteArray original = "[PORT]\rPort=COM1\r[Directory]\r\nCSV=/tmp\rUGS=/u\r";
    write_file(path(), original);
    ProfileFile ini(path());
    EXPECT_EQ(ini.read_string(u"PORT", u"Port", ""), "COM1");
    EXPECT_EQ(ini.read_string(u"Directory", u"CSV", ""), "/tmp");
    EXPECT_EQ(ini.read_string(u"Directory", u"UGS", ""), "/u");
    // Writes replace the one line, keep its line end, and a line after the
    // last one does not end up behind its CR on the same line.
    ASSERT_TRUE(ini.write_string(u"PORT", u"Port", "COM4"));
    ASSERT_TRUE(ProfileFile(path()).write_string(u"Directory", u"Neu", "1"));
    EXPECT_EQ(str(read_file(path())),
              str("[PORT]\rPort=COM4\r[Directory]\r\nCSV=/tmp\rUGS=/u\rNeu=1\r\n"));
}

TEST_F(ProfileFileTest, LineBreaksInAWriteStayInsideItsLine) {
    const QByteArray original = "[PORT]\r\nPort=COM1\r\n[Vantor]\r\nFormTitle=alt\r\n";
    write_file(path(), original);
    // A title pasted with line breaks must not add a section or a key.
    const QString title = "Bestellformular\n[PORT]\r\nPort=COM9\r\n";
    const QByteArray expected =
        "[PORT]\r\nPort=COM1\r\n[Vantor]\r\nFormTitle=Bestellformular [PORT]  Port=COM9  \r\n";
    ProfileFile ini(path());
    ASSERT_TRUE(ini.write_string(u"Vantor", u"FormTitle", title));
    EXPECT_EQ(str(read_file(path())), str(expected));
    // Each save writes the key again; the file must not grow by it.
    ASSERT_TRUE(ProfileFile(path()).write_string(u"Vantor", u"FormTitle", title));
    EXPECT_EQ(str(read_file(path())), str(expected));
    const ProfileFile again(path());
    EXPECT_EQ(again.read_string(u"PORT", u"Port", ""), "COM1");
    EXPECT_EQ(again.read_string(u"Vantor", u"FormTitle", ""), "Bestellformular [PORT]  Port=COM9");

    // The same for a new key in a new section whose name has a line break.
    ASSERT_TRUE(ProfileFile(path()).write_string(u"Neu\n[PORT]", u"K\nPort", "v\nPort=COM5"));
    EXPECT_EQ(str(read_file(path())), str(expected + "[Neu [PORT]]\r\nK Port=v Port=COM5\r\n"));
    EXPECT_EQ(ProfileFile(path()).read_string(u"PORT", u"Port", ""), "COM1");
}

TEST_F(ProfileFileTest, UnwritableDirectoryReportsFailureAndLeavesFileAlone) {
#ifdef _WIN32
    // Folder modes are Unix's; a path below a regular file fails everywhere.
    const bool writes_anywhere = true;
#else
    const bool writes_anywhere = ::geteuid() == 0;
#endif
    if (writes_anywhere) {
        // root writes anywhere; a path below a regular file cannot be created by anyone.
        write_file(dir.filePath("plain"), "x");
        ProfileFile ini(dir.filePath("plain/t.ini"));
        EXPECT_FALSE(ini.write_string(u"S", u"A", "1"));
        return;
    }
    write_file(path(), "[S]\r\nA=1\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    ProfileFile ini(path());
    EXPECT_FALSE(ini.write_string(u"S", u"A", "2"));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(str(read_file(path())), "[S]\r\nA=1\r\n");
}

TEST_F(ProfileFileTest, FailedWriteLeavesNoTemporaryFileBehind) {
    write_file(dir.filePath("plain"), "x");
    ProfileFile ini(dir.filePath("plain/t.ini"));
    EXPECT_FALSE(ini.write_string(u"S", u"A", "1"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"plain"});
}

}  // namespace
