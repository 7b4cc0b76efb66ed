#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>

#include "settings/ui_seam.h"
#include "platform/profile_file.h"

namespace vt {

int BrandId = 0;
QString StartDir;
QString IniName;
progparstruct progpar;
browserrecordtype browserrecord;
bool PortClosed = false;
bool AppClosing = false;

namespace {

// clang-format off
const BrandInfo kBrands[3] = {
    {0, "VantorTrans", "VantorTrans.ini", "Vantor", "Shop Vantor", "-> Shop Vantor",
     msg::ProgramVantor, msg::ProgramVantor,
     msg::TrayStartVantor, msg::TrayReadyVantor, msg::TrayNoFormVantor, msg::TrayNotReadyVantor,
     "logo_vantor.jpg"},
    {1, "MiraboTrans", "MiraboTrans.ini", "Mirabo", "Shop Mirabo", "-> Shop Mirabo",
     msg::ProgramMirabo, msg::ProgramMirabo,
     msg::TrayStartMirabo, msg::TrayReadyMirabo, msg::TrayNoFormMirabo, msg::TrayNotReadyMirabo,
     "logo_mirabo.jpg"},
    {2, "DoerfalTrans", "DoerfalTrans.ini", "Doerfal", "Shop Dörfal", "-> Shop Dörfal",
     msg::ProgramDoerfalCaption, msg::ProgramDoerfalInfo,
     msg::TrayStartDoerfal, msg::TrayReadyDoerfal, msg::TrayNoFormDoerfal, msg::TrayNotReadyDoerfal,
     "logo_doerfal.jpg"},
};
// clang-format on

bool is_separator(QChar c) {
    return c == QDir::separator() || c == u'/';
}

// A CsvPos value into `pos[0..limit-1]`. Returns false when a piece is not an
// integer; `pos` is then untouched.
bool ParseCsvPos(const QString& value, int limit, std::array<int32_t, 11>& pos) {
    QStringList pieces;
    SplitDelimited(u',', value, pieces);
    std::array<int32_t, 11> out = pos;
    for (int k = 0; k < pieces.size() && k < limit; ++k) {
        const auto v = parse_profile_int(pieces[k]);
        if (!v)
            return false;
        out[static_cast<size_t>(k)] = *v > 0 ? *v - 1 : *v;
    }
    pos = out;
    return true;
}

void LoadCsvPos(const ProfileFile& ini, const QString& section, const QString& def, int limit,
                std::array<int32_t, 11>& pos) {
    if (!ParseCsvPos(ini.read_string(section, u"CsvPos", def), limit, pos)) {
        ParseCsvPos(def, limit, pos);
    }
    // A position outside the table would index past the record's fields.
    for (int k = 0; k < limit; ++k) {
        int32_t& p = pos[static_cast<size_t>(k)];
        if (p < 0 || p >= limit)
            p = k;
    }
}

QString CsvPosText(const std::array<int32_t, 11>& pos, int count) {
    QStringList parts;
    for (int k = 0; k < count; ++k)
        parts << QString::number(pos[static_cast<size_t>(k)] + 1);
    return parts.join(u',');
}

QString LoadDirectory(const ProfileFile& ini, const QString& key) {
    const QString v = ini.read_string(u"Directory", key, StartDir);
    if (v.isEmpty() || !QFileInfo(v).isDir())
        return StartDir;
    return WithTrailingSeparator(v);
}

int32_t ValidSeparator(int32_t index) {
    return index >= 0 && index <= 4 ? index : 0;
}

}  // namespace

const BrandInfo& brand_info(int brand_id) {
    return brand_id == 1 || brand_id == 2 ? kBrands[brand_id] : kBrands[0];
}

QString IniPath() {
    return StartDir + IniName;
}

QString SeparatorValue(int32_t index) {
    return QString::fromUtf16(csvseparators[static_cast<size_t>(ValidSeparator(index))].value);
}

QString WithTrailingSeparator(const QString& dir) {
    if (!dir.isEmpty() && is_separator(dir.back()))
        return dir;
    return dir + QDir::separator();
}

void SplitDelimited(QChar delimiter, const QString& text, QStringList& list) {
    list.clear();
    // A NUL ends the text, as it ends a C string; without this the scan below
    // would stand still on it for ever.
    qsizetype n = text.indexOf(QChar(u'\0'));
    if (n < 0)
        n = text.size();
    qsizetype i = 0;
    auto skip_blanks = [&] {
        while (i < n && text[i].unicode() >= 1 && text[i].unicode() <= 32)
            ++i;
    };
    skip_blanks();
    while (i < n) {
        QString piece;
        if (text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        piece += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                piece += text[i++];
            }
        } else {
            const qsizetype start = i;
            while (i < n && text[i].unicode() > 32 && text[i] != delimiter)
                ++i;
            piece = text.mid(start, i - start);
        }
        list << piece;
        skip_blanks();
        if (i < n && text[i] == delimiter) {
            if (i == n - 1)
                list << QString();
            ++i;
            skip_blanks();
        }
    }
}

void LoadSettings() {
    const ProfileFile ini(IniPath());
    progparstruct& p = progpar;
    const QString brand_section = QString::fromUtf8(brand().section);

    p.port = ini.read_string(u"PORT", u"Port", QStringLiteral("COM1"));
    p.baud = ini.read_integer(u"PORT", u"Baud", 115200);
    p.device = ini.read_integer(u"PORT", u"Device", 0);
    // Some parts test for 0, others for 1: an edited value must mean one thing.
    if (p.device != 1)
        p.device = 0;
    p.minimize = ini.read_bool(u"PARAMETER", u"Minimize", false);
    p.trayicon = ini.read_bool(u"PARAMETER", u"TrayIcon", false);
    p.taskbar = ini.read_bool(u"PARAMETER", u"TaskBar", true);
    p.confirmclose = ini.read_bool(u"PARAMETER", u"ConfirmClose", false);
    p.alwaysforeground = ini.read_bool(u"PARAMETER", u"AlwaysForeground", true);
    p.language = ini.read_integer(u"PARAMETER", u"Language", 0);
    p.keysendmode = ini.read_integer(u"PARAMETER", u"Keysendmode", 1);
    p.delivery = ini.read_integer(u"PARAMETER", u"Delivery", 0) == 1 ? 1 : 0;
    p.csvdir = LoadDirectory(ini, QStringLiteral("CSV"));
    p.opn_csvdir = LoadDirectory(ini, QStringLiteral("CSVOPN2001"));
    p.ugsdir = LoadDirectory(ini, QStringLiteral("UGS"));
    p.csvoverwrite = ini.read_bool(u"CSV", u"Overwrite", false);
    p.csvseparator = ValidSeparator(ini.read_integer(u"CSV", u"Separator", 0));
    LoadCsvPos(ini, QStringLiteral("CSV"), QStringLiteral("1,2,3,4,5,6"), 6, p.csvpos);
    p.opn_csvoverwrite = ini.read_bool(u"CSVOPN2001", u"Overwrite", false);
    p.opn_csvseparator = ValidSeparator(ini.read_integer(u"CSVOPN2001", u"Separator", 0));
    p.opn_csvfilename = ini.read_string(u"CSVOPN2001", u"Filename", QStringLiteral("EXPORT.CSV"));
    LoadCsvPos(ini, QStringLiteral("CSVOPN2001"), QStringLiteral("1,2,3"), 3, p.opn_csvpos);
    p.ugs_overwrite = ini.read_bool(u"UGS", u"Overwrite", false);
    p.browser[0] = ini.read_integer(brand_section, u"Browser", 0);
    p.browsertitle[0] = ini.read_string(brand_section, u"BrowserTitle", QString());
    p.formtitle[0] = ini.read_string(brand_section, u"FormTitle", QString());
    p.accesskey[0] = ini.read_string(brand_section, u"AccessKey", QString());
    p.browser[1] = ini.read_integer(u"Simple System", u"Browser", 0);
    p.browsertitle[1] = ini.read_string(u"Simple System", u"BrowserTitle", QString());
    p.formtitle[1] = ini.read_string(u"Simple System", u"FormTitle", QString());
    p.accesskey[1] = ini.read_string(u"Simple System", u"AccessKey", QStringLiteral("I"));
    p.praefix = ini.read_string(u"Options", u"Praefix", QString());
    browserrecord.mode = ini.read_integer(u"Browser", u"ActiveBrowser", 0);
    if (p.device != 1 && browserrecord.mode != 0 && browserrecord.mode != 1)
        browserrecord.mode = 0;
    p.debug = ini.read_bool(u"DEBUG", u"Debug", false);
    p.donotdelete = ini.read_bool(u"DEBUG", u"DonotDelete", false);
}

bool SaveSettings() {
    ProfileFile ini(IniPath());
    const progparstruct& p = progpar;
    const QString brand_section = QString::fromUtf8(brand().section);
    const bool opn_keys = IsMiraboOrDoerfal() && p.device == 1;

    bool ok = ini.write_string(u"PORT", u"Port", p.port) &&
              ini.write_integer(u"PORT", u"Baud", p.baud) &&
              ini.write_integer(u"PORT", u"Device", p.device == 1 ? 1 : 0) &&
              ini.write_bool(u"PARAMETER", u"Minimize", p.minimize) &&
              ini.write_bool(u"PARAMETER", u"TrayIcon", p.trayicon) &&
              ini.write_bool(u"PARAMETER", u"TaskBar", p.taskbar) &&
              ini.write_bool(u"PARAMETER", u"ConfirmClose", p.confirmclose) &&
              ini.write_integer(u"PARAMETER", u"Delivery", p.delivery == 1 ? 1 : 0) &&
              ini.write_string(u"CSV", u"CsvPos", CsvPosText(p.csvpos, 6)) &&
              ini.write_integer(u"CSV", u"Separator", p.csvseparator);
    if (ok && opn_keys) {
        ok = ini.write_string(u"CSVOPN2001", u"CsvPos", CsvPosText(p.opn_csvpos, 3)) &&
             ini.write_integer(u"CSVOPN2001", u"Separator", p.opn_csvseparator) &&
             ini.write_string(u"CSVOPN2001", u"Filename", p.opn_csvfilename);
    }
    ok = ok && ini.write_integer(brand_section, u"Browser", p.browser[0]) &&
         ini.write_string(brand_section, u"BrowserTitle", p.browsertitle[0]) &&
         ini.write_string(brand_section, u"FormTitle", p.formtitle[0]) &&
         ini.write_integer(u"Simple System", u"Browser", p.browser[1]) &&
         ini.write_string(u"Simple System", u"BrowserTitle", p.browsertitle[1]) &&
         ini.write_string(u"Simple System", u"FormTitle", p.formtitle[1]) &&
         ini.write_string(u"Directory", u"CSV", p.csvdir);
    if (ok && IsMiraboOrDoerfal())
        ok = ini.write_string(u"Directory", u"CSVOPN2001", p.opn_csvdir);
    ok = ok && ini.write_string(u"Directory", u"UGS", p.ugsdir) &&
         ini.write_integer(u"Browser", u"ActiveBrowser", browserrecord.mode) &&
         ini.write_string(u"Options", u"Praefix", p.praefix);
    if (!ok) {
        dialogs().beep();
        dialogs().message_box(QString::fromUtf8(txt::ErrorTitle),
                              FormatS(QString::fromUtf8(txt::CannotWrite), ini.path()),
                              BoxIcon::Error, BoxButtons::Ok);
    }
    return ok;
}

}  // namespace vt
