// Shop window search and line delivery against real X11 windows of the test
// (a private Xvfb with openbox): titles, stacking order, minimised and
// unmapped windows, the exact key events and the clipboard text a paste
// fetches, and that nothing is typed when the shop's window is not active.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <thread>

#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "platform/keyboard.h"
#include "settings/settings.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

static const bool kDesktop = test::EnsureTestDesktop();

using test::RecordingWindow;

std::string Joined(const QStringList& list) {
    return list.join(", ").toStdString();
}

class DeliveryX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDesktop);
        progpar = progparstruct{};
        browserrecord = browserrecordtype{};
        BatchLines.clear();
        FirstLine = false;
        progpar.browser = {0, 0};
        progpar.browsertitle = {"Testbrowser", "Testbrowser"};
        progpar.formtitle = {"Markenshop", "Simple System"};
        if (keyboard().caps_lock_on()) {
            keyboard().key_down(vk::Capital);
            keyboard().key_up(vk::Capital);
        }
    }

    // Waits for the recording window's key events (they arrive on its thread);
    // with a count of 0, long enough for stray ones to show.
    static QStringList KeysOf(const RecordingWindow& w, qsizetype count) {
        QElapsedTimer timer;
        timer.start();
        while (w.keys().size() < count && timer.elapsed() < 3000)
            test::PumpEvents(10);
        test::PumpEvents(100);
        return w.keys();
    }

    test::RecordingDisplay log_;
};

TEST_F(DeliveryX11, SearchFindsByTitleKeepsTheLastInStackAndLeavesTheTarget) {
    RecordingWindow other("Simple System - Anderer Browser", "Other");
    RecordingWindow upper("Markenshop Bestellung - Testbrowser", "Upper");
    RecordingWindow lower("Markenshop Bestellung - Testbrowser", "Lower");
    RecordingWindow hidden("Simple System Bestellung - Testbrowser", "Hidden",
                           RecordingWindow::Show::Minimised);
    // `upper` on top: the walk runs from the top, so `lower` comes later.
    ASSERT_TRUE(window_system().activate(upper.handle(), 2000));

    browserrecord.mode = 1;
    EXPECT_TRUE(FindShopWindow(0));
    EXPECT_EQ(browserrecord.handle, lower.handle());
    EXPECT_EQ(browserrecord.classname, "Lower");
    EXPECT_EQ(browserrecord.title, "Markenshop Bestellung - Testbrowser");
    EXPECT_EQ(browserrecord.processid, static_cast<int32_t>(getpid()));
    EXPECT_TRUE(browserrecord.visible);
    EXPECT_EQ(browserrecord.mode, 1) << "a search must not change the selected target";

    ASSERT_TRUE(window_system().activate(lower.handle(), 2000));
    EXPECT_TRUE(FindShopWindow(0));
    EXPECT_EQ(browserrecord.handle, upper.handle());

    EXPECT_TRUE(FindShopWindow(1));
    EXPECT_EQ(browserrecord.handle, hidden.handle());
    EXPECT_FALSE(browserrecord.visible);
    EXPECT_TRUE(browserrecord.state[0]);
    EXPECT_TRUE(browserrecord.state[1]);
    EXPECT_EQ(browserrecord.mode, 1);

    // Case counts, empty texts never match, unknown kinds find nothing.
    progpar.formtitle[0] = "markenshop";
    EXPECT_FALSE(FindShopWindow(0));
    EXPECT_FALSE(browserrecord.state[0]);
    EXPECT_EQ(browserrecord.handle, 0u);
    progpar.formtitle[0] = "";
    EXPECT_FALSE(FindShopWindow(0));
    progpar.formtitle[0] = "Markenshop";
    progpar.browsertitle[0] = "";
    EXPECT_FALSE(FindShopWindow(0));
    progpar.browsertitle[0] = "Testbrowser";
    progpar.browser[0] = 4;
    EXPECT_FALSE(FindShopWindow(0));
    progpar.browser[0] = 0;
    EXPECT_TRUE(FindShopWindow(0));

    // A minimised shop is brought back and made active.
    ASSERT_TRUE(FindShopWindow(1));
    EXPECT_TRUE(BringShopToFront());
    EXPECT_EQ(window_system().active_window(), hidden.handle());
}

TEST_F(DeliveryX11, TitlesAreCutAndKindsOneToThreeUseTheirWords) {
    const QString pad(240, QChar(u'x'));
    RecordingWindow late(pad + " Markenshop - Testbrowser", "Late");  // words beyond 254
    RecordingWindow ie("Markenshop - Windows Internet Explorer", "IE");
    RecordingWindow fx("Markenshop - Mozilla Firefox", "FX");
    RecordingWindow gc("Markenshop - Google Chrome", "GC");
    EXPECT_FALSE(FindShopWindow(0)) << "the words lie beyond the first 254 characters";
    progpar.browser[0] = 1;
    ASSERT_TRUE(FindShopWindow(0));
    EXPECT_EQ(browserrecord.handle, ie.handle());
    progpar.browser[0] = 2;
    ASSERT_TRUE(FindShopWindow(0));
    EXPECT_EQ(browserrecord.handle, fx.handle());
    progpar.browser[0] = 3;
    ASSERT_TRUE(FindShopWindow(0));
    EXPECT_EQ(browserrecord.handle, gc.handle());
}

TEST_F(DeliveryX11, WithoutWindowManagerUnmappedWindowsCountAndFocusIsSet) {
    ASSERT_TRUE(test::StopWindowManager());
    {
        RecordingWindow shown("Markenshop - Testbrowser", "Shown");
        RecordingWindow unmapped("Simple System - Testbrowser", "Unmapped",
                                 RecordingWindow::Show::Unmapped);
        ASSERT_TRUE(FindShopWindow(1));
        EXPECT_EQ(browserrecord.handle, unmapped.handle());
        EXPECT_FALSE(browserrecord.visible);
        ASSERT_TRUE(FindShopWindow(0));
        EXPECT_EQ(browserrecord.handle, shown.handle());
        EXPECT_TRUE(browserrecord.visible);
        EXPECT_TRUE(BringShopToFront());
        EXPECT_EQ(window_system().active_window(), shown.handle());
    }
    EXPECT_TRUE(test::StartWindowManager());
}

TEST_F(DeliveryX11, LineDeliverySendsTheExactKeysAndPastesTheLine) {
    RecordingWindow shop("Simple System - Testbrowser", "Shop");
    progpar.keysendmode = 0;
    progpar.accesskey = {"", "I"};
    progpar.praefix = "00";
    ASSERT_TRUE(FindShopWindow(1));

    EXPECT_TRUE(DeliverLine(1, "00123\t5"));
    const QStringList with_key = {"down Alt_L",     "down i", "up i", "up Alt_L",
                                  "down Control_L", "down v", "up v", "up Control_L"};
    EXPECT_EQ(Joined(KeysOf(shop, 8)), Joined(with_key));
    EXPECT_EQ(shop.pastes(), QStringList{"00123\t5\r"}) << "the prefix is for shop 0 only";
    EXPECT_EQ(log_.log, QStringList{"00123\t5"});

    // Shop 0 (same window): no access key, prefix removed once, logged as received.
    shop.clear_keys();
    log_.log.clear();
    progpar.formtitle[0] = "Simple System";
    ASSERT_TRUE(FindShopWindow(0));
    FirstLine = true;
    // The last paste's fetch is the line's to wait for, not the first line's.
    EXPECT_TRUE(AwaitLastPaste());
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(SendLine(0, "0000777\t2"));
    EXPECT_LT(timer.elapsed(), 400) << "no access key: no wait for the first line";
    EXPECT_FALSE(FirstLine);
    EXPECT_EQ(Joined(KeysOf(shop, 4)), "down Control_L, down v, up v, up Control_L");
    EXPECT_EQ(shop.pastes(), QStringList{"00777\t2\r"});
    EXPECT_EQ(log_.log, QStringList{"0000777\t2"});

    // Caps Lock on: switched off around each paste and on again.
    shop.clear_keys();
    keyboard().key_down(vk::Capital);
    keyboard().key_up(vk::Capital);
    ASSERT_TRUE(keyboard().caps_lock_on());
    KeysOf(shop, 2);
    shop.clear_keys();
    ASSERT_TRUE(FindShopWindow(1));
    EXPECT_TRUE(SendLine(1, "A\t1"));
    EXPECT_TRUE(SendLine(1, "B\t2"));
    const QStringList caps_line = {
        "down Alt_L",     "down i", "up i", "up Alt_L",     "down Caps_Lock", "up Caps_Lock",
        "down Control_L", "down v", "up v", "up Control_L", "down Caps_Lock", "up Caps_Lock"};
    EXPECT_EQ(Joined(KeysOf(shop, 24)), Joined(caps_line + caps_line));
    EXPECT_TRUE(keyboard().caps_lock_on());
    EXPECT_EQ(shop.pastes(), (QStringList{"A\t1\r", "B\t2\r"}));
}

TEST_F(DeliveryX11, AccessKeyWithoutKeyIsRefusedAndNothingIsTyped) {
    RecordingWindow shop("Simple System - Testbrowser", "Shop");
    ASSERT_TRUE(FindShopWindow(1));
    progpar.accesskey[1] = QString::fromUtf8("€");
    EXPECT_FALSE(SendLine(1, "A\t1"));
    EXPECT_TRUE(KeysOf(shop, 0).isEmpty());
    ASSERT_EQ(log_.log.size(), 1);
    EXPECT_TRUE(log_.log[0].startsWith(QString::fromUtf8("Zugriffstaste € hat keine Taste")));
}

TEST_F(DeliveryX11, AFocusTakenForAMomentCostsAPauseAndTheLineStillGoesToTheShop) {
    RecordingWindow shop("Simple System - Testbrowser", "Shop");
    RecordingWindow thief("Terminal", "Thief");
    progpar.accesskey[1] = "I";
    ASSERT_TRUE(FindShopWindow(1));
    thief.steal_focus(true);
    test::PumpEvents(200);
    std::thread release([&] {
        QThread::msleep(600);
        thief.steal_focus(false);
    });
    QElapsedTimer timer;
    timer.start();
    const bool sent = DeliverLine(1, "A\t1");
    const qint64 took = timer.elapsed();
    release.join();
    EXPECT_TRUE(sent);
    EXPECT_GE(took, 500) << "the line waited for the shop to come back";
    EXPECT_LT(took, 2000);
    const QStringList line = {"down Alt_L",     "down i", "up i", "up Alt_L",
                              "down Control_L", "down v", "up v", "up Control_L"};
    EXPECT_EQ(Joined(KeysOf(shop, 8)), Joined(line)) << "the whole line, access key first";
    EXPECT_EQ(shop.pastes(), QStringList{"A\t1\r"});
    EXPECT_TRUE(KeysOf(thief, 0).isEmpty()) << Joined(thief.keys());
    EXPECT_EQ(log_.log, QStringList{"A\t1"});
}

TEST_F(DeliveryX11, NothingIsTypedWhenTheShopIsNotActiveOrClosed) {
    RecordingWindow shop("Simple System - Testbrowser", "Shop");
    RecordingWindow thief("Terminal", "Thief");
    progpar.accesskey[1] = "I";
    ASSERT_TRUE(FindShopWindow(1));

    thief.steal_focus(true);
    test::PumpEvents(200);
    EXPECT_FALSE(DeliverLine(1, "A\t1"));
    progpar.keysendmode = 1;
    EXPECT_TRUE(DeliverLine(1, "B\t2"));  // collecting types nothing
    EXPECT_FALSE(PasteBatch());
    thief.steal_focus(false);
    EXPECT_TRUE(KeysOf(thief, 0).isEmpty());
    EXPECT_TRUE(shop.keys().isEmpty());
    ASSERT_EQ(log_.log.size(), 2);
    EXPECT_EQ(log_.log[0], QString::fromUtf8("Bestellformular nicht im Vordergrund, nicht "
                                             "gesendet : A\t1"));
    EXPECT_EQ(log_.log[1], QString::fromUtf8("Bestellformular nicht im Vordergrund, nicht "
                                             "gesendet : 1 Zeilen"));

    log_.log.clear();
    progpar.keysendmode = 0;
    ASSERT_TRUE(window_system().activate(thief.handle(), 2000));
    shop.destroy();
    EXPECT_FALSE(DeliverLine(1, "C\t3"));
    EXPECT_TRUE(KeysOf(thief, 0).isEmpty());
    EXPECT_EQ(log_.log,
              QStringList{QString::fromUtf8("Bestellformular geschlossen, nicht gesendet : C\t3")});
}

}  // namespace
}  // namespace vt
