#pragma once
// 8-bit text of the German Windows code page (Windows-1252), the encoding of
// every working and export file and of INI files that are not UTF-8.

#include <QString>
#include <string>
#include <string_view>

namespace vt::cp1252 {

// Every byte maps to one character; the five bytes Windows leaves undefined
// map to the C1 control with the same value so that they survive a round trip.
QString decode(std::string_view bytes);

// Characters outside the code page become '?'; `lossless` tells whether any did.
std::string encode(QStringView text, bool* lossless = nullptr);

// One character; returns false (and leaves `out`) when it has no byte.
bool encode_char(char16_t c, unsigned char& out);

}  // namespace vt::cp1252

namespace vt::utf8 {
// Strict check: overlong forms, surrogates and values above U+10FFFF fail.
bool is_valid(std::string_view bytes);
}  // namespace vt::utf8
