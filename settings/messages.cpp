#include "settings/messages.h"

#include "settings/settings.h"

namespace vt {

std::array<textrecord, 101> MessageTexts;

int current_language() {
    return progpar.language;
}

QString LookupText(int number, const QString& def) {
    size_t i = 0;
    while (i < MessageTexts.size() - 1 && MessageTexts[i].num != number)
        ++i;
    const int lang = current_language();
    // A language index from a hand-edited file can lie outside the table.
    if (lang < 0 || lang > 50)
        return def;
    const textrecord& r = MessageTexts[i];
    if (r.num == number && !r.text[static_cast<size_t>(lang)].isEmpty()) {
        return r.text[static_cast<size_t>(lang)];
    }
    return def;
}

QString FormatS(const QString& pattern, const QString& arg) {
    QString out = pattern;
    const qsizetype at = out.indexOf(QStringLiteral("%s"));
    if (at >= 0)
        out.replace(at, 2, arg);
    return out;
}

}  // namespace vt

#include "settings/main_timers.h"
namespace vt {
MainTimers Timers;
}
