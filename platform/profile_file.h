#pragma once
// A Windows-style profile (INI) file, read and written one key at a time.
//
// Names are matched without regard to case, blanks around values are dropped,
// a value in a matching pair of quotes loses them, values are cut at 2047
// characters. A write changes exactly one line (or appends one) and leaves
// every other byte of the file as it was; the file is replaced atomically.
// Line breaks in a written name or value are written as blanks. A
// Windows-1252 file turns into UTF-8 when a write needs a character the code
// page lacks, or would leave the file readable as UTF-8 with other text.

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vt {

// Decimal with optional sign, or "0x"/"$" hexadecimal (up to 32 bits, wrapping
// as the Windows conversion does). Anything else has no value.
std::optional<int32_t> parse_profile_int(QStringView text);

class ProfileFile {
  public:
    static constexpr int kMaxValueLength = 2047;

    // Reads the file at once; a missing or unreadable file reads as empty.
    explicit ProfileFile(QString path);

    const QString& path() const { return path_; }
    bool is_utf8() const { return utf8_; }

    QString read_string(QStringView section, QStringView key, const QString& def) const;
    int32_t read_integer(QStringView section, QStringView key, int32_t def) const;
    bool read_bool(QStringView section, QStringView key, bool def) const;

    // Each write replaces the file on disk; false when it could not be written
    // (the file then stays as it was before this write).
    bool write_string(QStringView section, QStringView key, const QString& value);
    bool write_integer(QStringView section, QStringView key, int32_t value);
    bool write_bool(QStringView section, QStringView key, bool value);

  private:
    struct Parsed {
        enum Kind { Other, Section, Key } kind = Other;
        QString name;   // section or key name, trimmed
        QString value;  // key value, trimmed and unquoted
    };
    Parsed parse(const std::string& raw) const;
    QString decode(std::string_view bytes) const;
    std::string encode(const QString& text, bool* lossless) const;
    bool save(const std::vector<std::string>& lines) const;

    QString path_;
    std::vector<std::string> lines_;  // raw bytes, each with its own line end
    bool utf8_ = true;
    bool bom_ = false;
    std::string eol_ = "\r\n";
};

}  // namespace vt
