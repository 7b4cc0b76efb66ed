#pragma once
// The text rules of the browser delivery, free of any window system: which
// window title names a shop's order form, how a line loses its prefix, and
// which key an access key setting stands for.

#include <QString>
#include <QStringList>

namespace vt {

// The word that names browser kind `kind` (the one the settings dialog shows
// and the INI keeps): the configured title text for 0, the browser's word
// for 1 to 3, and an empty text (never contained) for any other kind.
QString ShopBrowserWord(int kind, const QString& browsertitle);

// Every text of which a browser window's title must contain one: the word
// above, and for kinds 1 and 3 also the current browser of that maker
// ("Edge", "Chromium").
QStringList ShopBrowserWords(int kind, const QString& browsertitle);

// Whether `title` names the order form: it contains one of the browser's
// words and `formtitle`, case-sensitive; an empty text is never contained.
bool ShopTitleMatches(const QString& title, int kind, const QString& browsertitle,
                      const QString& formtitle);

// The browser extension lists tabs, not windows: a tab names the order form
// when its title contains `formtitle` (case-sensitive, an empty text never).
// Which browser it belongs to is decided by its connection instead.
bool TabTitleMatches(const QString& title, const QString& formtitle);

// The browser kind (1 Microsoft, 2 Firefox, 3 Chrome) of the browser an
// extension says it runs in; 0 for one no kind stands for.
int BrowserKindOf(const QString& browser);

// Whether a shop of browser kind `shop_kind` takes forms from a browser of
// kind `browser_kind`: kind 0 (manual) takes any, 1 to 3 their own, any
// other kind none.
bool ShopKindAccepts(int shop_kind, int browser_kind);

// `line` without `praefix` at its start, removed once; unchanged when it
// does not begin with it or the prefix is empty.
QString RemovePraefix(const QString& line, const QString& praefix);

// The virtual-key code of an access key setting: 0 when it is empty, the
// key of its first character for a letter (either case) or a digit, and -1
// for any other character, which has no key of its own to send.
int AccessKeyCode(const QString& accesskey);

}  // namespace vt
