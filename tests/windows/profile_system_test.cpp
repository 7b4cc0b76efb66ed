// Our profile layer against the system's own GetPrivateProfileStringW and
// WritePrivateProfileStringW, on INI files as users and older versions
// leave them. Every key of every file is read through both; then one key is
// written through each and every key of both results is read back through
// the system. Where the two differ on purpose, the difference is listed
// below with its reason; any other difference fails.

#include <windows.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <set>
#include <string>

#include "platform/codepage.h"
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
    std::string name;
    QByteArray text;
    // Section and key of the write, and its value; no section: the first key
    // the system lists in the file, or [PORT] Port in a file without one.
    QString section, key, value;
};

// The profile fuzz target's seeds: a choice byte (bit 6: the value is
// UTF-8), the value's length and bytes, then the file.
std::vector<Case> FuzzSeeds() {
    std::vector<Case> out;
    const QDir dir(QStringLiteral(VT_PROFILE_SEEDS));
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly)) {
            ADD_FAILURE() << "cannot read the seed " << name.toStdString();
            continue;
        }
        const QByteArray seed = f.readAll();
        const int length = seed.size() >= 2 ? uchar(seed[1]) : 0;
        if (seed.size() < 2 + length) {
            ADD_FAILURE() << "seed " << name.toStdString() << " is shorter than its value";
            continue;
        }
        const QByteArray raw = seed.mid(2, length);
        const QString value = (uchar(seed[0]) & 0x40)
                                  ? QString::fromUtf8(raw)
                                  : cp1252::decode(std::string_view(raw.constData(), size_t(raw.size())));
        out.push_back({"seed " + name.toStdString(), seed.mid(2 + length), {}, {}, value});
    }
    return out;
}

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

std::vector<Case> CorpusWithSeeds() {
    std::vector<Case> all = Corpus();
    const std::vector<Case> seeds = FuzzSeeds();
    EXPECT_GE(seeds.size(), 8u) << "the profile seeds are missing from " VT_PROFILE_SEEDS;
    all.insert(all.end(), seeds.begin(), seeds.end());
    return all;
}

// A file without a byte order mark whose bytes above ASCII are valid UTF-8:
// we read it as UTF-8, the system in the ANSI code page (the difference is
// the last test's). The system is then shown the same text with the mark,
// which it reads as UTF-8 too.
bool UnmarkedUtf8(const QByteArray& bytes) {
    const std::string_view view(bytes.constData(), size_t(bytes.size()));
    return !bytes.startsWith("\xEF\xBB\xBF") &&
           std::any_of(view.begin(), view.end(), [](char ch) { return uchar(ch) >= 0x80; }) &&
           utf8::is_valid(view);
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The file as the system must be shown it to see the text we see.
QString SystemView(const QString& path) {
    const QByteArray bytes = ReadBytes(path);
    if (!UnmarkedUtf8(bytes))
        return path;
    const QString marked = path + QStringLiteral(".marked");
    write_file(marked, "\xEF\xBB\xBF" + bytes);
    return marked;
}

// Reads every key the system sees through both, and reports differences.
// Control characters shown as escapes: a seed's CR would hide the line.
QString Shown(QString text) {
    for (qsizetype i = text.size(); i-- > 0;)
        if (text[i].unicode() < 0x20)
            text.replace(i, 1, QStringLiteral("\\x%1").arg(text[i].unicode(), 2, 16, QChar(u'0')));
    return text;
}

QStringList ReadDifferences(const QString& path, const QString& system_path) {
    QStringList out;
    const ProfileFile ours(path);
    for (const auto& [section, key] : SystemKeys(system_path)) {
        const QString system = SystemRead(system_path, section, key);
        const QString mine = ours.read_string(section, key, QStringLiteral("<none>"));
        if (system != mine)
            out << QStringLiteral("[%1] %2: system \"%3\", ours \"%4\"")
                       .arg(Shown(section), Shown(key), Shown(system), Shown(mine));
    }
    return out;
}

QStringList ReadDifferences(const QString& path) { return ReadDifferences(path, path); }

// Every key of a file, as the system reads it, names folded as it folds them.
std::set<QString> KeysAndValues(const QString& path) {
    std::set<QString> out;
    for (const auto& [s, k] : SystemKeys(path))
        out.insert(s.trimmed().toLower() + u'/' + k.toLower() + u'=' + SystemRead(path, s, k));
    return out;
}

// What a read gives back for a written value: both trim blanks, and we store
// a line break as a blank.
QString AsRead(QString value) {
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    qsizetype b = 0, e = value.size();
    while (b < e && (value[b] == u' ' || value[b] == u'\t')) ++b;
    while (e > b && (value[e - 1] == u' ' || value[e - 1] == u'\t')) --e;
    return value.mid(b, e - b);
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
    for (const Case& c : CorpusWithSeeds()) {
        const QString path = copy(QString::number(n++), c.text);
        const QStringList diff = ReadDifferences(path, SystemView(path));
        EXPECT_TRUE(diff.isEmpty()) << c.name << ":\n" << diff.join('\n').toStdString();
    }
}

// Where the system's write differs from ours on purpose, ours is checked
// alone:
// - a line break in the value: the system writes it, and what follows it
//   becomes a key of its own (a value could set any setting); we store a
//   blank in its place;
// - a character the file's code page cannot hold: the system writes a
//   look-alike ("O" for an Omega) and loses it; we store the file as UTF-8;
// - a system write into a file that stays valid UTF-8 without a mark: its
//   ANSI bytes then read as UTF-8 to us.
TEST_F(ProfileAgainstSystem, AWriteLeavesTheSameKeysAndValues) {
    int n = 0;
    for (Case c : CorpusWithSeeds()) {
        const QString mine = copy(QStringLiteral("ours%1").arg(n), c.text);
        const QString theirs = copy(QStringLiteral("system%1").arg(n), c.text);
        ++n;
        if (c.section.isEmpty()) {
            const auto keys = SystemKeys(mine);
            std::tie(c.section, c.key) = keys.empty() ? std::pair(QStringLiteral("PORT"), QStringLiteral("Port"))
                                                      : keys.front();
        }
        const QString expected = AsRead(c.value);
        const std::set<QString> before = KeysAndValues(SystemView(mine));
        ASSERT_TRUE(ProfileFile(mine).write_string(c.section, c.key, c.value)) << c.name;
        ASSERT_TRUE(SystemWrite(theirs, c.section, c.key, c.value)) << c.name;
        const QString mine_seen = SystemView(mine);
        EXPECT_EQ(SystemRead(mine_seen, c.section, c.key), expected) << c.name;
        EXPECT_EQ(ProfileFile(mine).read_string(c.section, c.key, QString()), expected) << c.name;
        const std::set<QString> a = KeysAndValues(mine_seen);

        bool lossless = true;
        cp1252::encode(c.value, &lossless);
        const bool line_break = c.value.contains(u'\n') || c.value.contains(u'\r');
        if (line_break || (!lossless && !UnmarkedUtf8(c.text)) || UnmarkedUtf8(ReadBytes(theirs))) {
            // Ours alone: the one key changed or added, every other kept.
            std::set<QString> others = a;
            for (auto it = others.begin(); it != others.end();)
                it = it->startsWith(c.section.trimmed().toLower() + u'/' + c.key.toLower() + u'=')
                         ? others.erase(it)
                         : std::next(it);
            for (const QString& kept : others)
                EXPECT_TRUE(before.count(kept)) << c.name << ": " << kept.toStdString();
            EXPECT_EQ(a.size(), others.size() + 1) << c.name;
            continue;
        }
        EXPECT_EQ(ProfileFile(theirs).read_string(c.section, c.key, QString()), expected) << c.name;
        // Whatever else each write kept: the same keys with the same values.
        EXPECT_EQ(a, KeysAndValues(theirs)) << c.name;
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
