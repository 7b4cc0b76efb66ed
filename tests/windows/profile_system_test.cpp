// Our profile layer against the system's own GetPrivateProfileStringW and
// WritePrivateProfileStringW, on INI files as users and older versions
// leave them. Every key of every file is read through both; then one key is
// written through each and every key of both results is read back through
// the system. Where the two differ on purpose, the difference is listed
// below with its reason; any other difference fails.

#include <windows.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <set>

#include "platform/profile_file.h"
#include "tests/support/temp_files.h"

namespace vt {
namespace {

using test::write_file;

const wchar_t* W(const QString& s) { return reinterpret_cast<const wchar_t*>(s.utf16()); }

QString SystemRead(const QString& path, const QString& section, const QString& key) {
    std::vector<wchar_t> buf(4096);
    const DWORD n = GetPrivateProfileStringW(W(section), W(key), L"<none>", buf.data(),
                                             DWORD(buf.size()), W(QDir::toNativeSeparators(path)));
    return QString::fromWCharArray(buf.data(), int(n));
}

bool SystemWrite(const QString& path, const QString& section, const QString& key,
                 const QString& value) {
    return WritePrivateProfileStringW(W(section), W(key), W(value),
                                      W(QDir::toNativeSeparators(path))) != 0;
}

// The sections and their keys, as the system lists them.
std::vector<std::pair<QString, QString>> SystemKeys(const QString& path) {
    std::vector<std::pair<QString, QString>> out;
    std::vector<wchar_t> sections(32768);
    const DWORD n = GetPrivateProfileSectionNamesW(sections.data(), DWORD(sections.size()),
                                                   W(QDir::toNativeSeparators(path)));
    for (const wchar_t* s = sections.data(); s < sections.data() + n && *s; s += wcslen(s) + 1) {
        std::vector<wchar_t> keys(32768);
        const DWORD k = GetPrivateProfileStringW(s, nullptr, L"", keys.data(), DWORD(keys.size()),
                                                 W(QDir::toNativeSeparators(path)));
        for (const wchar_t* key = keys.data(); key < keys.data() + k && *key;
             key += wcslen(key) + 1)
            out.emplace_back(QString::fromWCharArray(s), QString::fromWCharArray(key));
    }
    return out;
}

struct Case {
    const char* name;
    QByteArray text;
    // Section and key of the write, and its value.
    QString section, key, value;
};

std::vector<Case> Corpus() {
    const QByteArray hand =
        "; VantorTrans.ini, von Hand bearbeitet\r\n"
        "[PORT]\r\n"
        "Port = COM3 \r\n"
        "  Baud=115200\r\n"
        "Device=0\r\n"
        "\r\n"
        "[Vantor]\r\n"
        "BrowserTitle=\"Mozilla Firefox\"\r\n"
        "FormTitle=Bestellformular\r\n"
        "[Directory]\r\n"
        "CSV=C:\\Export\\\r\n";
    QByteArray lf = hand;
    lf.replace("\r\n", "\n");
    return {
        {"hand-edited, CR LF", hand, "PORT", "Baud", "9600"},
        {"hand-edited, LF", lf, "Vantor", "FormTitle", "Warenkorb"},
        {"Windows-1252", "[Directory]\r\nCSV=C:\\Bestellungen \xC4nderung\\\r\n[PORT]\r\nPort=COM1\r\n",
         "PORT", "Port", "COM12"},
        {"duplicate sections",
         "[PORT]\r\nPort=COM1\r\n[Other]\r\nA=1\r\n[PORT]\r\nBaud=9600\r\nPort=COM9\r\n", "PORT",
         "Baud", "19200"},
        {"duplicate keys", "[PORT]\r\nPort=COM1\r\nPort=COM2\r\n", "PORT", "Port", "COM4"},
        {"spaces around names", "[ PORT ]\r\n  Port  =  COM5  \r\n[Vantor]\r\n", " PORT ",
         "Port", "COM6"},
        {"no line end at the end", "[PORT]\r\nPort=COM7", "PORT", "Device", "1"},
        {"a new section", "[PORT]\r\nPort=COM7\r\n", "Directory", "UGS", "D:\\UGS\\"},
        {"an empty file", "", "PORT", "Port", "COM2"},
    };
}

// Reads every key the system sees through both, and reports differences.
QStringList ReadDifferences(const QString& path) {
    QStringList out;
    const ProfileFile ours(path);
    for (const auto& [section, key] : SystemKeys(path)) {
        const QString system = SystemRead(path, section, key);
        const QString mine = ours.read_string(section, key, QStringLiteral("<none>"));
        if (system != mine)
            out << QStringLiteral("[%1] %2: system \"%3\", ours \"%4\"")
                       .arg(section, key, system, mine);
    }
    return out;
}

class ProfileAgainstSystem : public ::testing::Test {
  protected:
    QString copy(const QString& name, const QByteArray& text) {
        const QString path = dir_.filePath(name + QStringLiteral(".ini"));
        write_file(path, text);
        return path;
    }
    QTemporaryDir dir_;
};

TEST_F(ProfileAgainstSystem, EveryKeyReadsTheSame) {
    int n = 0;
    for (const Case& c : Corpus()) {
        const QString path = copy(QString::number(n++), c.text);
        const QStringList diff = ReadDifferences(path);
        // The system reads a file without a byte order mark in the ANSI code
        // page, and so do we for any file that is not valid UTF-8: the same.
        EXPECT_TRUE(diff.isEmpty()) << c.name << ":\n" << diff.join('\n').toStdString();
    }
}

TEST_F(ProfileAgainstSystem, AWriteLeavesTheSameKeysAndValues) {
    int n = 0;
    for (const Case& c : Corpus()) {
        const QString mine = copy(QStringLiteral("ours%1").arg(n), c.text);
        const QString theirs = copy(QStringLiteral("system%1").arg(n), c.text);
        ++n;
        ASSERT_TRUE(ProfileFile(mine).write_string(c.section, c.key, c.value)) << c.name;
        ASSERT_TRUE(SystemWrite(theirs, c.section, c.key, c.value)) << c.name;
        EXPECT_EQ(SystemRead(mine, c.section, c.key), c.value) << c.name;
        EXPECT_EQ(ProfileFile(theirs).read_string(c.section, c.key, QString()), c.value) << c.name;
        // Whatever else each write kept: the same keys with the same values.
        std::set<QString> a, b;
        for (const auto& [s, k] : SystemKeys(mine))
            a.insert(s.trimmed().toLower() + u'/' + k.toLower() + u'=' + SystemRead(mine, s, k));
        for (const auto& [s, k] : SystemKeys(theirs))
            b.insert(s.trimmed().toLower() + u'/' + k.toLower() + u'=' +
                     SystemRead(theirs, s, k));
        EXPECT_EQ(a, b) << c.name;
    }
}

// The one deliberate difference: a file without a byte order mark that is
// valid UTF-8 with text above ASCII. The system reads it in the ANSI code
// page; we read it as UTF-8, since that is how we write every new file and
// every file a character of the code page could not hold, and a Windows-1252
// file with such text is practically never valid UTF-8.
TEST_F(ProfileAgainstSystem, AUtf8FileWithoutAByteOrderMarkIsReadAsUtf8) {
    const QString path =
        copy(QStringLiteral("utf8"), "[Vantor]\r\nFormTitle=B\xC3\xBCrobedarf\r\nBrowser=2\r\n");
    const QStringList diff = ReadDifferences(path);
    ASSERT_EQ(diff.size(), 1) << diff.join('\n').toStdString();
    EXPECT_EQ(ProfileFile(path).read_string(u"Vantor", u"FormTitle", QString()),
              QStringLiteral("B\u00FCrobedarf"));
    EXPECT_EQ(SystemRead(path, "Vantor", "FormTitle"), QStringLiteral("B\u00C3\u00BCrobedarf"));
    // With the mark, both read UTF-8.
    const QString marked = copy(QStringLiteral("bom"),
                                "\xEF\xBB\xBF[Vantor]\r\nFormTitle=B\xC3\xBCrobedarf\r\n");
    EXPECT_TRUE(ReadDifferences(marked).isEmpty()) << ReadDifferences(marked).join('\n').toStdString();
}

}  // namespace
}  // namespace vt
