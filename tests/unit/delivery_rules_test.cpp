// The text rules of the browser delivery: which titles name a shop's order
// form, the prefix removal, the access key's code.

#include <gtest/gtest.h>

#include "delivery/delivery_rules.h"

namespace vt {
namespace {

TEST(ShopTitle, EachBrowserKindNeedsItsWordAndTheFormTitle) {
    const QString form = "Bestellformular Testshop";
    EXPECT_TRUE(ShopTitleMatches("Bestellformular Testshop - Chromium", 0, "Chromium", form));
    EXPECT_TRUE(ShopTitleMatches("Internet Explorer: Bestellformular Testshop", 1, "", form));
    EXPECT_TRUE(ShopTitleMatches("Bestellformular Testshop — Mozilla Firefox", 2, "", form));
    EXPECT_TRUE(ShopTitleMatches("Bestellformular Testshop - Google Chrome", 3, "", form));
    // The word of another kind does not count.
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - Google Chrome", 2, "", form));
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - Chromium", 4, "Chromium", form));
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - Chromium", -1, "Chromium", form));
}

TEST(ShopTitle, MakerKindsFindTodaysBrowsersAndTheOldOnes) {
    const QString form = "Bestellformular Testshop";
    const QString chromium = "Bestellformular Testshop - Chromium";
    const QString chrome = "Bestellformular Testshop - Google Chrome";
    const QString firefox = "Bestellformular Testshop \u2014 Mozilla Firefox";
    // Edge puts a zero-width space between its two words.
    const QString edge = QString::fromUtf8("Bestellformular Testshop - Profil 1 - Microsoft\u200b Edge");
    const QString explorer = "Bestellformular Testshop - Windows Internet Explorer";
    struct Case {
        const QString& title;
        bool kind1, kind2, kind3;
    };
    for (const Case& c : {Case{chromium, false, false, true}, Case{chrome, false, false, true},
                          Case{firefox, false, true, false}, Case{edge, true, false, false},
                          Case{explorer, true, false, false}}) {
        SCOPED_TRACE(c.title.toStdString());
        EXPECT_EQ(ShopTitleMatches(c.title, 1, "", form), c.kind1);
        EXPECT_EQ(ShopTitleMatches(c.title, 2, "", form), c.kind2);
        EXPECT_EQ(ShopTitleMatches(c.title, 3, "", form), c.kind3);
        // Any of the words is useless without the form title.
        EXPECT_FALSE(ShopTitleMatches(c.title, 1, "", "Anderes Formular"));
        EXPECT_FALSE(ShopTitleMatches(c.title, 3, "", "Anderes Formular"));
    }
    // The words are case-sensitive like every other text of the search.
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - chromium", 3, "", form));
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - Microsoft EDGE", 1, "", form));
    // The configured title text of kind 0 is unchanged by the kinds' words.
    EXPECT_FALSE(ShopTitleMatches(chromium, 0, "Chrome", form));
    // What the dialog shows and the INI keeps stays the single old word.
    EXPECT_EQ(ShopBrowserWord(1, "x"), "Explorer");
    EXPECT_EQ(ShopBrowserWord(2, "x"), "Firefox");
    EXPECT_EQ(ShopBrowserWord(3, "x"), "Chrome");
    EXPECT_EQ(ShopBrowserWord(0, "Vivaldi"), "Vivaldi");
}

TEST(ShopTitle, EmptyTextsNeverMatchAndCaseCounts) {
    EXPECT_FALSE(ShopTitleMatches("Shop - Chromium", 0, "", "Shop"));
    EXPECT_FALSE(ShopTitleMatches("Shop - Chromium", 0, "Chromium", ""));
    EXPECT_FALSE(ShopTitleMatches("", 0, "", ""));
    EXPECT_FALSE(ShopTitleMatches("bestellformular testshop - Chromium", 0, "Chromium",
                                  "Bestellformular Testshop"));
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - chromium", 0, "Chromium",
                                  "Bestellformular Testshop"));
}

TEST(Praefix, RemovedOnceFromTheStartOnly) {
    EXPECT_EQ(RemovePraefix("00123\t4", "00"), "123\t4");
    EXPECT_EQ(RemovePraefix("0000123\t4", "00"), "00123\t4");
    EXPECT_EQ(RemovePraefix("12300\t4", "00"), "12300\t4");
    EXPECT_EQ(RemovePraefix("AB12\t1", "ab"), "AB12\t1");
    EXPECT_EQ(RemovePraefix("AB12\t1", ""), "AB12\t1");
}

TEST(AccessKey, LettersAndDigitsHaveTheirKeysOthersNone) {
    EXPECT_EQ(AccessKeyCode(""), 0);
    EXPECT_EQ(AccessKeyCode("I"), 'I');
    EXPECT_EQ(AccessKeyCode("Inhalt"), 'I');
    EXPECT_EQ(AccessKeyCode("i"), 'I');  // not the numeric pad's 9
    EXPECT_EQ(AccessKeyCode("7"), '7');
    EXPECT_EQ(AccessKeyCode(QString::fromUtf8("Ä")), -1);
    EXPECT_EQ(AccessKeyCode("#"), -1);
    EXPECT_EQ(AccessKeyCode(QString::fromUtf8("€")), -1);
}

}  // namespace
}  // namespace vt
