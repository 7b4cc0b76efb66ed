#include "platform/profile_file.h"

#include <QFile>
#include <cerrno>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/durable_file.h"

namespace vt {
namespace {

bool is_blank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView trim_blanks(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && is_blank(s[b]))
        ++b;
    while (e > b && is_blank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

std::string_view strip_eol(const std::string& raw) {
    std::string_view v(raw);
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r'))
        v.remove_suffix(1);
    return v;
}

// A line break written into a line would end it there: the rest would stand
// in the file as lines of its own (a key or a section the user never set),
// left behind by every later write of the key, which replaces only its first
// line. Each CR and LF becomes a blank, so a write stays one line.
QString one_line(QStringView text) {
    QString out = text.toString();
    for (QChar& c : out) {
        if (c == u'\r' || c == u'\n')
            c = u' ';
    }
    return out;
}

// Windows-1252 lines, each keeping its line end, in UTF-8.
void lines_to_utf8(std::vector<std::string>& lines) {
    for (std::string& raw : lines) {
        const std::string_view body = strip_eol(raw);
        const std::string tail = raw.substr(body.size());
        raw = cp1252::decode(body).toStdString() + tail;
    }
}

// Whether a reader would take these Windows-1252 lines for UTF-8: bytes above
// ASCII, yet none that UTF-8 refuses.
bool passes_for_utf8(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += l;
    bool high = false;
    for (const char c : all)
        high = high || static_cast<unsigned char>(c) >= 0x80;
    return high && utf8::is_valid(all);
}

}  // namespace

std::optional<int32_t> parse_profile_int(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' &&
               (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9') {
            d = c - u'0';
        } else if (base == 16 && c >= u'a' && c <= u'f') {
            d = c - u'a' + 10;
        } else if (base == 16 && c >= u'A' && c <= u'F') {
            d = c - u'A' + 10;
        } else {
            return std::nullopt;
        }
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (base == 10) {
        if (negative ? v > 0x80000000ull : v > 0x7FFFFFFFull)
            return std::nullopt;
        return negative ? static_cast<int32_t>(-static_cast<int64_t>(v)) : static_cast<int32_t>(v);
    }
    const auto bits = static_cast<uint32_t>(v);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
}

ProfileFile::ProfileFile(QString path) : path_(std::move(path)) {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray all = f.readAll();
    std::string_view bytes(all.constData(), static_cast<size_t>(all.size()));
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bom_ = true;
        bytes.remove_prefix(3);
    }
    utf8_ = utf8::is_valid(bytes);
    size_t start = 0;
    bool eol_seen = false;
    while (start < bytes.size()) {
        // A CR without an LF ends a line as well: the system's reader takes
        // it so, and a key behind it (an old Mac editor's file) must be seen.
        size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = bytes.size();
        else if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
            end += 2;
        else
            end += 1;
        lines_.emplace_back(bytes.substr(start, end - start));
        if (!eol_seen && bytes[end - 1] == '\n') {
            eol_seen = true;
            eol_ = end - start >= 2 && bytes[end - 2] == '\r' ? "\r\n" : "\n";
        }
        start = end;
    }
}

QString ProfileFile::decode(std::string_view bytes) const {
    return utf8_ ? QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()))
                 : cp1252::decode(bytes);
}

std::string ProfileFile::encode(const QString& text, bool* lossless) const {
    if (utf8_) {
        if (lossless)
            *lossless = true;
        return text.toStdString();
    }
    return cp1252::encode(text, lossless);
}

ProfileFile::Parsed ProfileFile::parse(const std::string& raw) const {
    Parsed p;
    const QString line = decode(strip_eol(raw));
    const QStringView t = trim_blanks(line);
    if (t.isEmpty() || t[0] == u';' || t[0] == u'#')
        return p;
    if (t[0] == u'[') {
        const qsizetype close = t.indexOf(u']');
        if (close < 0)
            return p;
        p.kind = Parsed::Section;
        p.name = trim_blanks(t.mid(1, close - 1)).toString();
        return p;
    }
    const qsizetype eq = t.indexOf(u'=');
    if (eq <= 0)
        return p;
    p.kind = Parsed::Key;
    p.name = trim_blanks(t.left(eq)).toString();
    QStringView v = trim_blanks(t.mid(eq + 1));
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front()) {
        v = v.mid(1, v.size() - 2);
    }
    p.value = v.left(kMaxValueLength).toString();
    return p;
}

QString ProfileFile::read_string(QStringView given_section, QStringView given_key,
                                 const QString& def) const {
    // Blanks around a name asked for do not count, as with the Windows functions.
    const QStringView section = given_section.trimmed();
    const QStringView key = given_key.trimmed();
    bool in_section = false;
    for (const std::string& raw : lines_) {
        const Parsed p = parse(raw);
        if (p.kind == Parsed::Section) {
            // Only the first section of a name counts, as with the Windows functions.
            if (in_section)
                break;
            in_section = p.name.compare(section, Qt::CaseInsensitive) == 0;
        } else if (in_section && p.kind == Parsed::Key &&
                   p.name.compare(key, Qt::CaseInsensitive) == 0) {
            return p.value;
        }
    }
    return def;
}

int32_t ProfileFile::read_integer(QStringView section, QStringView key, int32_t def) const {
    const QString v = read_string(section, key, QString());
    return parse_profile_int(v).value_or(def);
}

bool ProfileFile::read_bool(QStringView section, QStringView key, bool def) const {
    return read_integer(section, key, def ? 1 : 0) != 0;
}

bool ProfileFile::write_integer(QStringView section, QStringView key, int32_t value) {
    return write_string(section, key, QString::number(value));
}

bool ProfileFile::write_bool(QStringView section, QStringView key, bool value) {
    return write_string(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool ProfileFile::write_string(QStringView section, QStringView key, const QString& given) {
    const QString sec = one_line(section).trimmed();
    const QString k = one_line(key).trimmed();
    const QString value = one_line(given);
    bool lossless = true;
    // A value the code page cannot hold turns the whole file into UTF-8 rather
    // than losing characters; ASCII lines keep their bytes either way.
    (void)encode(sec + k + value, &lossless);
    std::vector<std::string> lines = lines_;
    const bool was_utf8 = utf8_;
    if (!lossless) {
        lines_to_utf8(lines);
        utf8_ = true;
    }

    auto make_line = [&](const QString& text) { return encode(text, nullptr) + eol_; };

    bool in_section = false;
    bool section_found = false;
    size_t insert_at = 0;  // after the last non-blank line of the section
    bool done = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        const Parsed p = parse(lines[i]);
        if (p.kind == Parsed::Section) {
            if (in_section)
                break;
            in_section = p.name.compare(sec, Qt::CaseInsensitive) == 0;
            if (in_section) {
                section_found = true;
                insert_at = i + 1;
            }
            continue;
        }
        if (!in_section)
            continue;
        if (p.kind == Parsed::Key && p.name.compare(k, Qt::CaseInsensitive) == 0) {
            // Keep the key as it is spelt in the file; only the value changes.
            const std::string& raw = lines[i];
            const std::string tail = raw.substr(strip_eol(raw).size());
            lines[i] = encode(p.name + u'=' + value, nullptr) + (tail.empty() ? eol_ : tail);
            done = true;
        } else if (!trim_blanks(decode(strip_eol(lines[i]))).isEmpty()) {
            insert_at = i + 1;
        }
    }
    if (!done) {
        if (!lines.empty() && lines.back().back() != '\n' && lines.back().back() != '\r')
            lines.back() += eol_;
        if (section_found) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at),
                         make_line(k + u'=' + value));
        } else {
            lines.push_back(make_line(u'[' + sec + u']'));
            lines.push_back(make_line(k + u'=' + value));
        }
    }
    // The code page is told from UTF-8 only by bytes UTF-8 refuses. A write
    // that removes the last of them while other bytes above ASCII stay would
    // have the next reader take the file for UTF-8 and misread those, so the
    // file turns into UTF-8 now, as for a character the code page cannot hold.
    if (!utf8_ && passes_for_utf8(lines)) {
        lines_to_utf8(lines);
        utf8_ = true;
    }
    if (!save(lines)) {
        utf8_ = was_utf8;
        return false;
    }
    lines_ = std::move(lines);
    return true;
}

bool ProfileFile::save(const std::vector<std::string>& lines) const {
    QString temp;
    const int fd = durable::CreateBeside(path_, &temp);
    if (fd < 0)
        return false;
    bool ok = true;
    if (bom_)
        ok = durable::WriteAll(fd, "\xEF\xBB\xBF", 3);
    for (const std::string& l : lines) {
        if (!ok)
            break;
        ok = durable::WriteAll(fd, l.data(), l.size());
    }
    ok = ok && durable::Flush(fd);
    ok = durable::Close(fd) && ok;
    ok = ok && durable::Replace(temp, path_);
    if (!ok)
        durable::Remove(temp);
    return ok;
}

}  // namespace vt
