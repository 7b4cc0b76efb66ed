// Everything that cuts scanner or settings text into fields, and the text
// conversions around it, on one input read in several ways:
// SplitDelimited (the delimiter is the first byte), the OPL-98xx shop record
// and its shop line, the CSV and UGS source lines, Windows-1252 and UTF-8,
// and the OPN-2001 time stamps (the first four bytes as a stamp, the first
// 22 as the library's stamp text).

#include <QStringList>
#include <cstring>
#include <memory>

#include "csp2/csp2.h"
#include "csp2/csp2_protocol.h"
#include "delivery/convert.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/stamp_text.h"
#include "links/opl_record.h"
#include "links/opn_link.h"
#include "platform/codepage.h"
#include "settings/settings.h"

using namespace vt;
using vt::fuzz::Check;

namespace {

// What SplitDelimited may drop: blanks and control characters, the
// delimiter and the quotes. Everything else must come out in order.
QString Kept(QStringView text, QChar delimiter) {
    QString out;
    for (QChar c : text) {
        if (c.unicode() > 32 && c != delimiter && c != u'"') out += c;
    }
    return out;
}

void CheckSplitDelimited(QChar delimiter, const QString& text) {
    QStringList pieces{QStringLiteral("left from before")};
    SplitDelimited(delimiter, text, pieces);
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    const QStringView used = QStringView(text).left(nul < 0 ? text.size() : nul);
    Check(pieces.size() <= used.size() + 1, "more pieces than characters");
    QString joined;
    for (const QString& p : pieces) {
        Check(p.size() <= used.size(), "piece longer than its text");
        joined += p;
    }
    Check(Kept(joined, delimiter) == Kept(used, delimiter), "SplitDelimited lost or made up characters");
}

bool Trimmed(const QString& s) {
    return s.isEmpty() || (s.front() != u' ' && s.back() != u' ');
}

// Each field trimmed, within its width and taken from its own columns.
void CheckFields(const QString& line, const QStringList& fields, std::initializer_list<std::pair<int, int>> layout,
                 const char* what) {
    Check(fields.size() == qsizetype(layout.size()), what);
    qsizetype i = 0;
    for (const auto& [first, width] : layout) {
        const QString& f = fields[i++];
        Check(Trimmed(f) && f.size() <= width, what);
        Check(line.mid(first, width).contains(f), what);
    }
}

void CheckOplRecord(const QString& text) {
    QStringList fields{QStringLiteral("old")};
    const bool whole = SplitOplRecord(text, fields);
    Check(whole == (text.size() >= 35), "SplitOplRecord's verdict on the record length");
    CheckFields(text, fields, {{0, 28}, {29, 6}}, "OPL record fields");

    QString between = fields[0];
    ExtractBetweenSemicolons(between);
    if (fields[0].count(u';') == 2) {
        Check(!between.contains(u';') && fields[0].contains(u';' + between + u';'), "text between the semicolons");
    } else {
        Check(between == fields[0], "text without two semicolons changed");
    }
    Check(ShopLineText(1, fields) == fields[0], "Simple System line is not the article");
    const QString shop0 = ShopLineText(0, fields);
    Check(shop0.endsWith(u'\t' + fields[1]), "shop line does not end with TAB quantity");
    const QString typed_article = shop0.chopped(fields[1].size() + 1);
    Check(fields[0].contains(typed_article), "shop line's article is not from the record");
}

void CheckSources(const QString& text) {
    QStringList fields{QStringLiteral("old")};
    if (SplitCsvSource(text, fields)) {
        Check(text.size() >= 65, "CSV line cut shorter than its layout");
        if (text.size() >= 5 && text[4] == u';') {
            CheckFields(text, fields, {{0, 4}, {5, 4}, {10, 28}, {39, 6}, {46, 10}, {57, 8}}, "short CSV fields");
        } else {
            CheckFields(text, fields, {{0, 12}, {13, 12}, {26, 28}, {55, 6}, {62, 10}, {73, 8}}, "long CSV fields");
        }
    } else {
        Check(fields.isEmpty() && text.size() < 81, "CSV line refused");
    }
    fields = QStringList{QStringLiteral("old")};
    const bool ugs = SplitUgsSource(text, fields);
    Check(ugs == (text.size() >= 55), "UGS verdict on the line length");
    if (ugs) {
        CheckFields(text, fields, {{0, 28}, {29, 6}, {36, 10}, {47, 8}}, "UGS fields");
    } else {
        Check(fields.isEmpty(), "fields left from a refused UGS line");
    }
}

void CheckEncodings(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const QString text = cp1252::decode(bytes);
    Check(text.size() == qsizetype(size), "code page decoding changed the length");
    bool lossless = false;
    Check(cp1252::encode(text, &lossless) == bytes && lossless, "code page round trip");

    // The same bytes as UTF-16, most of which the code page cannot hold.
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    const QString wide = QString::fromStdU16String(units);
    const std::string narrow = cp1252::encode(wide, &lossless);
    Check(narrow.size() == size_t(wide.size()), "one byte per character");
    bool all = true;
    for (qsizetype i = 0; i < wide.size(); ++i) {
        unsigned char b = 0;
        const bool known = cp1252::encode_char(wide[i].unicode(), b);
        all = all && known;
        const unsigned char written = static_cast<unsigned char>(narrow[size_t(i)]);
        Check(known ? written == b && cp1252::decode(std::string_view(narrow).substr(size_t(i), 1)) == wide[i]
                    : written == '?',
              "code page character");
    }
    Check(lossless == all, "lossless flag");

    // The strict check and Qt's decoder must agree on what is UTF-8.
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool valid = utf8::is_valid(bytes);
    Check(valid == (QString::fromUtf8(raw).toUtf8() == raw), "UTF-8 check disagrees with Qt");
}

void CheckStamps(const uint8_t stamp[4], size_t text_size) {
    const csp2::Stamp s = csp2::DecodeStamp(stamp);
    Check(s.year >= 2000 && s.year <= 2063 && s.month <= 15 && s.day <= 31 && s.hour <= 31 && s.minute <= 63 &&
              s.second <= 63,
          "stamp field out of its bits");
    uint8_t again[4];
    csp2::EncodeStamp(s, again);
    Check(std::memcmp(again, stamp, 4) == 0, "stamp bits do not round trip");

    std::unique_ptr<char[]> text(new char[text_size]);
    std::memset(text.get(), '#', text_size);
    const csp2::Result r = csp2::FormatStamp(stamp, text.get(), text_size);
    if (r == csp2::kOk) {
        Check(text[20] == 0 && vt::fuzz::IsLibraryStampText(text.get()), "stamp text shape");
    } else {
        Check(r == csp2::kBadArgument || r == csp2::kBadStamp, "stamp text result");
        for (size_t i = 0; i < text_size; ++i) Check(text[i] == '#', "stamp text written on failure");
    }
    char big[32];
    Check((csp2TimeStamp2Str(stamp, big, sizeof big) == 0) == (csp2::FormatStamp(stamp, big, sizeof big) == csp2::kOk),
          "library and protocol judge the stamp differently");

    QString date, time;
    OpnDecodeStamp(stamp, date, time);
    Check(vt::fuzz::IsCsvDate(date) && vt::fuzz::IsCsvTime(time), "barcode CSV date or time shape");
    if (csp2::FormatStamp(stamp, big, sizeof big) == csp2::kOk) {
        Check(date == QString::asprintf("%02d.%02d.%04d", s.day, s.month, s.year) &&
                  time == QString::asprintf("%02d:%02d:%02d", s.hour, s.minute, s.second),
              "barcode CSV stamp is not the scanner's");
    } else {
        Check(date == u"01.01.2000" && time == u"00:00:00", "unreadable stamp not shown as the default");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const QString all = cp1252::decode(bytes);
    const QString rest = all.mid(1);

    CheckSplitDelimited(all[0], rest);
    CheckOplRecord(rest);
    CheckSources(rest);
    QString code = rest;
    OpnSplitCode(code);  // for the sanitizers: its result is any text
    CheckEncodings(data, size);

    if (size >= 4) CheckStamps(data, data[size - 1] % 41);
    if (size >= 22) {
        // Exactly the 22 bytes the stamp text is read from.
        std::unique_ptr<char[]> text(new char[22]);
        std::memcpy(text.get(), data, 22);
        QString date, time;
        OpnStampTextToDateTime(text.get(), date, time);
    }
    return 0;
}
