// The extension in Chromium running natively in a headless Wayland session
// (sway, no Xwayland): no X11 anywhere. Everything that takes part runs as
// the session's user, as the host refuses a program of another user: first
// a played program, then the real one on Qt's Wayland platform.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"

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


// The real program with Delivery=1 on Qt's Wayland platform, in the session
// and as its user, with the simulated OPL-98xx scanner: the Simple System
// file (delivered without a confirmation box, which nothing could answer
// here) arrives exactly once and is then dropped from the scanner.
TEST(ExtensionWayland, TheRealProgramDeliversTheShopFileOnce) {
    ASSERT_TRUE(kDesktop);
    test::WaylandSession session;
    QString why;
    if (!session.start(&why)) {
        if (why.startsWith("needs root") || why.contains("not installed")) GTEST_SKIP() << why.toStdString();
        FAIL() << why.toStdString();
    }
    test::OplSim sim{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    sim.set_file(0, {});
    sim.set_file(1, {QByteArray("S-100").leftJustified(28, ' ') + "      1",
                     QByteArray("S-200").leftJustified(28, ' ') + "      4"});
    ASSERT_TRUE(sim.start({"--drop-after-end"}));
    ASSERT_TRUE(session.give(sim.pty_path()));

    const QString title = "Simple System Bestellformular";
    QTemporaryDir start_dir;
    ASSERT_TRUE(start_dir.isValid());
    QFile ini(start_dir.filePath("VantorTrans.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QString("[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=%1\r\n"
                      "[PARAMETER]\r\nKeysendmode=0\r\nDelivery=1\r\n"
                      "[Vantor]\r\nBrowser=3\r\nFormTitle=Kein solches Formular\r\n"
                      "[Simple System]\r\nBrowser=3\r\nFormTitle=%2\r\n")
                  .arg(sim.pty_path(), title)
                  .toUtf8());
    ini.close();
    ::chmod(QFile::encodeName(start_dir.path()).constData(), 0755);
    ASSERT_TRUE(session.give(start_dir.path()));

    test::ChildProcess program;
    const QStringList argv = session.as_user(
        {"QT_QPA_PLATFORM=wayland", "sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", start_dir.path(),
         VT_BIN_DIR "/VantorTrans"});
    ASSERT_TRUE(program.start(argv, start_dir.filePath("program.log")));
    auto program_log = [&] {
        QFile f(start_dir.filePath("program.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().right(3000).toStdString() : std::string();
    };

    test::OrderForm form;
    test::BrowserSetup setup;
    setup.wayland = &session;
    form.set_browser(setup);
    ASSERT_TRUE(form.open(title)) << form.chromium_log().right(3000).toStdString();
    EXPECT_TRUE(form.wait_for_field("S-100\nS-200\n", 30000))
        << form.field_text().toStdString() << "\n" << program_log();
    QElapsedTimer t;
    t.start();
    while (!sim.log().contains("DROP 1") && t.elapsed() < 10000) test::PumpEvents(100);
    EXPECT_TRUE(sim.log().contains("DROP 1")) << sim.log().join('\n').right(2000).toStdString();
    // Two more polls of the scanner: nothing more arrives.
    const auto polls = [&] { return int(sim.log().filter("RX HMS0").size()); };
    const int seen = polls();
    while (polls() < seen + 2 && t.elapsed() < 20000) test::PumpEvents(100);
    EXPECT_EQ(form.settle(300), "S-100\nS-200\n") << "exactly once";
    const QByteArray tree = session.tree();
    // Nothing else in the session carries the program's name.
    EXPECT_TRUE(tree.contains("VantorTrans")) << "the program is no window of the session";
    EXPECT_TRUE(program.running()) << program_log();
}

}  // namespace
}  // namespace vt
