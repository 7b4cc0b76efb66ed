// The INI file as the user may have left it: every setting read from it,
// a device name resolved through its [Ports], then one key written, after
// which every line the write did not aim at must still be there byte for
// byte, the value must read back, and no other file may appear.
//
// Input: a choice byte (bit 7: write a key the file already has, else one of
// the program's own keys picked by bits 0-5; bit 6: the value is UTF-8, else
// Windows-1252), the value's length and bytes, then the file.

#include <QDir>
#include <QFile>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "platform/profile_file.h"
#include "platform/serial_port.h"
#include "settings/settings.h"

using namespace vt;
using vt::fuzz::Check;

namespace {


struct Key {
    const char16_t* section;
    const char16_t* key;
};
// The keys the program reads or writes, and two it never knew.
constexpr Key kKeys[] = {
    {u"PORT", u"Port"},         {u"PORT", u"Baud"},           {u"PORT", u"Device"},
    {u"PARAMETER", u"Minimize"}, {u"PARAMETER", u"TaskBar"},   {u"PARAMETER", u"Keysendmode"},
    {u"CSV", u"CsvPos"},         {u"CSV", u"Separator"},       {u"CSVOPN2001", u"Filename"},
    {u"CSVOPN2001", u"CsvPos"},  {u"Vantor", u"BrowserTitle"}, {u"Simple System", u"FormTitle"},
    {u"Directory", u"CSV"},      {u"Directory", u"UGS"},       {u"Browser", u"ActiveBrowser"},
    {u"Options", u"Praefix"},    {u"DEBUG", u"Debug"},         {u"Ports", u"COM1"},
    {u"New Section", u"Key"},    {u"PORT", u"New Key"},
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const uint8_t* data, size_t size) {
    QFile f(path);
    Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot set up the file");
    f.write(reinterpret_cast<const char*>(data), qint64(size));
}

// The file's lines, each with its own line end as the file has it: LF,
// CR LF, or a CR alone.
std::vector<QByteArray> Lines(const QByteArray& bytes) {
    std::vector<QByteArray> out;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
        if (end < bytes.size()) end += bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? 2 : 1;
        out.push_back(bytes.mid(start, end - start));
        start = end;
    }
    return out;
}

QByteArray Body(const QByteArray& line) {
    qsizetype n = line.size();
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
    return line.left(n);
}

QString Decode(const QByteArray& bytes, bool utf8) {
    return utf8 ? QString::fromUtf8(bytes) : cp1252::decode(std::string_view(bytes.constData(), size_t(bytes.size())));
}

QString TrimBlanks(QString s) {
    qsizetype b = 0, e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
    return s.mid(b, e - b);
}

bool PlainName(const QString& s) {
    if (s.isEmpty()) return false;
    for (QChar c : s) {
        if (!c.isLetterOrNumber() && c != u' ' && c != u'_' && c != u'.' && c != u'-') return false;
    }
    return s.front() != u' ' && s.back() != u' ';
}

// The n-th key line of the file with the section it stands in, both plain.
bool ExistingKey(const std::vector<QByteArray>& lines, bool utf8, int n, QString& section, QString& key) {
    std::vector<std::pair<QString, QString>> found;
    QString current;
    for (const QByteArray& raw : lines) {
        const QString t = TrimBlanks(Decode(Body(raw), utf8));
        if (t.startsWith(u'[') && t.contains(u']')) {
            current = TrimBlanks(t.mid(1, t.indexOf(u']') - 1));
        } else if (t.indexOf(u'=') > 0 && !t.startsWith(u';') && !t.startsWith(u'#')) {
            const QString k = TrimBlanks(t.left(t.indexOf(u'=')));
            if (PlainName(current) && PlainName(k)) found.emplace_back(current, k);
        }
    }
    if (found.empty()) return false;
    std::tie(section, key) = found[size_t(n) % found.size()];
    return true;
}

// A written value as it stands in its line: line breaks become blanks.
QString AsStored(QString value) {
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    return value;
}

// What a read gives back for a written value.
QString AsRead(const QString& value) {
    QString v = TrimBlanks(AsStored(value));
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front()) v = v.mid(1, v.size() - 2);
    return v.left(ProfileFile::kMaxValueLength);
}

void CheckLoadedSettings() {
    const progparstruct& p = progpar;
    Check(p.device == 0 || p.device == 1, "device not corrected");
    Check(p.csvseparator >= 0 && p.csvseparator <= 4 && p.opn_csvseparator >= 0 && p.opn_csvseparator <= 4,
          "separator index not corrected");
    for (int k = 0; k < 6; ++k) Check(p.csvpos[size_t(k)] >= 0 && p.csvpos[size_t(k)] < 6, "CSV position outside the fields");
    for (int k = 0; k < 3; ++k) Check(p.opn_csvpos[size_t(k)] >= 0 && p.opn_csvpos[size_t(k)] < 3, "barcode CSV position outside the fields");
    if (p.device != 1) Check(browserrecord.mode == 0 || browserrecord.mode == 1, "target not corrected");
    for (const QString* dir : {&p.csvdir, &p.opn_csvdir, &p.ugsdir}) {
        Check(dir->endsWith(u'/') && QDir(*dir).exists(), "export folder not a folder");
    }
}

// The old file's lines as the write must have left them: as they were, or
// re-encoded to UTF-8 line by line when the value needed that.
std::vector<QByteArray> ExpectedKept(const std::vector<QByteArray>& old, bool to_utf8) {
    if (!to_utf8) return old;
    std::vector<QByteArray> out;
    for (const QByteArray& raw : old) {
        const QByteArray body = Body(raw);
        out.push_back(Decode(body, false).toUtf8() + raw.mid(body.size()));
    }
    return out;
}

// New equals old with one line replaced, or with one or two lines inserted
// at one place (the last old line then gains a line end if it had none).
void CheckLineRule(const std::vector<QByteArray>& old, const std::vector<QByteArray>& now, const QString& key,
                   const QString& value, bool utf8) {
    // A replaced line keeps the line end it had, even a lone CR on the last line.
    const auto written = [&](const QByteArray& line) {
        const QString text = Decode(Body(line), utf8);
        return text.endsWith(u'=' + value) &&
               TrimBlanks(text.left(text.size() - value.size() - 1)).compare(key, Qt::CaseInsensitive) == 0;
    };
    if (now.size() == old.size()) {
        size_t changed = 0, at = 0;
        for (size_t i = 0; i < old.size(); ++i) {
            if (now[i] != old[i]) ++changed, at = i;
        }
        Check(changed <= 1, "a write changed more than one line");
        if (changed == 1) Check(written(now[at]), "the changed line is not the key's");
        return;
    }
    Check(now.size() == old.size() + 1 || now.size() == old.size() + 2, "a write added more than two lines");
    const size_t added = now.size() - old.size();
    size_t i = 0;
    while (i < old.size() && now[i] == old[i]) ++i;
    // The one old line allowed to differ: the last, which gains a line end.
    const auto same_old = [&](size_t o, const QByteArray& n) {
        return n == old[o] || (o + 1 == old.size() && !old[o].endsWith('\n') && n.startsWith(old[o]) &&
                               Body(n) == Body(old[o] + "\n") && n.endsWith('\n'));
    };
    if (i < old.size() && same_old(i, now[i])) ++i;
    for (size_t k = i; k < old.size(); ++k) Check(same_old(k, now[k + added]), "a line moved or changed by an insert");
    Check(written(now[i + added - 1]) && now[i + added - 1].endsWith('\n'), "the inserted line is not the key's");
    if (added == 2) Check(i == old.size(), "a new section not at the end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vt::fuzz::InputBytes in(data, size);
    const uint8_t choice = in.byte();
    const uint8_t* value_bytes = nullptr;
    const size_t value_size = in.take(in.byte(), &value_bytes);
    const QByteArray value_raw(reinterpret_cast<const char*>(value_bytes), qsizetype(value_size));
    const QString value = (choice & 0x40) ? QString::fromUtf8(value_raw) : Decode(value_raw, false);
    const QByteArray file(reinterpret_cast<const char*>(in.rest()), qsizetype(in.left()));

    static const QString base = vt::fuzz::ScratchFolder("profile");  // holds only work/
    static const QString work = base + QStringLiteral("/work");
    QDir(work).removeRecursively();
    Check(QDir().mkpath(work), "cannot make the work folder");
    BrandId = 0;
    StartDir = work + u'/';
    IniName = QStringLiteral("VantorTrans.ini");
    WriteAll(IniPath(), in.rest(), in.left());
    progpar = progparstruct{};
    browserrecord = browserrecordtype{};

    LoadSettings();
    CheckLoadedSettings();
    (void)serial::ResolveComName(progpar.port, IniPath());
    const ProfileFile reader(IniPath());
    (void)reader.read_integer(u"PORT", u"Baud", 0);
    (void)reader.read_bool(u"DEBUG", u"Debug", false);
    Check(reader.read_string(u"Ports", u"COM1", QString()).size() <= ProfileFile::kMaxValueLength, "value longer than the cut");

    const bool bom = file.startsWith("\xEF\xBB\xBF");
    const QByteArray old_body = bom ? file.mid(3) : file;
    const bool utf8 = utf8::is_valid(std::string_view(old_body.constData(), size_t(old_body.size())));
    const std::vector<QByteArray> old_lines = Lines(old_body);
    QString section = QString::fromUtf16(kKeys[(choice & 0x3F) % std::size(kKeys)].section);
    QString key = QString::fromUtf16(kKeys[(choice & 0x3F) % std::size(kKeys)].key);
    if (choice & 0x80) ExistingKey(old_lines, utf8, choice & 0x3F, section, key);

    ProfileFile ini(IniPath());
    const bool ok = ini.write_string(section, key, value);
    const QByteArray now = ReadAll(IniPath());
    if (!ok) {
        Check(now == file, "a failed write changed the file");
    } else {
        Check(now.startsWith("\xEF\xBB\xBF") == bom, "byte order mark changed");
        // A Windows-1252 file that now reads as UTF-8 must have been turned
        // into UTF-8 whole: no kept line may stay in the code page.
        const QByteArray now_body = bom ? now.mid(3) : now;
        const bool to_utf8 = !utf8 && utf8::is_valid(std::string_view(now_body.constData(), size_t(now_body.size())));
        CheckLineRule(ExpectedKept(old_lines, to_utf8), Lines(now_body), key, AsStored(value), utf8 || to_utf8);
        Check(ProfileFile(IniPath()).read_string(section, key, QStringLiteral("<none>")) == AsRead(value),
              "the written value does not read back");
    }
    Check(QDir(work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot) ==
              QStringList{IniName},
          "a file besides the INI file in its folder");
    Check(QDir(base).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot) ==
              QStringList{QStringLiteral("work")},
          "a file written outside the INI file's folder");
    return 0;
}
