// The program's end of the browser extension channel over a real Unix socket,
// with a stand-in for the native host on a thread of its own: the socket's
// folder and mode, who may connect, which browser's tabs count, and how each
// answer (or the lack of one) ends a delivery.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "browser/wire/wire.h"
#include "delivery/delivery_channel.h"
#include "delivery/extension_channel.h"
#include "delivery/extension_peer.h"
#include "delivery/extension_server.h"
#include "settings/settings.h"
#include "tests/support/fake_host.h"
#include "tests/support/recording_ui.h"

namespace vt {
namespace {

using test::FakeHost;
using test::Json;

QJsonObject Tabs(std::initializer_list<std::pair<int, const char*>> tabs) {
    QJsonArray list;
    for (const auto& [id, title] : tabs)
        list.append(QJsonObject{{"tab", id}, {"window", 1}, {"title", title}, {"active", true},
                                {"focused", true}});
    return QJsonObject{{"ok", true}, {"tabs", list}};
}

// A browser with the given tabs that takes every text.
FakeHost::Answer Accepting(QJsonObject tabs) {
    return [tabs](const QJsonObject& r) {
        if (r.value("type") == "tabs")
            return tabs;
        return QJsonObject{{"ok", true}, {"seq", r.value("seq")}};
    };
}

class ExtensionChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(runtime_.isValid());
        ::chmod(QFile::encodeName(runtime_.path()).constData(), 0700);
        saved_runtime_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
        saved_ = progpar;
        progpar = progparstruct{};
        progpar.keysendmode = 0;
        progpar.formtitle = {QStringLiteral("Bestellformular"), QStringLiteral("Simple System")};
        progpar.accesskey = {QString(), QStringLiteral("in")};
        browserrecord = browserrecordtype{};
        BatchLines.clear();
        ASSERT_TRUE(server_.listen());
    }
    void TearDown() override {
        server_.close();
        progpar = saved_;
        qputenv("XDG_RUNTIME_DIR", saved_runtime_);
    }
    // Until the server has taken the host's hello.
    bool WaitForConnections(size_t n) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 3000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (server_.connections().size() >= n)
                return true;
            QThread::msleep(5);
        }
        return false;
    }
    static std::vector<QJsonObject> Delivers(FakeHost& host) {
        std::vector<QJsonObject> out;
        for (const QJsonObject& r : host.requests())
            if (r.value("type") == "deliver")
                out.push_back(r);
        return out;
    }

    QTemporaryDir runtime_;
    QByteArray saved_runtime_;
    progparstruct saved_;
    test::RecordingDisplay display_;
    ExtensionServer server_{QStringLiteral("VantorTrans")};
};

TEST_F(ExtensionChannelTest, SocketIsTheOwnersAloneAndGoesWithTheServer) {
    const QString dir = runtime_.path() + "/vantortrans";
    const QString path = dir + "/VantorTrans.sock";
    EXPECT_EQ(server_.path(), path);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ExtensionServer second(QStringLiteral("VantorTrans"));
    QString error;
    EXPECT_FALSE(second.listen(&error)) << "a listening program keeps its socket";
    ExtensionServer other_brand(QStringLiteral("MiraboTrans"));
    EXPECT_TRUE(other_brand.listen()) << "every brand has a socket of its own";

    server_.close();
    EXPECT_FALSE(QFile::exists(path));

    // A socket file left by a program that died is replaced.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, QFile::encodeName(path).constData());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);
    EXPECT_TRUE(server_.listen());

    // A folder others may enter is not used.
    server_.close();
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    EXPECT_FALSE(server_.listen(&error));
    EXPECT_FALSE(server_.listening());
}

TEST_F(ExtensionChannelTest, ConnectionOfAnotherUserIsClosedUnread) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"), {"/usr/bin"});
    if (setpriv.isEmpty() || python.isEmpty())
        GTEST_SKIP() << "setpriv or python3 is missing";
    // Open the way to the socket as a careless set-up would: the peer check
    // must still hold.
    ::chmod(QFile::encodeName(runtime_.path()).constData(), 0755);
    ::chmod(QFile::encodeName(runtime_.path() + "/vantortrans").constData(), 0755);
    ::chmod(QFile::encodeName(server_.path()).constData(), 0666);
    const QString script = QStringLiteral(
        "import socket,struct,sys,json\n"
        "s=socket.socket(socket.AF_UNIX)\n"
        "s.connect(sys.argv[1])\n"
        "m=json.dumps({'type':'hello','browser':'chromium'}).encode()\n"
        "s.sendall(struct.pack('<I',len(m))+m)\n"
        "try:\n"
        "    r=s.recv(1)\n"
        "except ConnectionResetError:\n"
        "    r=b''\n"
        "print('sent' if r==b'' else 'answered')\n");
    QProcess p;
    p.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", python, "-c", script,
                      server_.path()});
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        p.waitForFinished(10);
    }
    EXPECT_EQ(p.readAllStandardOutput().trimmed(), "sent") << p.readAllStandardError().constData();
    EXPECT_EQ(server_.refused(), 1);
    EXPECT_TRUE(server_.connections().empty()) << "its hello must not count";

    FakeHost own(server_.path(), "chromium", Accepting(Tabs({})));
    EXPECT_TRUE(WaitForConnections(1)) << "the user's own host is served";
}

TEST_F(ExtensionChannelTest, TheShopsBrowserKindChoosesTheConnectionAndTheLastMatchingTabWins) {
    FakeHost chromium(server_.path(), "chromium",
                      Accepting(Tabs({{5, "Bestellformular - Shop"}, {6, "Andere Seite"},
                                      {7, "Mein Bestellformular"}})));
    FakeHost firefox(server_.path(), "firefox",
                     Accepting(Tabs({{5, "Simple System Bestellung"}})));
    ASSERT_TRUE(WaitForConnections(2));
    ExtensionChannel channel(server_);

    progpar.browser = {3, 3};
    EXPECT_TRUE(channel.find_window(0));
    EXPECT_EQ(browserrecord.title, "Mein Bestellformular");
    EXPECT_EQ(browserrecord.classname, "chromium");
    EXPECT_EQ(browserrecord.handle, ExtensionChannel::FormHandle(3, 7));
    EXPECT_TRUE(browserrecord.state[0]);
    EXPECT_FALSE(channel.find_window(1)) << "the Simple System tab is in Firefox";
    progpar.browser[1] = 2;
    EXPECT_TRUE(channel.find_window(1));
    EXPECT_NE(browserrecord.handle, ExtensionChannel::FormHandle(3, 5))
        << "the same tab id in another browser is another form";
    progpar.browser[1] = 0;
    EXPECT_TRUE(channel.find_window(1)) << "manual takes any browser";
    progpar.browser[1] = 1;
    EXPECT_FALSE(channel.find_window(1));
    progpar.browser[1] = 4;
    EXPECT_FALSE(channel.find_window(1));
    progpar.browser[0] = 0;
    progpar.formtitle[0].clear();
    EXPECT_FALSE(channel.find_window(0)) << "an empty form title names no form";

    EXPECT_EQ(channel.status_text(), "Browser-Erweiterung : verbunden (Firefox, Chromium)");
    // A newer host of the same browser replaces the older one.
    FakeHost newer(server_.path(), "chrome", Accepting(Tabs({{9, "Bestellformular"}})));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000 && server_.connections().back().browser != "chrome")
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    progpar.browser[0] = 3;
    progpar.formtitle[0] = "Bestellformular";
    EXPECT_TRUE(channel.find_window(0));
    EXPECT_EQ(browserrecord.handle, ExtensionChannel::FormHandle(3, 9));
}

TEST_F(ExtensionChannelTest, NoConnectionFindsNoFormAndSaysSo) {
    ExtensionChannel channel(server_);
    EXPECT_FALSE(channel.find_window(0));
    EXPECT_FALSE(browserrecord.state[0]);
    EXPECT_EQ(channel.status_text(), "Browser-Erweiterung nicht verbunden");
    EXPECT_FALSE(channel.deliver_line(0, "4711\t1"));
    EXPECT_EQ(display_.log,
              QStringList{"Browser-Erweiterung nicht verbunden, nicht gesendet : 4711\t1"});
}

TEST_F(ExtensionChannelTest, LinesCarryRisingNumbersTheirAccessKeyAndLoseThePrefix) {
    FakeHost host(server_.path(), "chromium",
                  Accepting(Tabs({{3, "Bestellformular"}, {4, "Simple System"}})));
    ASSERT_TRUE(WaitForConnections(1));
    ExtensionChannel channel(server_);
    progpar.browser = {3, 3};
    progpar.praefix = "X-";
    ASSERT_TRUE(channel.find_window(0));
    EXPECT_TRUE(channel.deliver_line(0, "X-4711\t2"));
    EXPECT_TRUE(channel.deliver_line(0, "0815\t1"));
    ASSERT_TRUE(channel.find_window(1));
    EXPECT_TRUE(channel.deliver_line(1, "X-99"));
    EXPECT_TRUE(channel.await_last_paste());
    const auto sent = Delivers(host);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].value("text"), "4711\t2\r");
    EXPECT_EQ(sent[0].value("tab"), 3);
    EXPECT_EQ(sent[0].value("accessKey"), "");
    EXPECT_EQ(sent[1].value("seq").toInteger(), sent[0].value("seq").toInteger() + 1);
    EXPECT_EQ(sent[2].value("text"), "X-99\r") << "the prefix is the brand shop's";
    EXPECT_EQ(sent[2].value("accessKey"), "i") << "only the first character is a key";
    EXPECT_EQ(sent[2].value("tab"), 4);
    EXPECT_EQ(sent[0].value("title"), "Bestellformular") << "the extension checks the tab by it";
    EXPECT_EQ(sent[2].value("title"), "Simple System");
    EXPECT_EQ(sent[0].value("session"), sent[2].value("session"));
    EXPECT_EQ(display_.log, QStringList({"X-4711\t2", "0815\t1", "X-99"}));
}

// A page loaded again in its tab is an empty form: another handle, and the
// texts name the load they were meant for, so the extension can refuse
// them in the new one.
TEST_F(ExtensionChannelTest, APageLoadedAgainIsAnotherFormAndTheTextsNameTheirLoad) {
    std::atomic<int> load{1};
    FakeHost host(server_.path(), "chromium", [&](const QJsonObject& r) {
        if (r.value("type") == "tabs")
            return QJsonObject{{"ok", true},
                               {"tabs", QJsonArray{QJsonObject{
                                            {"tab", 3}, {"title", "Bestellformular"},
                                            {"doc", QString("load-%1").arg(load.load())}}}}};
        return QJsonObject{{"ok", true}, {"seq", r.value("seq")}};
    });
    ASSERT_TRUE(WaitForConnections(1));
    ExtensionChannel channel(server_);
    progpar.browser = {3, 3};
    ASSERT_TRUE(channel.find_window(0));
    const uint64_t first = browserrecord.handle;
    EXPECT_TRUE(channel.deliver_line(0, "4711\t2"));
    load = 2;
    ASSERT_TRUE(channel.find_window(0));
    EXPECT_NE(browserrecord.handle, first);
    EXPECT_EQ(browserrecord.handle & 0xFFFFFFFFFFull, ExtensionChannel::FormHandle(3, 3))
        << "browser kind and tab stay where they were";
    EXPECT_TRUE(channel.deliver_line(0, "0815\t1"));
    EXPECT_TRUE(channel.await_last_paste());
    const auto sent = Delivers(host);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].value("doc"), "load-1");
    EXPECT_EQ(sent[1].value("doc"), "load-2");
}

TEST_F(ExtensionChannelTest, EachRefusalFailsTheLineWithOneLogLine) {
    std::atomic<int> answer{0};
    FakeHost host(server_.path(), "chromium", [&](const QJsonObject& r) {
        if (r.value("type") == "tabs")
            return Tabs({{3, "Bestellformular"}});
        switch (answer.load()) {
            case 0: return QJsonObject{{"ok", false}, {"reason", "no-tab"}};
            case 1: return QJsonObject{{"ok", false}, {"reason", "no-field"}};
            case 2: return QJsonObject{{"ok", false}, {"reason", "not-ready"}};
            case 3: return QJsonObject{{"ok", false}, {"reason", "bad-request"}};
            case 4: return QJsonObject{{"ok", true}, {"seq", r.value("seq").toInteger() - 1}};
            default: return QJsonObject{{"ok", true}, {"seq", r.value("seq")}, {"duplicate", true}};
        }
    });
    ASSERT_TRUE(WaitForConnections(1));
    ExtensionChannel channel(server_);
    ASSERT_TRUE(channel.find_window(0));
    for (int i = 0; i < 5; ++i) {
        answer = i;
        EXPECT_TRUE(channel.deliver_line(0, "A")) << "sent; its answer comes later";
        EXPECT_FALSE(channel.await_last_paste()) << i;
    }
    answer = 5;
    EXPECT_TRUE(channel.deliver_line(0, "A"));
    EXPECT_TRUE(channel.await_last_paste()) << "a duplicate is in the form already";
    EXPECT_EQ(display_.log, QStringList({
                                "Bestellformular geschlossen, nicht gesendet : A",
                                "Kein Eingabefeld im Bestellformular, nicht gesendet : A",
                                "Bestellformular nicht bereit, nicht gesendet : A",
                                "Browser-Erweiterung lehnt ab, nicht gesendet : A",
                                "Browser-Erweiterung lehnt ab, nicht gesendet : A",
                                "A",
                            }));
}

TEST_F(ExtensionChannelTest, LinesGoAheadOfTheirAnswersEachNamingTheOneBefore) {
    // A browser that takes 20 ms a line and refuses L2 while `refuse` holds.
    std::atomic<bool> refuse{true};
    FakeHost host(server_.path(), "chromium", [&](const QJsonObject& r) {
        if (r.value("type") == "tabs")
            return Tabs({{3, "Bestellformular"}});
        QThread::msleep(20);
        if (refuse && r.value("text") == "L2\r")
            return QJsonObject{{"ok", false}, {"reason", "no-field"}};
        return QJsonObject{{"ok", true}, {"seq", r.value("seq")}};
    });
    ASSERT_TRUE(WaitForConnections(1));
    ExtensionChannel channel(server_);
    ASSERT_TRUE(channel.find_window(0));
    const int ahead = int(ExtensionChannel::kLinesAhead);
    QStringList lines;
    for (int i = 0; i < ahead + 3; ++i)
        lines << QStringLiteral("L%1").arg(i);
    QElapsedTimer t;
    t.start();
    QList<bool> sent;
    for (const QString& line : lines) {
        sent << channel.deliver_line(0, line);
        if (sent.size() == ahead) {
            EXPECT_LT(t.elapsed(), 20) << "the first lines go out before any answer";
        }
    }
    EXPECT_EQ(sent.count(true), ahead + 2);
    EXPECT_FALSE(sent.last()) << "the last one waited for L2's answer";
    EXPECT_TRUE(channel.window_still_there(0));
    EXPECT_FALSE(channel.await_last_paste());
    EXPECT_EQ(channel.lines_not_arrived(), ahead) << "L2 and every line sent after it";
    EXPECT_TRUE(channel.await_last_paste()) << "told once";
    EXPECT_EQ(display_.log,
              QStringList({"L0", "L1", "Kein Eingabefeld im Bestellformular, nicht gesendet : L2"}));
    const auto first = Delivers(host);
    ASSERT_EQ(first.size(), size_t(ahead + 2)) << "nothing after the refusal came back";
    EXPECT_FALSE(first[0].contains("after")) << "a file's first line needs no predecessor";
    for (size_t i = 1; i < first.size(); ++i)
        EXPECT_EQ(first[i].value("after"), first[i - 1].value("seq")) << i;

    // The next try sends them again under their old numbers: a tab that had
    // some of them answers "duplicate".
    refuse = false;
    ASSERT_TRUE(channel.find_window(0));
    for (const QString& line : lines.mid(2, ahead))
        EXPECT_TRUE(channel.deliver_line(0, line));
    EXPECT_TRUE(channel.await_last_paste());
    EXPECT_EQ(channel.lines_not_arrived(), 0);
    const auto again = Delivers(host);
    ASSERT_EQ(again.size(), first.size() + size_t(ahead));
    EXPECT_FALSE(again[first.size()].contains("after"));
    for (size_t i = 0; i < size_t(ahead); ++i)
        EXPECT_EQ(again[first.size() + i].value("seq"), first[2 + i].value("seq")) << i;
}

TEST_F(ExtensionChannelTest, AnUnansweredTextIsRetriedUnderItsOwnNumberOnly) {
    std::atomic<bool> silent{true};
    FakeHost host(server_.path(), "chromium", [&](const QJsonObject& r) {
        if (r.value("type") == "tabs")
            return Tabs({{3, "Bestellformular"}, {8, "Zweites Bestellformular"}});
        if (silent)
            return QJsonObject{};
        return QJsonObject{{"ok", true}, {"seq", r.value("seq")}};
    });
    ASSERT_TRUE(WaitForConnections(1));
    ExtensionChannel channel(server_);
    ASSERT_TRUE(channel.find_window(0));
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(channel.deliver_line(0, "A"));
    EXPECT_FALSE(channel.await_last_paste()) << "the transfer is told";
    EXPECT_GE(t.elapsed(), ExtensionChannel::kAnswerTimeoutMs - 50);
    EXPECT_LT(t.elapsed(), ExtensionChannel::kAnswerTimeoutMs + 1000);
    EXPECT_EQ(display_.log.last(), "Browser-Erweiterung antwortet nicht, nicht gesendet : A");
    silent = false;
    EXPECT_TRUE(channel.deliver_line(0, "A"));
    EXPECT_TRUE(channel.deliver_line(0, "A")) << "a line of its own, not the retry";
    EXPECT_TRUE(channel.await_last_paste());
    auto sent = Delivers(host);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].value("seq"), sent[0].value("seq")) << "the retry must be recognisable";
    EXPECT_GT(sent[2].value("seq").toInteger(), sent[1].value("seq").toInteger());

    // Unanswered, then a different text: the old number is given up.
    silent = true;
    channel.deliver_line(0, "B");
    EXPECT_FALSE(channel.await_last_paste());
    silent = false;
    EXPECT_TRUE(channel.deliver_line(0, "C"));
    EXPECT_TRUE(channel.await_last_paste());
    sent = Delivers(host);
    EXPECT_GT(sent[4].value("seq").toInteger(), sent[3].value("seq").toInteger());
}

TEST_F(ExtensionChannelTest, HostGoneMidFileFailsAtOnceAndTheReconnectedTabIsTheSameForm) {
    FakeHost first(server_.path(), "chromium", Accepting(Tabs({{3, "Bestellformular"}})));
    ASSERT_TRUE(WaitForConnections(1));
    ExtensionChannel channel(server_);
    ASSERT_TRUE(channel.find_window(0));
    const uint64_t form = browserrecord.handle;
    EXPECT_TRUE(channel.deliver_line(0, "A"));
    EXPECT_TRUE(channel.await_last_paste());
    first.close();
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(channel.deliver_line(0, "B"));
    EXPECT_LT(t.elapsed(), 1000) << "a closed connection needs no time-out";
    EXPECT_EQ(display_.log.last(), "Browser-Erweiterung nicht verbunden, nicht gesendet : B");
    EXPECT_FALSE(channel.find_window(0));

    FakeHost again(server_.path(), "chromium", Accepting(Tabs({{3, "Bestellformular"}})));
    ASSERT_TRUE(WaitForConnections(1));
    ASSERT_TRUE(channel.find_window(0));
    EXPECT_EQ(browserrecord.handle, form);
    EXPECT_TRUE(channel.deliver_line(0, "B"));
    EXPECT_TRUE(channel.await_last_paste());
    ASSERT_EQ(Delivers(again).size(), 1u);
}

TEST_F(ExtensionChannelTest, BatchGoesAsOneTextOrInPiecesCutAtLineEnds) {
    FakeHost host(server_.path(), "chromium", Accepting(Tabs({{3, "Bestellformular"}})));
    ASSERT_TRUE(WaitForConnections(1));
    ExtensionChannel channel(server_);
    progpar.keysendmode = 1;
    progpar.praefix = "X-";
    ASSERT_TRUE(channel.find_window(0));
    channel.begin_batch();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(channel.deliver_line(0, QStringLiteral("X-%1\t1").arg(i)));
    EXPECT_TRUE(Delivers(host).empty()) << "modes 1 and 2 collect";
    EXPECT_TRUE(channel.paste_batch());
    auto sent = Delivers(host);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].value("text"), "X-0\t1\rX-1\t1\rX-2\t1\r") << "a batch keeps its prefix";
    EXPECT_TRUE(display_.log.isEmpty());

    progpar.keysendmode = 2;
    channel.begin_batch();
    const QString line = QString(99, u'7') + u'\t';
    for (int i = 0; i < 10000; ++i)
        channel.deliver_line(0, line);
    EXPECT_TRUE(channel.paste_batch());
    sent = Delivers(host);
    ASSERT_EQ(sent.size(), 3u) << "1.03 MB of text in pieces of at most 512 KiB";
    QString joined;
    for (size_t i = 1; i < sent.size(); ++i) {
        const QString piece = sent[i].value("text").toString();
        EXPECT_TRUE(piece.endsWith(u'\r'));
        EXPECT_LE(Json(QJsonObject{{"t", piece}}).size(), ExtensionChannel::kChunkBytes + 16);
        joined += piece;
    }
    EXPECT_EQ(joined, BatchLines.join(QString()));
}

TEST_F(ExtensionChannelTest, BrokenFramesAreDroppedAndAnOversizedOneEndsTheConnection) {
    FakeHost host(server_.path(), "chromium", Accepting(Tabs({{3, "Bestellformular"}})));
    ASSERT_TRUE(WaitForConnections(1));
    host.send(wire::Frame("{\"id\":") + wire::Frame("") + wire::Frame("[]") +
              wire::Frame(R"({"id":999,"ok":true})"));
    ExtensionChannel channel(server_);
    EXPECT_TRUE(channel.find_window(0)) << "the connection lives on after frames it cannot use";
    EXPECT_TRUE(channel.deliver_line(0, "A"));
    EXPECT_TRUE(channel.await_last_paste());
    QByteArray oversized(4, '\0');
    const quint32 len = wire::kMaxFromBrowser + 1;
    std::memcpy(oversized.data(), &len, 4);
    host.send(oversized + QByteArray(1024, 'x'));
    QElapsedTimer t;
    t.start();
    while (!server_.connections().empty() && t.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(server_.connections().empty());
    EXPECT_FALSE(channel.find_window(0));
}

TEST(ExtensionPeer, HostMessagesAreSortedAndNothingUnreadableIsAnswered) {
    ExtensionPeer peer;
    QByteArray stream;
    for (const char* json : {R"({"type":"hello","browser":"firefox","version":"2"})", "not json",
                             "[1,2]", R"({"id":null,"ok":false,"reason":"bad-request"})",
                             R"({"id":1.5,"ok":true})", "", R"({"id":7,"ok":true,"seq":3})"})
        stream += wire::Frame(json);
    // In pieces of one byte: frames cross every boundary.
    for (char c : stream)
        peer.feed(&c, 1);
    ExtensionPeer::Message m;
    ASSERT_EQ(peer.next(&m), ExtensionPeer::Next::kMessage);
    EXPECT_EQ(m.kind, ExtensionPeer::Message::Kind::kHello);
    EXPECT_EQ(m.browser, "firefox");
    ASSERT_EQ(peer.next(&m), ExtensionPeer::Next::kMessage);
    EXPECT_EQ(m.kind, ExtensionPeer::Message::Kind::kAnswer);
    EXPECT_EQ(m.id, 7);
    EXPECT_EQ(ParseDeliverAnswer(m.body, 3), DeliverResult::kDelivered);
    EXPECT_EQ(ParseDeliverAnswer(m.body, 4), DeliverResult::kRefused);
    EXPECT_EQ(peer.next(&m), ExtensionPeer::Next::kNone);
    EXPECT_EQ(peer.dropped(), 5);

    QByteArray huge(4, '\0');
    const quint32 len = wire::kMaxFromBrowser + 1;
    std::memcpy(huge.data(), &len, 4);
    peer.feed(huge.constData(), huge.size());
    EXPECT_EQ(peer.next(&m), ExtensionPeer::Next::kBroken);
    const QByteArray more = wire::Frame(R"({"id":8,"ok":true})");
    peer.feed(more.constData(), more.size());
    EXPECT_EQ(peer.next(&m), ExtensionPeer::Next::kBroken) << "a broken stream stays broken";
}

TEST(ExtensionPeer, TabListsKeepOnlyUsableEntries) {
    std::vector<BrowserTab> tabs;
    const auto parse = [&](const char* json) {
        return ParseTabs(QJsonDocument::fromJson(json).object(), &tabs);
    };
    EXPECT_TRUE(parse(R"({"ok":true,"tabs":[{"tab":4,"window":2,"title":"A","active":true},
                  {"tab":"5","title":"B"},{"title":"C"},{"tab":6},7,{"tab":8,"title":"D"}]})"));
    ASSERT_EQ(tabs.size(), 2u);
    EXPECT_EQ(tabs[0].tab, 4);
    EXPECT_EQ(tabs[0].window, 2);
    EXPECT_TRUE(tabs[0].active);
    EXPECT_EQ(tabs[1].title, "D");
    EXPECT_FALSE(parse(R"({"ok":false,"tabs":[{"tab":4,"title":"A"}]})"));
    EXPECT_TRUE(tabs.empty());
    EXPECT_FALSE(parse(R"({"ok":true,"tabs":{}})"));
}

TEST(ExtensionPeer, ChunksStayWithinTheirBytesCountedAsJsonAndRejoinToTheText) {
    EXPECT_EQ(ChunkText("a\rb\r", 100), QStringList{"a\rb\r"});
    EXPECT_EQ(ChunkText("aaaa\rbbbb\rcc", 12), QStringList({"aaaa\rbbbb\r", "cc"}))
        << "CR counts two bytes, as \\r";
    EXPECT_EQ(ChunkText("aaaa\r\nbbbb\r\n", 8), QStringList({"aaaa\r\n", "bbbb\r\n"}))
        << "CR LF stays together";
    EXPECT_EQ(ChunkText(QString(20, u'x') + "\ry\r", 8), QStringList({QString(20, u'x') + "\r",
                                                                       "y\r"}))
        << "an overlong line is a piece of its own";
    EXPECT_EQ(ChunkText("\x01\r\x01\r", 8), QStringList({"\x01\r", "\x01\r"}))
        << "a control character takes six bytes, as \\u0001";
    EXPECT_EQ(ChunkText("\x01\r\x01\r", 16), QStringList{"\x01\r\x01\r"});
    EXPECT_EQ(ChunkText(QString::fromUtf8("ä\rä\r"), 4),
              QStringList({QString::fromUtf8("ä\r"), QString::fromUtf8("ä\r")}));
    EXPECT_TRUE(ChunkText(QString(), 10).isEmpty());
}

}  // namespace
}  // namespace vt
