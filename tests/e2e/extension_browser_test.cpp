// The extension and its native host in real browsers, with the test playing
// the program: it listens where a brand listens, and asks for tabs and
// deliveries the way the program does. What arrives is read back from the
// order form page's own reports.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "browser/wire/wire.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/program_socket.h"

namespace vt {
namespace {

static const bool kDesktop = test::EnsureTestDesktop();

using Browser = test::BrowserSetup::Browser;

class ExtensionInBrowser : public ::testing::TestWithParam<Browser> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDesktop);
        if (GetParam() == Browser::kFirefox && QStandardPaths::findExecutable("firefox-esr").isEmpty())
            GTEST_SKIP() << "firefox-esr is not installed";
        ASSERT_TRUE(runtime_.isValid());
        ::chmod(QFile::encodeName(runtime_.path()).constData(), 0700);
        old_runtime_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
        ASSERT_TRUE(wire::EnsureSocketDir());
        program_ = std::make_unique<test::ProgramSocket>(wire::SocketPath("VantorTrans"));
        ASSERT_TRUE(program_->listening());
    }
    void TearDown() override {
        form_.close();
        program_.reset();
        if (old_runtime_.isNull()) qunsetenv("XDG_RUNTIME_DIR");
        else qputenv("XDG_RUNTIME_DIR", old_runtime_);
    }

    // Opens the form (and a tab without a field) and waits for the host's
    // hello.
    void Open(const QString& title) {
        form_.set_browser({GetParam(), runtime_.path(), true});
        ASSERT_TRUE(form_.open(title)) << "the browser did not show the form";
        ASSERT_TRUE(program_->Accept(20000)) << "no host connected:\n"
                                             << form_.chromium_log().right(3000).toStdString();
        const auto hello = program_->Read(5000);
        ASSERT_TRUE(hello);
        EXPECT_EQ(hello->value("type").toString(), "hello");
        EXPECT_EQ(hello->value("browser").toString(),
                  GetParam() == Browser::kFirefox ? "firefox" : "chromium");
        EXPECT_FALSE(hello->value("version").toString().isEmpty());
    }

    // The tab whose title is `title`, from the extension's list; -1 if none.
    int TabTitled(const QString& title) {
        // The list can come before a fresh tab has its title.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            const auto answer = program_->Ask({{"type", "tabs"}});
            if (!answer || !answer->value("ok").toBool()) return -1;
            for (const QJsonValue& v : answer->value("tabs").toArray()) {
                const QJsonObject tab = v.toObject();
                if (tab.value("title").toString() == title) return tab.value("tab").toInt();
            }
            test::PumpEvents(200);
        }
        return -1;
    }

    // As the program sends it, with the form title the tab must still carry.
    // `after`: the text that must be in the tab before this one (0: none).
    std::optional<QJsonObject> Deliver(int tab, int seq, const QString& text, const QString& key = "I",
                                       const QString& title = "Bestellformular", int after = 0) {
        QJsonObject request{{"type", "deliver"}, {"tab", tab}, {"title", title}, {"session", session_},
                            {"seq", seq}, {"accessKey", key}, {"text", text}};
        if (after > 0)
            request.insert("after", after);
        return program_->Ask(request);
    }

    QTemporaryDir runtime_;
    QByteArray old_runtime_;
    std::unique_ptr<test::ProgramSocket> program_;
    test::OrderForm form_;
    const QString session_ = "s-" + QString::number(QDateTime::currentMSecsSinceEpoch());
};

// Line by line as the program's mode 0 does, each line acknowledged before
// the next; then the refusals.
TEST_P(ExtensionInBrowser, LinesArriveOnceAndFaultsAreAnswered) {
    const QString title = "Bestellformular Erweiterung";
    Open(title);
    const int tab = TabTitled(title);
    ASSERT_GE(tab, 0);
    // The second tab may still be loading its title.
    const int plain = TabTitled("Ohne Feld");
    ASSERT_GE(plain, 0);

    const auto tabs = program_->Ask({{"type", "tabs"}});
    ASSERT_TRUE(tabs);
    int form_tabs = 0, plain_tabs = 0;
    for (const QJsonValue& v : tabs->value("tabs").toArray()) {
        const QJsonObject t = v.toObject();
        EXPECT_TRUE(t.value("window").isDouble());
        EXPECT_TRUE(t.value("active").isBool());
        EXPECT_TRUE(t.value("focused").isBool());
        form_tabs += t.value("title").toString() == title;
        plain_tabs += t.value("title").toString() == "Ohne Feld";
    }
    EXPECT_EQ(form_tabs, 1);
    EXPECT_EQ(plain_tabs, 1);

    QString expected;
    QElapsedTimer timer;
    timer.start();
    const int kLines = 40;
    for (int i = 1; i <= kLines; ++i) {
        const QString line = QString("ART%1\t%2\r\n").arg(i, 4, 10, QChar('0')).arg(i % 7 + 1);
        const auto a = Deliver(tab, i, line, "I", "Bestellformular", i - 1);
        ASSERT_TRUE(a) << "no answer for line " << i;
        ASSERT_EQ(*a, (QJsonObject{{"id", a->value("id")}, {"ok", true}, {"seq", i}}));
        expected += QString(line).replace("\r\n", "\n");
    }
    std::printf("extension: %.2f ms a line, acknowledged\n", double(timer.elapsed()) / kLines);
    ASSERT_TRUE(form_.wait_for_field(expected)) << form_.field_text().toStdString();
    EXPECT_TRUE(form_.search_text().isEmpty()) << "the access key's field was not the target";

    // A text whose predecessor is not in the tab is refused.
    auto gap = Deliver(tab, kLines + 5, "nowhere", "I", "Bestellformular", kLines + 4);
    ASSERT_TRUE(gap);
    EXPECT_EQ(gap->value("reason").toString(), "out-of-order");

    // A retried request and an older one are acknowledged, not inserted.
    auto a = Deliver(tab, kLines, "ART9999\t1\n");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->value("ok").toBool());
    EXPECT_TRUE(a->value("duplicate").toBool());
    a = Deliver(tab, 3, "ART9999\t1\n");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->value("duplicate").toBool());
    // A new program run starts its own numbering; a lone CR becomes LF too.
    const QString session_for_next_ = "other run";
    a = program_->Ask({{"type", "deliver"}, {"tab", tab}, {"session", session_for_next_}, {"seq", 1},
                       {"accessKey", "i"}, {"text", "X\rY"}});
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->contains("duplicate"));
    expected += "X\nY";
    EXPECT_TRUE(form_.wait_for_field(expected)) << form_.field_text().toStdString();

    // Without an access key the page's focused field takes the text: the
    // form focuses its search field when it loads, and we moved the focus
    // to the lines, so it is that one now.
    a = Deliver(tab, kLines + 1, "Z");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->value("ok").toBool());
    expected += "Z";
    EXPECT_TRUE(form_.wait_for_field(expected));

    // The page without a field, a tab that no longer carries the form's
    // title, and a tab that is gone.
    a = Deliver(plain, 1, "nowhere", "I", "Ohne Feld");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->value("reason").toString(), "no-field");
    EXPECT_FALSE(a->value("ok").toBool());
    a = Deliver(tab, kLines + 2, "nowhere", "I", "Simple System");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->value("reason").toString(), "no-tab");
    a = Deliver(plain + tab + 1000, 1, "nowhere");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->value("reason").toString(), "no-tab");
    // Requests the extension cannot handle.
    a = program_->Ask({{"type", "deliver"}, {"tab", tab}, {"text", "no session"}});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->value("reason").toString(), "bad-request");
    a = program_->Ask({{"type", "print"}});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->value("reason").toString(), "bad-request");

    EXPECT_EQ(form_.settle(300), expected) << "a refused request wrote into the form";
    EXPECT_TRUE(form_.search_text().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Browsers, ExtensionInBrowser,
                         ::testing::Values(Browser::kChromium, Browser::kFirefox),
                         [](const auto& info) {
                             return std::string(info.param == Browser::kFirefox ? "Firefox" : "Chromium");
                         });

}  // namespace
}  // namespace vt
