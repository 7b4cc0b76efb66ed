#include "platform/codepage.h"

#include <array>

namespace vt::cp1252 {
namespace {

// 0x80..0x9F; the undefined bytes keep their own value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

QString decode(std::string_view bytes) {
    QString out;
    out.resize(static_cast<qsizetype>(bytes.size()));
    QChar* d = out.data();
    for (unsigned char b : bytes) {
        *d++ = QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t(b));
    }
    return out;
}

bool encode_char(char16_t c, unsigned char& out) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        out = static_cast<unsigned char>(c);
        return true;
    }
    for (size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c) {
            out = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

std::string encode(QStringView text, bool* lossless) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    bool ok = true;
    for (QChar qc : text) {
        unsigned char b = 0;
        if (encode_char(qc.unicode(), b)) {
            out.push_back(static_cast<char>(b));
        } else {
            ok = false;
            out.push_back('?');
        }
    }
    if (lossless)
        *lossless = ok;
    return out;
}

}  // namespace vt::cp1252

namespace vt::utf8 {

bool is_valid(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len = 0;
        unsigned cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(len) > n)
            return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += static_cast<size_t>(len);
    }
    return true;
}

}  // namespace vt::utf8
