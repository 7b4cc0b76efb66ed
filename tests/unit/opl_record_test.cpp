#include "links/opl_record.h"

#include <gtest/gtest.h>

using namespace vt;

namespace {

// A record built from its fields, so a shifted column fails the test.
QString record(const QString& article, const QString& quantity, const QString& rest = "") {
    return article.leftJustified(28, ' ') + '|' + quantity.rightJustified(6, ' ') + rest;
}

TEST(OplRecord, CutsArticleAndQuantityAtTheirColumns) {
    QStringList f;
    EXPECT_TRUE(SplitOplRecord(record("4711", "12", "ignored after column 35"), f));
    EXPECT_EQ(f, (QStringList{"4711", "12"}));
    EXPECT_TRUE(SplitOplRecord(record("  A B  ", "\t3 "), f));
    EXPECT_EQ(f, (QStringList{"A B", "\t3"})) << "only spaces are trimmed";
    EXPECT_TRUE(SplitOplRecord(record(QString(28, 'X'), "999999"), f));
    EXPECT_EQ(f, (QStringList{QString(28, 'X'), "999999"}));
}

TEST(OplRecord, ShortRecordIsCutAsFarAsItGoes) {
    QStringList f;
    EXPECT_FALSE(SplitOplRecord("4711", f));
    EXPECT_EQ(f, (QStringList{"4711", ""}));
    EXPECT_FALSE(SplitOplRecord(record("4711", "12").left(34), f));
    EXPECT_EQ(f, (QStringList{"4711", "1"}));
    EXPECT_FALSE(SplitOplRecord("", f));
    EXPECT_EQ(f, (QStringList{"", ""}));
}

TEST(OplRecord, SemicolonRule) {
    struct Case {
        const char* in;
        const char* out;
    };
    for (const Case& c : {Case{"X;4711;Y", "4711"}, Case{";;", ""}, Case{"a;b", "a;b"},
                          Case{"a;b;c;d", "a;b;c;d"}, Case{";4711;", "4711"}, Case{"4711", "4711"}}) {
        QString t = c.in;
        ExtractBetweenSemicolons(t);
        EXPECT_EQ(t, c.out) << c.in;
    }
}

TEST(OplRecord, TextPerShop) {
    EXPECT_EQ(ShopLineText(0, {"X;4711;Y", "12"}), "4711\t12");
    EXPECT_EQ(ShopLineText(0, {"A;B", "1"}), "A;B\t1");
    EXPECT_EQ(ShopLineText(1, {"X;4711;Y", "12"}), "X;4711;Y");
}

}  // namespace
