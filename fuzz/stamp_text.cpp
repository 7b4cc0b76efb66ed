#include "fuzz/stamp_text.h"

#include <cstring>

namespace vt::fuzz {
namespace {

// The two digits at `at` as a number within [lo, hi], or -1.
template <class Text>
int Number(const Text& text, int at, int lo, int hi) {
    const auto a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    const int v = (a - '0') * 10 + (b - '0');
    return v >= lo && v <= hi ? v : -1;
}

bool Punctuation(const QString& text, const char* shape) {
    if (text.size() != qsizetype(std::strlen(shape))) return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (shape[i] != '9' && text[i] != QLatin1Char(shape[i])) return false;
    }
    return true;
}

}  // namespace

bool IsLibraryStampText(const char* text) {
    const char* shape = "99:99:99 XM 99/99/99";
    for (size_t i = 0; i < 20; ++i) {
        if (shape[i] != '9' && shape[i] != 'X' && text[i] != shape[i]) return false;
    }
    if (text[9] != 'A' && text[9] != 'P') return false;
    return Number(text, 0, 1, 12) >= 0 && Number(text, 3, 0, 59) >= 0 && Number(text, 6, 0, 59) >= 0 &&
           Number(text, 12, 1, 12) >= 0 && Number(text, 15, 1, 31) >= 0 && Number(text, 18, 0, 99) >= 0;
}

bool IsCsvDate(const QString& date) {
    if (!Punctuation(date, "99.99.9999")) return false;
    const QByteArray b = date.toLatin1();
    return Number(b, 0, 1, 31) >= 0 && Number(b, 3, 1, 12) >= 0 && Number(b, 6, 20, 20) >= 0 &&
           Number(b, 8, 0, 99) >= 0;
}

bool IsCsvTime(const QString& time) {
    if (!Punctuation(time, "99:99:99")) return false;
    const QByteArray b = time.toLatin1();
    return Number(b, 0, 0, 23) >= 0 && Number(b, 3, 0, 59) >= 0 && Number(b, 6, 0, 59) >= 0;
}

}  // namespace vt::fuzz
