#pragma once
// The settings record, the program-wide state shared by every part, and the
// INI file that holds the settings between runs.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "settings/messages.h"

namespace vt {

struct progparstruct {
    QString port;
    int32_t baud = 0;
    int32_t device = 0;  // 0 OPL-98xx, 1 OPN-2001; anything else is corrected to 0 on load
    int32_t sattelit = 0;
    bool minimize = false;
    bool trayicon = false;
    bool taskbar = false;
    bool confirmclose = false;
    bool alwaysforeground = false;
    int32_t language = 0;
    int32_t activebrowser = 0;
    int32_t keysendmode = 0;
    int32_t delivery = 0;  // 0 keystrokes (also any other value on load), 1 browser extension
    std::array<int32_t, 2> browser{};
    std::array<QString, 2> browsertitle;
    std::array<QString, 2> formtitle;
    std::array<QString, 2> accesskey;
    bool debug = false;
    bool donotdelete = false;
    int32_t waitformde = 0;
    QString mdeid;
    int32_t polltime = 0;
    int32_t mdepolltimeout = 0;
    bool irdalite = false;
    bool mdedownload = false;
    bool autostart = false;
    bool autoclose = false;
    bool onetransfer = false;
    bool setclock = false;
    QString csvdir;
    QString opn_csvdir;
    QString ugsdir;
    std::array<int32_t, 11> csvpos{};
    int32_t csvseparator = 0;
    bool csvoverwrite = false;
    QString opn_csvfilename;
    std::array<int32_t, 11> opn_csvpos{};
    int32_t opn_csvseparator = 0;
    bool opn_csvoverwrite = false;
    bool ugs_overwrite = false;
    QString praefix;
};

struct separatortype {
    const char16_t* value;
    const char16_t* name;
};

inline constexpr std::array<separatortype, 5> csvseparators = {{
    {u";", u";"},
    {u",", u","},
    {u" ", u" "},
    {u"|", u"|"},
    {u"\t", u"Tab"},
}};

inline constexpr std::array<const char16_t*, 7> csvcolumnnames = {
    u"Kostenstelle", u"Lagerort", u"Artikel", u"Menge", u"Datum", u"Zeit", u""};
inline constexpr std::array<const char16_t*, 7> opn_csvcolumnnames = {
    u"Artikel", u"Datum", u"Zeit", u"", u"", u"", u""};

// The separator text for an index; an index that no table entry has gives ";".
QString SeparatorValue(int32_t index);

struct browserrecordtype {
    std::array<bool, 2> state{};
    int32_t mode = 0;  // the selected target: 0 brand shop, 1 "Simple System", 2 CSV
    QString title;
    QString classname;
    uint64_t handle = 0;
    int32_t processid = 0;
    bool visible = false;
};

// The brand, fixed per executable: main() sets it from its compile-time constant.
struct BrandInfo {
    int id;
    const char* mutex_name;
    const char* ini_name;
    const char* section;
    const char* shop_button;
    const char* opl_file0_text;
    MessageDef caption_name;
    MessageDef info_name;
    MessageDef tray_start;
    MessageDef tray_ready;
    MessageDef tray_no_form;
    MessageDef tray_not_ready;
    const char* logo;  // resource name of the banner picture
};
const BrandInfo& brand_info(int brand_id);  // values other than 1 and 2 give Vantor

extern int BrandId;
extern QString StartDir;  // ends with a separator
extern QString IniName;
extern progparstruct progpar;
extern browserrecordtype browserrecord;

// True while the scanner port is not usable (serial port access keeps it).
extern bool PortClosed;
// True once the program is shutting down; every pumping wait ends at once.
extern bool AppClosing;

inline const BrandInfo& brand() {
    return brand_info(BrandId);
}
inline bool IsMiraboOrDoerfal() {
    return BrandId == 1 || BrandId == 2;
}
QString IniPath();  // StartDir + IniName

// Appends the platform separator unless the text already ends with one.
QString WithTrailingSeparator(const QString& dir);

// Pieces of `text`: blanks separate as the delimiter does, double quotes group.
void SplitDelimited(QChar delimiter, const QString& text, QStringList& list);

void LoadSettings();
// False when the file could not be written; the user has then seen
// "In <path> kann nicht geschrieben werden" and the file is as before the
// failing key.
bool SaveSettings();

}  // namespace vt
