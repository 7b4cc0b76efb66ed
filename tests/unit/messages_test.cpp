#include "settings/messages.h"

#include <gtest/gtest.h>

#include "settings/settings.h"

using namespace vt;

namespace {

class MessagesTest : public ::testing::Test {
  protected:
    void TearDown() override {
        MessageTexts = {};
        progpar.language = 0;
    }
};

TEST_F(MessagesTest, EmptyCatalogueGivesTheDefaultForEveryLanguage) {
    for (int lang : {0, 7, 50, 51, -1, 100000}) {
        progpar.language = lang;
        EXPECT_EQ(Text(msg::MdeWaiting), "MDE     : warte auf MDE");
        EXPECT_EQ(LookupText(0, "d"), "d");
    }
}

TEST_F(MessagesTest, FilledEntryIsFoundUpToTheLastSlot) {
    MessageTexts[100].num = 4242;
    MessageTexts[100].text[3] = "gefunden";
    MessageTexts[5].num = 77;
    progpar.language = 3;
    EXPECT_EQ(LookupText(4242, "d"), "gefunden");
    EXPECT_EQ(LookupText(77, "d"), "d") << "an empty text in the entry gives the default";
    progpar.language = 60;
    EXPECT_EQ(LookupText(4242, "d"), "d") << "a language beyond the table never indexes past it";
}

TEST_F(MessagesTest, StatusTextsLineUpAndPlaceholdersFill) {
    EXPECT_EQ(Text(msg::MdeReady).indexOf(':'), QString("Browser :").indexOf(':'));
    EXPECT_EQ(FormatS(Text(msg::PortOpenFailed), "COM3"),
              "Schnittstelle COM3 konnte nicht geöffnet werden.");
}

}  // namespace
