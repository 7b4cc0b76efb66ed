#include "delivery/delivery_rules.h"

#include <algorithm>

#include "delivery/delivery_channel.h"
#include "settings/messages.h"

namespace vt {

QStringList BatchLines;

QString ShopBrowserWord(int kind, const QString& browsertitle) {
    switch (kind) {
        case 0:
            return browsertitle;
        case 1:
            return Text(msg::WordExplorer);
        case 2:
            return Text(msg::WordFirefox);
        case 3:
            return Text(msg::WordChrome);
        default:
            return QString();
    }
}

QStringList ShopBrowserWords(int kind, const QString& browsertitle) {
    // Microsoft's browser today is Edge, and Debian's Chrome is Chromium,
    // whose titles do not say "Chrome": a kind must find the browser it names.
    switch (kind) {
        case 1:
            return {Text(msg::WordExplorer), Text(msg::WordEdge)};
        case 3:
            return {Text(msg::WordChrome), Text(msg::WordChromium)};
        default:
            return {ShopBrowserWord(kind, browsertitle)};
    }
}

namespace {
bool ContainsText(const QString& title, const QString& part) {
    return !part.isEmpty() && title.contains(part, Qt::CaseSensitive);
}
}  // namespace

bool ShopTitleMatches(const QString& title, int kind, const QString& browsertitle,
                      const QString& formtitle) {
    if (!ContainsText(title, formtitle))
        return false;
    const QStringList words = ShopBrowserWords(kind, browsertitle);
    return std::any_of(words.begin(), words.end(),
                       [&](const QString& word) { return ContainsText(title, word); });
}

bool TabTitleMatches(const QString& title, const QString& formtitle) {
    return ContainsText(title, formtitle);
}

int BrowserKindOf(const QString& browser) {
    if (browser == u"edge")
        return 1;
    if (browser == u"firefox")
        return 2;
    if (browser == u"chromium" || browser == u"chrome")
        return 3;
    return 0;
}

bool ShopKindAccepts(int shop_kind, int browser_kind) {
    if (shop_kind == 0)
        return true;
    return shop_kind >= 1 && shop_kind <= 3 && shop_kind == browser_kind;
}

QString RemovePraefix(const QString& line, const QString& praefix) {
    if (praefix.isEmpty() || !line.startsWith(praefix, Qt::CaseSensitive))
        return line;
    return line.mid(praefix.size());
}

int AccessKeyCode(const QString& accesskey) {
    if (accesskey.isEmpty())
        return 0;
    const char16_t c = accesskey.front().unicode();
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))
        return c;
    // A lower-case letter's own code is a numeric-pad or function key code;
    // the letter's key is meant.
    if (c >= u'a' && c <= u'z')
        return c - u'a' + u'A';
    return -1;
}

}  // namespace vt
