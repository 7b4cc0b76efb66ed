// Lines delivered into the order form page in a real Chromium on a private
// desktop: what arrives in the page, in each delivery mode, and that nothing
// arrives anywhere when the form is not the active window or is gone.

#include <gtest/gtest.h>

#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

static const bool kDesktop = test::EnsureTestDesktop();

const QString kFormTitle = "Bestellformular Testshop";

QStringList Lines(int count) {
    QStringList lines;
    for (int i = 1; i <= count; ++i) {
        lines << QString("ART%1\t%2").arg(i, 4, 10, QChar(u'0')).arg(i % 7 + 1);
    }
    return lines;
}

// The field's content after the lines: Chromium turns each CR into LF.
QString Arrived(const QStringList& lines) {
    return lines.join(u'\n') + u'\n';
}

class DeliveryChromium : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDesktop);
        progpar = progparstruct{};
        browserrecord = browserrecordtype{};
        BatchLines.clear();
        FirstLine = false;
        progpar.browser = {0, 0};
        progpar.browsertitle = {"Chromium", "Chromium"};
        progpar.formtitle = {kFormTitle, kFormTitle};
        progpar.accesskey = {"", "I"};
        ASSERT_TRUE(form_.open(kFormTitle + " - Filiale 3")) << "Chromium did not show the form";
    }

    void FocusFieldByHand() {
        ASSERT_TRUE(test::PressKeys({"alt+i"}));
        test::PumpEvents(300);
        ASSERT_TRUE(form_.field_focused());
    }

    test::OrderForm form_;
    test::RecordingDisplay log_;
};

TEST_F(DeliveryChromium, EachLineArrivesOnceInOrderThroughTheAccessKey) {
    browserrecord.mode = 0;
    ASSERT_TRUE(FindShopWindow(1));
    EXPECT_EQ(browserrecord.handle, form_.window());
    EXPECT_EQ(browserrecord.title, kFormTitle + " - Filiale 3 - Chromium");
    EXPECT_EQ(browserrecord.mode, 0);
    EXPECT_FALSE(form_.field_focused()) << "the search field has the focus at first";

    progpar.keysendmode = 0;
    const QStringList lines = Lines(50);
    for (const QString& line : lines) {
        ASSERT_TRUE(FindShopWindow(1));
        ASSERT_TRUE(DeliverLine(1, line));
    }
    EXPECT_TRUE(form_.wait_for_field(Arrived(lines))) << "arrived:\n"
                                                      << form_.field_text().toStdString();
    EXPECT_TRUE(form_.field_focused());
    EXPECT_EQ(form_.search_text(), "");
    EXPECT_EQ(log_.log, lines);

    // The prefix goes for shop 0 only, once; the log shows the line as it came.
    progpar.praefix = "00";
    progpar.accesskey[0] = "i";
    ASSERT_TRUE(FindShopWindow(0));
    ASSERT_TRUE(DeliverLine(0, "0000999\t1"));
    ASSERT_TRUE(DeliverLine(1, "00888\t2"));
    EXPECT_TRUE(form_.wait_for_field(Arrived(lines + QStringList{"00999\t1", "00888\t2"})))
        << "arrived:\n"
        << form_.field_text().right(200).toStdString();
    EXPECT_EQ(log_.log.mid(50), (QStringList{"0000999\t1", "00888\t2"}));
}

TEST_F(DeliveryChromium, APageSlowToFetchStillGetsEachLineOnceInOrder) {
    form_.close();
    test::OrderForm slow;
    slow.set_busy_after_paste_key(300);
    ASSERT_TRUE(slow.open(kFormTitle + " - Filiale 7"));
    progpar.keysendmode = 0;
    const QStringList lines = Lines(8);
    for (const QString& line : lines) {
        ASSERT_TRUE(FindShopWindow(1));
        ASSERT_TRUE(DeliverLine(1, line));
    }
    EXPECT_TRUE(AwaitLastPaste());
    EXPECT_TRUE(slow.wait_for_field(Arrived(lines), 20000)) << "arrived:\n"
                                                            << slow.field_text().toStdString();
    EXPECT_EQ(slow.settle(500), Arrived(lines));
    EXPECT_EQ(log_.log, lines) << "every paste fetched its text in time";
}

TEST_F(DeliveryChromium, BatchModeOnePastesAllLinesAtOnce) {
    progpar.keysendmode = 1;
    ASSERT_TRUE(FindShopWindow(1));
    const QStringList lines = Lines(50);
    for (const QString& line : lines)
        ASSERT_TRUE(DeliverLine(1, line));
    EXPECT_EQ(form_.settle(300), "") << "collecting types nothing";
    EXPECT_EQ(BatchLines.size(), 50);

    FocusFieldByHand();
    EXPECT_TRUE(PasteBatch());
    EXPECT_TRUE(form_.wait_for_field(Arrived(lines)));
    form_.settle(300);
    EXPECT_EQ(form_.field_changes(), 1) << "one Ctrl+V for the whole batch";
    EXPECT_TRUE(log_.log.isEmpty());
}

TEST_F(DeliveryChromium, BatchModeTwoLeavesTheLinesOnTheClipboard) {
    progpar.keysendmode = 2;
    progpar.praefix = "AR";
    ASSERT_TRUE(FindShopWindow(0));
    const QStringList lines = Lines(50);
    for (const QString& line : lines)
        ASSERT_TRUE(DeliverLine(0, line));
    EXPECT_TRUE(PasteBatch());
    EXPECT_EQ(form_.settle(500), "");
    EXPECT_EQ(form_.search_text(), "");
    const auto clipboard = test::RunOnDesktop("xclip", {"-o", "-selection", "clipboard"}, 10000);
    ASSERT_TRUE(clipboard);
    EXPECT_EQ(QString::fromUtf8(*clipboard), lines.join(u'\r') + u'\r')
        << "all lines, each with CR, prefix kept";
    EXPECT_TRUE(log_.log.isEmpty());
}

TEST_F(DeliveryChromium, NothingArrivesWhenAnotherWindowHoldsTheFocusOrTheFormIsGone) {
    test::RecordingWindow thief("Terminal", "XTerm");
    progpar.keysendmode = 0;
    ASSERT_TRUE(FindShopWindow(1));
    thief.steal_focus(true);
    test::PumpEvents(200);
    EXPECT_FALSE(DeliverLine(1, "A\t1"));
    thief.steal_focus(false);
    EXPECT_EQ(form_.settle(300), "");
    EXPECT_EQ(form_.search_text(), "");
    EXPECT_TRUE(thief.keys().isEmpty());

    form_.close();
    EXPECT_FALSE(DeliverLine(1, "B\t2"));
    test::PumpEvents(300);
    EXPECT_TRUE(thief.keys().isEmpty());
    EXPECT_EQ(log_.log,
              (QStringList{QString::fromUtf8("Bestellformular nicht im Vordergrund, nicht "
                                             "gesendet : A\t1"),
                           QString::fromUtf8("Bestellformular geschlossen, nicht gesendet : "
                                             "B\t2")}));
}

}  // namespace
}  // namespace vt
