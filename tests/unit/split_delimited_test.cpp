#include <gtest/gtest.h>

#include "settings/settings.h"

using vt::SplitDelimited;

namespace {

QStringList split(QChar d, const QString& text) {
    QStringList l{"stale"};
    SplitDelimited(d, text, l);
    return l;
}

TEST(SplitDelimited, DelimitersBlanksAndEmptyPieces) {
    EXPECT_EQ(split(',', "1,,3"), (QStringList{"1", "", "3"}));
    EXPECT_EQ(split(',', "1,"), (QStringList{"1", ""}));
    EXPECT_EQ(split(',', ""), QStringList{});
    EXPECT_EQ(split(',', "   "), QStringList{});
    EXPECT_EQ(split(';', "a b;c"), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(split(';', " a ; b\t;\tc "), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(split(';', "LIST.TXT;1234;17"), (QStringList{"LIST.TXT", "1234", "17"}));
}

TEST(SplitDelimited, DoubleQuotesGroup) {
    EXPECT_EQ(split(';', "\"a b\";c"), (QStringList{"a b", "c"}));
    EXPECT_EQ(split(';', "\"say \"\"hi\"\"\";x"), (QStringList{"say \"hi\"", "x"}));
    EXPECT_EQ(split(';', "\"no end; here"), (QStringList{"no end; here"}));
    EXPECT_EQ(split(';', "\"\";x"), (QStringList{"", "x"}));
    EXPECT_EQ(split(';', "\"ab\"cd"), (QStringList{"ab", "cd"}));
}

TEST(SplitDelimited, NulEndsTheText) {
    const QString text = QString("a;b") + QChar(0) + QString(";c");
    EXPECT_EQ(split(';', text), (QStringList{"a", "b"}));
    EXPECT_EQ(split(';', QString(QChar(0))), QStringList{});
}

}  // namespace
