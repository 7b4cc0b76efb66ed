// The Windows build's native messaging host on its own under Wine, started
// as a browser starts it, with pipes for stdin/stdout: the frames through
// both, relayed to the program's real server in a small Windows program of
// its own (tests/tools/channel_program.cpp) and back, the end at a frame no
// browser sends, the manifests it prints, and its registration for the
// current user. Each test has a Wine prefix of its own.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <optional>

#include "browser/host/host_ids.h"
#include "browser/wire/wire.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/qt_print.h"
#include "tests/support/temp_files.h"
#include "tests/support/wine.h"

namespace vt::test {
namespace {

static const bool kDesktop = EnsureTestDesktop();

const QString kFolder = QStringLiteral(VT_SOURCE_DIR "/dist/windows/VantorTrans");
const QString kHost = kFolder + QStringLiteral("/vantortrans-host.exe");
const QString kChannelProgram = QStringLiteral(VT_WINDOWS_BUILD "/bin/channel_program.exe");

QJsonObject Json(const QByteArray& b) { return QJsonDocument::fromJson(b).object(); }
QByteArray Compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

// A Windows path of the prefix's C: drive as a Unix path.
QString UnixPath(const WinePrefix& prefix, QString windows) {
    if (!windows.startsWith(QStringLiteral("C:\\"), Qt::CaseInsensitive))
        return {};
    return prefix.drive_c() + u'/' + windows.mid(3).replace(u'\\', u'/');
}

class WineHost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDesktop);
        ASSERT_TRUE(QFileInfo::exists(kHost)) << kHost << " (scripts/build-windows)";
        QString why;
        ASSERT_TRUE(prefix_.init(&why)) << why;
        // Wine's services start with the prefix's first program and keep
        // its output open: not one of the processes whose output is read.
        ASSERT_TRUE(prefix_.run({QStringLiteral("wineboot")}, 120000));
    }
    void TearDown() override {
        for (QProcess* p : {&host_, &program_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        prefix_.kill_server();
    }

    void Start(QProcess& p, const QString& exe, const QStringList& args) {
        QProcessEnvironment env = prefix_.environment(DesktopEnvironment());
        // The test program finds the Qt and compiler DLLs in the brand's folder.
        env.insert(QStringLiteral("WINEPATH"), WindowsPath(kFolder));
        p.setProcessEnvironment(env);
        p.start(QString::fromLatin1(kWine), QStringList{exe} + args);
        ASSERT_TRUE(p.waitForStarted(10000));
    }
    // Each wait below is on one process only: what goes to the other is
    // written out first.
    void ToHost(const QByteArray& bytes) {
        host_.write(bytes);
        host_.waitForBytesWritten(5000);
    }
    void ToProgram(const QByteArray& line) {
        program_.write(line + '\n');
        program_.waitForBytesWritten(5000);
    }
    // The next line the channel program prints, without its line end.
    QByteArray ProgramLine(int timeout_ms = 30000) {
        QElapsedTimer t;
        t.start();
        while (!program_.canReadLine()) {
            const int left = timeout_ms - int(t.elapsed());
            if (left <= 0 || !program_.waitForReadyRead(left))
                return {};
        }
        return program_.readLine().trimmed();
    }
    // The next frame the host sends to the browser.
    std::optional<QJsonObject> FromHost(int timeout_ms = 10000) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            QByteArray json;
            if (frames_.Next(&json) == wire::FrameReader::Result::kFrame)
                return Json(json);
            const int left = timeout_ms - int(t.elapsed());
            if (left <= 0 || !host_.waitForReadyRead(left))
                return std::nullopt;
            const QByteArray b = host_.readAllStandardOutput();
            frames_.Feed(b.constData(), b.size());
        }
    }
    std::optional<QJsonObject> Manifest(const QString& browser, int* code) {
        QByteArray out;
        const std::optional<int> exit = prefix_.exit_code({kHost, "--print-manifest", browser}, 60000, &out);
        *code = exit.value_or(-1);
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return std::nullopt;
        return doc.object();
    }
    // The default value of a key of HKCU, as reg query shows it.
    std::optional<QString> Registered(const QString& key) {
        const std::optional<QByteArray> out = prefix_.run({"reg", "query", "HKCU\\" + key, "/ve"});
        if (!out)
            return std::nullopt;
        const QString text = QString::fromLocal8Bit(*out);
        const qsizetype at = text.indexOf(QStringLiteral("REG_SZ"));
        if (at < 0)
            return QString();
        return text.mid(at + 6).trimmed();
    }

    WinePrefix prefix_;
    QProcess host_, program_;
    wire::FrameReader frames_{wire::kMaxToBrowser};
};

TEST_F(WineHost, FramesGoThroughStdioUnchangedToTheProgramAndBack) {
    ASSERT_TRUE(QFileInfo::exists(kChannelProgram)) << kChannelProgram;
    Start(program_, kChannelProgram, {"VantorTrans"});
    ASSERT_EQ(ProgramLine(), "listening") << program_.readAllStandardError().constData();

    // The arguments Chrome passes; the host must not mind them.
    Start(host_, kHost, {QStringLiteral("chrome-extension://%1/").arg(host::kChromiumExtensionId)});
    // CR LF between the tokens, and a length whose bytes are CR and LF:
    // stdin in text mode would lose a byte of either.
    QByteArray hello = "{\"type\":\"hello\",\r\n\"browser\":\"chromium\",\"version\":\"";
    hello += QByteArray(0x0A0D - hello.size() - 2, '1') + "\"}";
    ASSERT_EQ(hello.size(), 0x0A0D);
    ASSERT_EQ(vt::wire::Frame(hello).left(2), QByteArray("\r\n"));
    ToHost(vt::wire::Frame(hello));
    ASSERT_EQ(ProgramLine(), "hello chromium") << "the host's hello did not arrive unchanged";

    // A request whose frame to the browser has LF in its length: stdout in
    // text mode would add a CR.
    QJsonObject request{{"type", "deliver"}, {"tab", 7}, {"text", "a\tb\r\n"}};
    QJsonObject expected = request;
    expected.insert("id", 1);
    expected.insert("app", "VantorTrans");
    QString text = QStringLiteral("a\tb\r\n");
    while ((Compact(expected).size() & 0xFF) != 0x0A) {
        text += u'x';
        expected.insert("text", text);
    }
    request.insert("text", text);
    ToProgram(Compact(request));
    const auto relayed = FromHost();
    ASSERT_TRUE(relayed) << "nothing, or no frame, on the host's stdout";
    EXPECT_EQ(*relayed, expected);

    ToHost(vt::wire::Frame(R"({"id":1,"ok":false,"reason":"no-tab","app":"MiraboTrans"})"));
    ToHost(vt::wire::Frame(R"({"id":1,"ok":true,"seq":3,"app":"VantorTrans"})"));
    EXPECT_EQ(Json(ProgramLine()), (QJsonObject{{"id", 1}, {"ok", true}, {"seq", 3}}));

    // Bad JSON from the browser is answered; the host goes on.
    ToHost(vt::wire::Frame("{nonsense"));
    EXPECT_EQ(FromHost(), (QJsonObject{{"id", QJsonValue::Null}, {"ok", false}, {"reason", "bad-request"}}));

    // Above what a browser ever sends: the host cannot trust stdin and ends,
    // and the program sees its connection go.
    const quint32 huge = vt::wire::kMaxFromBrowser + 1;
    ToHost(QByteArray(reinterpret_cast<const char*>(&huge), 4));
    ASSERT_TRUE(host_.waitForFinished(15000));
    EXPECT_EQ(host_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(host_.exitCode(), 0);
    ToProgram(R"({"type":"tabs"})");
    EXPECT_EQ(ProgramLine(), "closed");
}

TEST_F(WineHost, ItsManifestsNameItAndItRegistersThemForTheUserAlone) {
    const QString path = WindowsPath(kHost);
    const QJsonArray origins{QStringLiteral("chrome-extension://%1/").arg(host::kChromiumExtensionId)};
    for (const char* browser : {"chrome", "edge", "chromium", "firefox"}) {
        int code = -1;
        const std::optional<QJsonObject> m = Manifest(browser, &code);
        EXPECT_EQ(code, 0) << browser;
        ASSERT_TRUE(m) << browser << ": no JSON object";
        EXPECT_EQ(m->value("name").toString(), host::kHostName);
        EXPECT_EQ(m->value("type").toString(), "stdio");
        EXPECT_EQ(m->value("path").toString().toLower(), path.toLower()) << browser;
        if (QByteArray(browser) == "firefox") {
            EXPECT_EQ(m->value("allowed_extensions").toArray(), QJsonArray{host::kFirefoxExtensionId});
            EXPECT_FALSE(m->contains("allowed_origins"));
        } else {
            EXPECT_EQ(m->value("allowed_origins").toArray(), origins) << browser;
            EXPECT_FALSE(m->contains("allowed_extensions"));
        }
    }
    int code = -1;
    EXPECT_FALSE(Manifest("opera", &code));
    EXPECT_EQ(code, 2);

    const std::pair<const char*, QString> keys[] = {
        {"chrome", "Software\\Google\\Chrome\\NativeMessagingHosts\\de.vantortrans.host"},
        {"edge", "Software\\Microsoft\\Edge\\NativeMessagingHosts\\de.vantortrans.host"},
        {"chromium", "Software\\Chromium\\NativeMessagingHosts\\de.vantortrans.host"},
        {"firefox", "Software\\Mozilla\\NativeMessagingHosts\\de.vantortrans.host"},
    };
    for (const auto& [browser, key] : keys)
        EXPECT_FALSE(Registered(key)) << key << " before --register";

    ASSERT_EQ(prefix_.exit_code({kHost, "--register"}, 60000), 0);
    QStringList files;
    for (const auto& [browser, key] : keys) {
        const std::optional<QString> value = Registered(key);
        ASSERT_TRUE(value) << key;
        const QString file = UnixPath(prefix_, *value);
        ASSERT_FALSE(file.isEmpty()) << *value << ": not on the prefix's C: drive";
        EXPECT_TRUE(file.startsWith(prefix_.drive_c() + "/users/")) << "not the user's own: " << *value;
        const QJsonObject m = Json(read_file(file));
        EXPECT_EQ(m.value("path").toString().toLower(), path.toLower()) << file;
        EXPECT_EQ(m.contains("allowed_extensions"), QByteArray(browser) == "firefox") << file;
        files << file;
    }
    files.removeDuplicates();
    EXPECT_EQ(files.size(), 4) << "one manifest per browser";
    // For the current user only: nothing of it in the machine's hive.
    EXPECT_FALSE(prefix_.run({"reg", "query", "HKLM\\" + keys[0].second}));

    ASSERT_EQ(prefix_.exit_code({kHost, "--unregister"}, 60000), 0);
    for (const auto& [browser, key] : keys)
        EXPECT_FALSE(Registered(key)) << key << " after --unregister";
    for (const QString& file : files)
        EXPECT_FALSE(QFileInfo::exists(file)) << file;
    // Again, with nothing left to remove, is no failure.
    EXPECT_EQ(prefix_.exit_code({kHost, "--unregister"}, 60000), 0);
}

// What build-windows lays out beside each brand: the host with the
// manifests an installer registers (relative paths, valid wherever the
// folder lies), the extension as a folder and as the Firefox package.
TEST(WindowsFolder, EachBrandCarriesTheHostItsManifestsAndTheExtension) {
    const QByteArray extension = read_file(VT_SOURCE_DIR "/browser/extension/manifest.json");
    for (const char* program : {"VantorTrans", "MiraboTrans", "DoerfalTrans"}) {
        const QString folder = QStringLiteral(VT_SOURCE_DIR "/dist/windows/") + program;
        EXPECT_TRUE(QFileInfo::exists(folder + "/vantortrans-host.exe")) << folder;
        const QJsonObject chromium = Json(read_file(folder + "/de.vantortrans.host.chromium.json"));
        EXPECT_EQ(chromium.value("path").toString(), "vantortrans-host.exe") << folder;
        EXPECT_EQ(chromium.value("allowed_origins").toArray(),
                  QJsonArray{QStringLiteral("chrome-extension://%1/").arg(host::kChromiumExtensionId)});
        const QJsonObject firefox = Json(read_file(folder + "/de.vantortrans.host.firefox.json"));
        EXPECT_EQ(firefox.value("path").toString(), "vantortrans-host.exe") << folder;
        EXPECT_EQ(firefox.value("allowed_extensions").toArray(), QJsonArray{host::kFirefoxExtensionId});
        for (const char* file : {"manifest.json", "background.js", "content.js"})
            EXPECT_EQ(read_file(folder + "/extension/" + file),
                      read_file(QStringLiteral(VT_SOURCE_DIR "/browser/extension/") + file))
                << folder << ": " << file;
        // The package holds the same manifest at its top.
        QProcess unzip;
        unzip.start("unzip", {"-p", folder + "/browser@vantortrans.de.xpi", "manifest.json"});
        ASSERT_TRUE(unzip.waitForFinished(10000));
        EXPECT_EQ(unzip.readAllStandardOutput(), extension) << folder;
    }
}

}  // namespace
}  // namespace vt::test
