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
    // Chromium's own title does not say "Chrome".
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - Chromium", 3, "", form));
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - Chromium", 4, "Chromium", form));
    EXPECT_FALSE(ShopTitleMatches("Bestellformular Testshop - Chromium", -1, "Chromium", form));
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
