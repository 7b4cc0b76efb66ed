#pragma once
// The text rules of the browser delivery, free of any window system: which
// window title names a shop's order form, how a line loses its prefix, and
// which key an access key setting stands for.

#include <QString>

namespace vt {

// The text a browser window's title must contain for browser kind `kind`:
// the configured title text for 0, the browser's word for 1 to 3, and an
// empty text (never contained) for any other kind.
QString ShopBrowserWord(int kind, const QString& browsertitle);

// Whether `title` names the order form: it contains the browser's word and
// `formtitle`, both case-sensitive; an empty text is never contained.
bool ShopTitleMatches(const QString& title, int kind, const QString& browsertitle,
                      const QString& formtitle);

// `line` without `praefix` at its start, removed once; unchanged when it
// does not begin with it or the prefix is empty.
QString RemovePraefix(const QString& line, const QString& praefix);

// The virtual-key code of an access key setting: 0 when it is empty, the
// key of its first character for a letter (either case) or a digit, and -1
// for any other character, which has no key of its own to send.
int AccessKeyCode(const QString& accesskey);

}  // namespace vt
