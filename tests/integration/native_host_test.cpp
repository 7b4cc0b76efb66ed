// The native messaging host as the browser starts it: a real process with
// pipes for stdin/stdout, and test programs listening in a private runtime
// folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "browser/wire/wire.h"
#include "tests/support/program_socket.h"
#include "tests/support/temp_files.h"

using vt::test::ProgramSocket;

namespace {

const QString kHost = QStringLiteral(VT_BIN_DIR "/vantortrans-host");
const QByteArray kHello = R"({"type":"hello","browser":"chromium","version":"1.0"})";

QJsonObject Json(const QByteArray& b) { return QJsonDocument::fromJson(b).object(); }

class NativeHost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(runtime_.isValid());
        ::chmod(QFile::encodeName(runtime_.path()).constData(), 0700);
        old_runtime_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_.path()));
        QString error;
        ASSERT_TRUE(vt::wire::EnsureSocketDir(&error)) << error.toStdString();
    }
    void TearDown() override {
        if (host_.state() != QProcess::NotRunning) {
            host_.kill();
            host_.waitForFinished(2000);
        }
        if (old_runtime_.isNull()) qunsetenv("XDG_RUNTIME_DIR");
        else qputenv("XDG_RUNTIME_DIR", old_runtime_);
    }

    void StartHost() {
        host_.setProcessChannelMode(QProcess::SeparateChannels);
        // The arguments Chromium passes; the host must not mind them.
        host_.start(kHost, {"chrome-extension://ihgjgmjpiniphoimmgebdelleofcoecg/"});
        ASSERT_TRUE(host_.waitForStarted(5000));
    }
    void ToHost(const QByteArray& json) { host_.write(vt::wire::Frame(json)); }
    // The next message the host sends to the browser, or nothing in time.
    std::optional<QJsonObject> FromHost(int timeout_ms = 3000) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            QByteArray json;
            if (out_.Next(&json) == vt::wire::FrameReader::Result::kFrame) return Json(json);
            const int left = timeout_ms - int(t.elapsed());
            if (left <= 0 || !host_.waitForReadyRead(left)) return std::nullopt;
            const QByteArray b = host_.readAllStandardOutput();
            out_.Feed(b.constData(), b.size());
        }
    }
    bool HostExits(int timeout_ms) {
        return host_.waitForFinished(timeout_ms) && host_.exitStatus() == QProcess::NormalExit;
    }

    QTemporaryDir runtime_;
    QByteArray old_runtime_;
    QProcess host_;
    vt::wire::FrameReader out_{vt::wire::kMaxToBrowser};
};

TEST_F(NativeHost, RelaysBetweenTheBrowserAndEveryRunningBrand) {
    ProgramSocket vantor(vt::wire::SocketPath("VantorTrans"));
    ProgramSocket mirabo(vt::wire::SocketPath("MiraboTrans"));
    ASSERT_TRUE(vantor.listening() && mirabo.listening());
    // A socket file nobody listens on (a crashed program) is passed over.
    {
        ProgramSocket stale(vt::wire::SocketPath("DoerfalTrans"));
    }
    StartHost();
    // The hello arrives in two writes, split inside the length.
    const QByteArray hello = vt::wire::Frame(kHello);
    host_.write(hello.left(2));
    host_.waitForBytesWritten(1000);
    QThread::msleep(100);
    host_.write(hello.mid(2));

    ASSERT_TRUE(vantor.Accept(3000));
    ASSERT_TRUE(mirabo.Accept(3000));
    EXPECT_EQ(vantor.ReadFrame(2000), std::optional<QByteArray>(kHello));
    EXPECT_EQ(mirabo.ReadFrame(2000), std::optional<QByteArray>(kHello));

    // Both may use the same ids: the name of the socket tells them apart.
    vantor.Send({{"id", 1}, {"type", "tabs"}});
    auto req = FromHost();
    ASSERT_TRUE(req);
    EXPECT_EQ(*req, (QJsonObject{{"id", 1}, {"type", "tabs"}, {"app", "VantorTrans"}}));
    mirabo.Send({{"id", 1}, {"type", "deliver"}, {"tab", 7}, {"text", "a\tb\n"}});
    req = FromHost();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->value("app").toString(), "MiraboTrans");
    EXPECT_EQ(req->value("text").toString(), "a\tb\n");

    ToHost(R"({"id":1,"ok":true,"seq":3,"app":"MiraboTrans"})");
    ToHost(R"({"id":1,"ok":true,"tabs":[],"app":"Unbekannt"})");
    ToHost(R"({"id":1,"ok":true,"tabs":[],"app":"VantorTrans"})");
    EXPECT_EQ(mirabo.Read(2000), (QJsonObject{{"id", 1}, {"ok", true}, {"seq", 3}}));
    EXPECT_EQ(vantor.Read(2000), (QJsonObject{{"id", 1}, {"ok", true}, {"tabs", QJsonArray{}}}));
    EXPECT_FALSE(vantor.Read(300)) << "the answer for an unknown program went somewhere";

    // A brand started later is found by the next scan and greeted.
    ProgramSocket doerfal(vt::wire::SocketPath("DoerfalTrans"));
    ASSERT_TRUE(doerfal.Accept(2500));
    EXPECT_EQ(doerfal.ReadFrame(2000), std::optional<QByteArray>(kHello));

    // One program ending leaves the others served, and it is found again
    // when it comes back.
    mirabo.CloseConnection();
    vantor.Send({{"id", 2}, {"type", "tabs"}});
    req = FromHost();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->value("id").toInt(), 2);
    ASSERT_TRUE(mirabo.Accept(2500));
    EXPECT_EQ(mirabo.ReadFrame(2000), std::optional<QByteArray>(kHello));

    // The browser closing stdin ends the host.
    host_.closeWriteChannel();
    ASSERT_TRUE(HostExits(3000));
    EXPECT_EQ(host_.exitCode(), 0);
    EXPECT_TRUE(vantor.WaitClosedByPeer(1000));
}

TEST_F(NativeHost, BadMessagesGetAnErrorAndOversizedOnesCloseTheirStream) {
    ProgramSocket vantor(vt::wire::SocketPath("VantorTrans"));
    ProgramSocket mirabo(vt::wire::SocketPath("MiraboTrans"));
    StartHost();
    ToHost(kHello);
    ASSERT_TRUE(vantor.Accept(3000));
    ASSERT_TRUE(mirabo.Accept(3000));
    ASSERT_TRUE(vantor.ReadFrame(2000));
    ASSERT_TRUE(mirabo.ReadFrame(2000));

    const QJsonObject bad_null{{"id", QJsonValue::Null}, {"ok", false}, {"reason", "bad-request"}};
    vantor.SendRaw(vt::wire::Frame("{\"id\":1,\"type\":"));  // cut off
    EXPECT_EQ(vantor.Read(2000), bad_null);
    vantor.SendRaw(vt::wire::Frame("[1,2]"));
    EXPECT_EQ(vantor.Read(2000), bad_null);
    vantor.SendRaw(vt::wire::Frame({}));
    EXPECT_EQ(vantor.Read(2000), bad_null);
    vantor.Send({{"id", 4}, {"tab", 1}});  // no type
    EXPECT_EQ(vantor.Read(2000), (QJsonObject{{"id", 4}, {"ok", false}, {"reason", "bad-request"}}));
    // Within the frame limit, but above the browser's once "app" is added:
    // refused here rather than losing the whole native port.
    const QByteArray text(vt::wire::kMaxToBrowser - 40, 'x');
    vantor.Send({{"id", 5}, {"type", "deliver"}, {"text", QString::fromLatin1(text)}});
    EXPECT_EQ(vantor.Read(3000), (QJsonObject{{"id", 5}, {"ok", false}, {"reason", "bad-request"}}));
    EXPECT_FALSE(FromHost(300)) << "nothing of the bad requests may reach the browser";

    // The browser's side: bad JSON is answered, the host goes on.
    ToHost("{nonsense");
    EXPECT_EQ(FromHost(), bad_null);

    // A length above the browser's limit from a program: that connection
    // ends, the other brand is still relayed.
    const quint32 too_long = vt::wire::kMaxToBrowser + 1;
    vantor.SendRaw(QByteArray(reinterpret_cast<const char*>(&too_long), 4));
    EXPECT_TRUE(vantor.WaitClosedByPeer(2000));
    mirabo.Send({{"id", 9}, {"type", "tabs"}});
    const auto req = FromHost();
    ASSERT_TRUE(req);
    EXPECT_EQ(req->value("app").toString(), "MiraboTrans");

    // Above what a browser ever sends: the host cannot trust stdin and ends.
    const quint32 huge = vt::wire::kMaxFromBrowser + 1;
    host_.write(QByteArray(reinterpret_cast<const char*>(&huge), 4));
    EXPECT_TRUE(HostExits(3000));
    EXPECT_TRUE(mirabo.WaitClosedByPeer(1000));
}

// Another user's socket in the folder is never used: neither a file that
// user owns nor a file of ours behind which that user listens.
TEST_F(NativeHost, SocketsOfAnotherUserAreRefused) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to run a listener as nobody";
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    // nobody cannot run a python3 from root's own tool folders.
    const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin", "/bin"});
    if (setpriv.isEmpty() || python.isEmpty()) GTEST_SKIP() << "setpriv or python3 is missing";

    // nobody listens in a folder of its own; the socket is then moved into
    // our socket folder (a rename keeps the listener bound to it). It reports
    // how many bytes the host sent it.
    QTemporaryDir nobody_dir;
    ASSERT_TRUE(nobody_dir.isValid());
    ::chown(QFile::encodeName(nobody_dir.path()).constData(), 65534, 65534);
    const QString theirs = nobody_dir.filePath("l.sock");
    const QString script = QStringLiteral(
        "import socket,sys\n"
        "s=socket.socket(socket.AF_UNIX)\n"
        "s.bind(sys.argv[1]); s.listen(2)\n"
        "print('ready',flush=True)\n"
        "s.settimeout(6)\n"
        "try:\n"
        "  c,_=s.accept(); c.settimeout(3); n=0\n"
        "  while True:\n"
        "    try: b=c.recv(65536)\n"
        "    except socket.timeout: break\n"
        "    if not b: break\n"
        "    n+=len(b)\n"
        "  print('got',n,flush=True)\n"
        "except Exception as e:\n"
        "  print('none',flush=True)\n");
    QProcess listener;
    listener.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", python, "-c", script, theirs});
    ASSERT_TRUE(listener.waitForReadyRead(5000)) << listener.readAllStandardError().constData();
    ASSERT_EQ(listener.readLine().trimmed(), "ready");
    const QString ours = vt::wire::SocketPath("VantorTrans");
    ASSERT_EQ(::rename(QFile::encodeName(theirs).constData(), QFile::encodeName(ours).constData()), 0);
    ::chown(QFile::encodeName(ours).constData(), 0, 0);

    // And a socket file that belongs to nobody, with our own listener behind
    // it: not even connected to.
    ProgramSocket mirabo(vt::wire::SocketPath("MiraboTrans"));
    ::chown(QFile::encodeName(vt::wire::SocketPath("MiraboTrans")).constData(), 65534, 65534);

    StartHost();
    ToHost(kHello);
    EXPECT_FALSE(mirabo.Accept(2500)) << "connected to a socket file of another user";
    ASSERT_TRUE(listener.state() == QProcess::NotRunning || listener.waitForFinished(8000));
    EXPECT_EQ(listener.readAll().trimmed(), "got 0") << "the host greeted another user's listener";
    host_.closeWriteChannel();
    ASSERT_TRUE(HostExits(3000));
    EXPECT_TRUE(host_.readAllStandardError().contains("another user"));
}

// The manifests name the host's own path and the ids the extension really
// has: the Chromium id is derived from the manifest's public key.
TEST_F(NativeHost, PrintedManifestsNameThisHostAndTheExtension) {
    const QJsonObject ext = Json(vt::test::read_file(VT_SOURCE_DIR "/browser/extension/manifest.json"));
    const QByteArray key = QByteArray::fromBase64(ext.value("key").toString().toLatin1());
    ASSERT_FALSE(key.isEmpty());
    QByteArray id = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32);
    for (char& c : id) c = char('a' + QByteArray(1, c).toInt(nullptr, 16));
    const QString gecko_id =
        ext.value("browser_specific_settings").toObject().value("gecko").toObject().value("id").toString();
    ASSERT_FALSE(gecko_id.isEmpty());

    auto print = [](const QString& browser, int* code) {
        QProcess p;
        p.start(kHost, {"--print-manifest", browser});
        p.waitForFinished(5000);
        *code = p.exitCode();
        return Json(p.readAllStandardOutput());
    };
    const QString path = QFileInfo(kHost).canonicalFilePath();
    int code = -1;
    const QJsonObject chromium = print("chromium", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(chromium.value("name").toString(), "de.vantortrans.host");
    EXPECT_EQ(chromium.value("type").toString(), "stdio");
    EXPECT_EQ(chromium.value("path").toString(), path);
    EXPECT_EQ(chromium.value("allowed_origins").toArray(),
              QJsonArray{QStringLiteral("chrome-extension://%1/").arg(QString::fromLatin1(id))});
    EXPECT_FALSE(chromium.contains("allowed_extensions"));

    const QJsonObject firefox = print("firefox", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(firefox.value("name").toString(), "de.vantortrans.host");
    EXPECT_EQ(firefox.value("path").toString(), path);
    EXPECT_EQ(firefox.value("allowed_extensions").toArray(), QJsonArray{gecko_id});
    EXPECT_FALSE(firefox.contains("allowed_origins"));

    EXPECT_TRUE(print("opera", &code).isEmpty());
    EXPECT_EQ(code, 2);
}

}  // namespace
