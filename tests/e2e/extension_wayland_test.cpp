// The extension in Chromium running natively in a headless Wayland session
// (sway, no Xwayland): no X11 anywhere on the browser's side. The program's
// end is played in a process of the session's user, as the host refuses a
// program of another user.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "tests/support/e2e_desktop.h"

namespace vt {
namespace {

// The order form's reports come over HTTP; the desktop is started for the
// other tests of this binary anyway.
static const bool kDesktop = test::EnsureTestDesktop();

class PlayedProgram {
  public:
    explicit PlayedProgram(const test::WaylandSession& session) {
        const QStringList argv = session.as_user({VT_BIN_DIR "/wire_program", "VantorTrans"});
        p_.start(argv.first(), argv.mid(1));
    }
    ~PlayedProgram() {
        p_.closeWriteChannel();
        if (!p_.waitForFinished(3000)) p_.kill();
        p_.waitForFinished(1000);
    }
    // The next line it prints, pumping events meanwhile (the page reports).
    QByteArray Line(int timeout_ms) {
        QElapsedTimer t;
        t.start();
        while (!p_.canReadLine() && t.elapsed() < timeout_ms) {
            p_.waitForReadyRead(20);
            test::PumpEvents(5);
        }
        return p_.readLine().trimmed();
    }
    QJsonObject Ask(const QJsonObject& request) {
        p_.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + "\n");
        return QJsonDocument::fromJson(Line(8000)).object();
    }
    QString Errors() { return QString::fromUtf8(p_.readAllStandardError()); }

  private:
    QProcess p_;
};

TEST(ExtensionWayland, LinesArriveOnceInChromiumOnSway) {
    ASSERT_TRUE(kDesktop);
    test::WaylandSession session;
    QString why;
    if (!session.start(&why)) {
        if (why.startsWith("needs root") || why.contains("not installed")) GTEST_SKIP() << why.toStdString();
        FAIL() << why.toStdString();
    }
    PlayedProgram program(session);
    ASSERT_EQ(program.Line(5000), "listening") << program.Errors().toStdString();

    const QString title = "Bestellformular Wayland";
    test::OrderForm form;
    test::BrowserSetup setup;
    setup.wayland = &session;
    form.set_browser(setup);
    ASSERT_TRUE(form.open(title)) << form.chromium_log().right(3000).toStdString();
    const QJsonObject hello = QJsonDocument::fromJson(program.Line(20000)).object();
    ASSERT_EQ(hello.value("type").toString(), "hello") << form.chromium_log().right(3000).toStdString();

    // A native Wayland window of the compositor, under the page's title.
    const QByteArray tree = session.tree();
    EXPECT_TRUE(tree.contains(title.toUtf8())) << tree.left(2000).constData();
    EXPECT_TRUE(tree.contains("\"xdg_shell\"")) << tree.left(2000).constData();

    int tab = -1;
    for (int tries = 0; tries < 50 && tab < 0; ++tries) {
        for (const QJsonValue& v : program.Ask({{"type", "tabs"}}).value("tabs").toArray()) {
            if (v.toObject().value("title").toString() == title) tab = v.toObject().value("tab").toInt();
        }
        if (tab < 0) test::PumpEvents(200);
    }
    ASSERT_GE(tab, 0);

    const QStringList lines{"ART0001\t3\r\n", "ART0002\t1\r\n", "ART0003\t12\r\n"};
    QString expected;
    for (int i = 0; i < lines.size(); ++i) {
        const QJsonObject a = program.Ask({{"type", "deliver"}, {"tab", tab}, {"session", "wl"},
                                           {"seq", i + 1}, {"accessKey", "I"}, {"text", lines[i]}});
        ASSERT_TRUE(a.value("ok").toBool()) << QJsonDocument(a).toJson().constData();
        expected += QString(lines[i]).replace("\r\n", "\n");
    }
    // The last one again, as after a lost answer: acknowledged, not inserted.
    const QJsonObject again = program.Ask({{"type", "deliver"}, {"tab", tab}, {"session", "wl"}, {"seq", 3},
                                           {"accessKey", "I"}, {"text", lines[2]}});
    EXPECT_TRUE(again.value("duplicate").toBool());
    ASSERT_TRUE(form.wait_for_field(expected)) << form.field_text().toStdString();
    EXPECT_EQ(form.settle(300), expected);
}

}  // namespace
}  // namespace vt
