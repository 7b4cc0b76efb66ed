// The program's end of the browser channel on Windows, on a real named pipe:
// its name and who may open it, the one program that may hold a name, the
// hello, requests with their answers or their lack, and the client of
// another user, played through the server's user check since Wine runs
// every process as one user. The host is played by the test itself, on the
// same thread, pumping the event queue while it waits.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <memory>
#include <optional>

#include "browser/wire/pipe_win32.h"
#include "browser/wire/wire.h"
#include "delivery/extension_server.h"

namespace vt {
namespace {

// ctest runs several of these processes in one Wine prefix at once.
QString Unique(const char* name) {
    return QStringLiteral("%1-%2").arg(QLatin1String(name)).arg(GetCurrentProcessId());
}

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        Sleep(2);
    }
}

template <typename F>
bool PumpUntil(F done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        Sleep(2);
    }
    return true;
}

// The host's end of one connection.
class Client {
  public:
    // Tries for a while, as the host does at each scan: the server makes
    // the next instance once it has taken the one before.
    explicit Client(const QString& program) {
        PumpUntil([&] { return (handle_ = wire::OpenPipe(wire::PipeName(program))) != nullptr; }, 2000);
        if (handle_) {
            pipe_ = std::make_unique<wire::PipeEnd>(handle_);
            pipe_->StartRead();
        }
    }
    bool open() const { return pipe_ != nullptr; }
    void* handle() const { return handle_; }
    void Close() { pipe_.reset(); }
    bool Send(const QJsonObject& o) {
        return pipe_->WriteAll(wire::Frame(QJsonDocument(o).toJson(QJsonDocument::Compact)), 2000) ==
               wire::PipeEnd::Write::kDone;
    }
    bool Hello(const char* browser) {
        return Send({{"type", "hello"}, {"browser", browser}, {"version", "1"}});
    }
    // The next frame within `ms`, the server's side pumped meanwhile.
    std::optional<QJsonObject> Read(int ms) {
        std::optional<QJsonObject> got;
        PumpUntil([&] { return (got = Next()).has_value() || closed_; }, ms);
        return got;
    }
    // Whether the server closed the pipe within `ms`.
    bool ClosedByServer(int ms) {
        PumpUntil(
            [&] {
                Next();
                return closed_;
            },
            ms);
        return closed_;
    }

  private:
    std::optional<QJsonObject> Next() {
        QByteArray json;
        if (frames_.Next(&json) == wire::FrameReader::Result::kFrame)
            return QJsonDocument::fromJson(json).object();
        QByteArray data;
        const wire::PipeEnd::State state = pipe_->TakeRead(&data);
        if (state == wire::PipeEnd::State::kFailed)
            closed_ = true;
        frames_.Feed(data.constData(), data.size());
        if (frames_.Next(&json) == wire::FrameReader::Result::kFrame)
            return QJsonDocument::fromJson(json).object();
        return std::nullopt;
    }

    void* handle_ = nullptr;
    std::unique_ptr<wire::PipeEnd> pipe_;
    wire::FrameReader frames_{wire::kMaxFromBrowser};
    bool closed_ = false;
};

TEST(WindowsExtensionPipe, TheNameIsTheUsersAndOneProgramHoldsIt) {
    const QString sid = wire::CurrentUserSid();
    ASSERT_TRUE(sid.startsWith("S-1-")) << sid;
    EXPECT_EQ(wire::PipeName("VantorTrans"), "\\\\.\\pipe\\vantortrans-" + sid + "-VantorTrans");

    const QString name = Unique("PipeHeld");
    ExtensionServer first(name);
    QString error;
    ASSERT_TRUE(first.listen(&error)) << error;
    EXPECT_EQ(first.path(), wire::PipeName(name));
    ExtensionServer second(name);
    EXPECT_FALSE(second.listen(&error));
    EXPECT_TRUE(error.contains(wire::PipeName(name))) << error;
    EXPECT_FALSE(second.listening());
    ExtensionServer other_brand(Unique("PipeOther"));
    EXPECT_TRUE(other_brand.listen());

    // Only this user may open it, or add an instance to it.
    Client client(name);
    ASSERT_TRUE(client.open());
    HANDLE probe = INVALID_HANDLE_VALUE;
    PumpUntil(
        [&] {
            probe = CreateFileW(reinterpret_cast<const wchar_t*>(wire::PipeName(name).utf16()),
                                READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            return probe != INVALID_HANDLE_VALUE;
        },
        2000);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE) << GetLastError();
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetSecurityInfo(probe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &sd),
              DWORD(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    EXPECT_EQ(dacl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, &ace));
    EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
    wchar_t* ace_sid = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &ace_sid));
    EXPECT_EQ(QString::fromWCharArray(ace_sid), sid);
    LocalFree(ace_sid);
    LocalFree(sd);
    CloseHandle(probe);

    // Once the first program is gone, the name is free again.
    first.close();
    EXPECT_FALSE(first.listening());
    EXPECT_TRUE(second.listen(&error)) << error;
}

TEST(WindowsExtensionPipe, RequestsAreAnsweredTimedOutOrEndedWithTheConnection) {
    const QString name = Unique("PipeAsk");
    ExtensionServer server(name);
    ASSERT_TRUE(server.listen());
    Client host(name);
    ASSERT_TRUE(host.open());
    EXPECT_TRUE(wire::PipeServerIsSameUser(host.handle()));
    ASSERT_TRUE(host.Hello("chromium"));
    ASSERT_TRUE(PumpUntil([&] { return !server.connections().empty(); }, 3000));
    ASSERT_EQ(server.connections().size(), 1u);
    EXPECT_EQ(server.connections()[0].browser, "chromium");
    EXPECT_EQ(server.refused(), 0);
    const int id = server.connections()[0].id;

    // Posted, answered while the program goes on, then taken.
    ExtensionServer::Reply failed = ExtensionServer::Reply::kClosed;
    const qint64 rid = server.post(id, {{"type", "tabs"}}, 3000, &failed);
    ASSERT_NE(rid, 0);
    QElapsedTimer sent;
    sent.start();
    const auto request = host.Read(2000);
    ASSERT_TRUE(request);
    EXPECT_EQ(*request, (QJsonObject{{"type", "tabs"}, {"id", double(rid)}}));
    EXPECT_FALSE(server.answer_ready(id, rid));
    ASSERT_TRUE(host.Send({{"id", double(rid)}, {"ok", true}, {"tabs", 0}}));
    ASSERT_TRUE(PumpUntil([&] { return server.answer_ready(id, rid); }, 2000));
    QJsonObject answer;
    EXPECT_EQ(server.await_answer(id, rid, sent, 3000, &answer), ExtensionServer::Reply::kAnswer);
    EXPECT_TRUE(answer.value("ok").toBool());

    // No answer: the wait ends at its bound.
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(server.request(id, {{"type", "tabs"}}, 300, &answer), ExtensionServer::Reply::kTimeout);
    EXPECT_GE(t.elapsed(), 290);
    EXPECT_LT(t.elapsed(), 2000);
    ASSERT_TRUE(host.Read(1000));

    // An answer that came just before the host went is still the answer.
    const qint64 last = server.post(id, {{"type", "deliver"}}, 3000, &failed);
    ASSERT_NE(last, 0);
    sent.restart();
    ASSERT_TRUE(host.Read(2000));
    ASSERT_TRUE(host.Send({{"id", double(last)}, {"ok", true}, {"seq", 1}}));
    host.Close();
    ASSERT_TRUE(PumpUntil([&] { return server.answer_ready(id, last); }, 2000));
    EXPECT_EQ(server.await_answer(id, last, sent, 3000, &answer), ExtensionServer::Reply::kAnswer);
    EXPECT_EQ(answer.value("seq").toInt(), 1);
    EXPECT_TRUE(server.connections().empty());
    EXPECT_EQ(server.request(id, {{"type", "tabs"}}, 300, &answer), ExtensionServer::Reply::kClosed);

    // Served again, by the newest host of a browser.
    Client older(name), newer(name);
    ASSERT_TRUE(older.open() && newer.open());
    ASSERT_TRUE(older.Hello("firefox"));
    ASSERT_TRUE(PumpUntil([&] { return server.connections().size() == 1; }, 3000));
    ASSERT_TRUE(newer.Hello("firefox"));
    const int first_id = server.connections()[0].id;
    ASSERT_TRUE(PumpUntil([&] { return server.connections()[0].id != first_id; }, 3000));
    EXPECT_EQ(server.connections().size(), 1u);

    server.close();
    EXPECT_TRUE(older.ClosedByServer(2000));
    EXPECT_TRUE(newer.ClosedByServer(2000));
}

bool AnotherUser(void*) { return false; }

TEST(WindowsExtensionPipe, AClientOfAnotherUserIsClosedUnread) {
    const QString name = Unique("PipeRefuse");
    ExtensionServer server(name);
    ASSERT_TRUE(server.listen());
    wire::ClientIsSameUser = AnotherUser;
    Client stranger(name);
    ASSERT_TRUE(stranger.open());
    // Sent before the check can run; it must not count.
    stranger.Hello("chromium");
    EXPECT_TRUE(stranger.ClosedByServer(3000));
    wire::ClientIsSameUser = wire::PipeClientIsSameUser;
    Pump(200);
    EXPECT_TRUE(server.connections().empty());
    EXPECT_EQ(server.refused(), 1);

    // The server listens on, and its own user's host is taken.
    EXPECT_TRUE(server.listening());
    Client host(name);
    ASSERT_TRUE(host.open());
    ASSERT_TRUE(host.Hello("chromium"));
    EXPECT_TRUE(PumpUntil([&] { return server.connections().size() == 1; }, 3000));
    EXPECT_EQ(server.refused(), 1);
}

}  // namespace
}  // namespace vt
