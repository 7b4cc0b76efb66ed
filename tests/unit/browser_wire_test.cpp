#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "browser/wire/wire.h"

using vt::wire::Frame;
using vt::wire::FrameReader;
using Result = FrameReader::Result;

namespace {

TEST(BrowserWire, FrameIsLittleEndianLengthThenBytes) {
    const QByteArray f = Frame(QByteArray(300, 'x'));
    ASSERT_EQ(f.size(), 304);
    EXPECT_EQ(static_cast<unsigned char>(f[0]), 300 & 0xff);
    EXPECT_EQ(static_cast<unsigned char>(f[1]), 300 >> 8);
    EXPECT_EQ(f[2], 0);
    EXPECT_EQ(f[3], 0);
    EXPECT_EQ(f.mid(4), QByteArray(300, 'x'));
}

TEST(BrowserWire, ReaderJoinsPiecesAndSplitsRuns) {
    const QByteArray a = R"({"type":"hello"})";
    const QByteArray b = R"({"id":1,"ok":true})";
    const QByteArray stream = Frame(a) + Frame(b) + Frame(a);
    // Every split point, fed one byte at a time and in two halves.
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        FrameReader r(1024);
        QList<QByteArray> got;
        QByteArray json;
        r.Feed(stream.constData(), cut);
        while (r.Next(&json) == Result::kFrame) got << json;
        r.Feed(stream.constData() + cut, stream.size() - cut);
        while (r.Next(&json) == Result::kFrame) got << json;
        EXPECT_EQ(got, (QList<QByteArray>{a, b, a})) << "cut at " << cut;
        EXPECT_EQ(r.Buffered(), 0);
    }
    FrameReader r(1024);
    QList<QByteArray> got;
    QByteArray json;
    for (char c : stream) {
        r.Feed(&c, 1);
        while (r.Next(&json) == Result::kFrame) {
            got << json;
        }
    }
    EXPECT_EQ(got, (QList<QByteArray>{a, b, a}));
    EXPECT_EQ(r.Next(&json), Result::kNeedMore);
}

TEST(BrowserWire, LengthLimitAndEmptyFrames) {
    QByteArray json;
    FrameReader exact(4);
    const QByteArray four = Frame("abcd");
    exact.Feed(four.constData(), four.size());
    EXPECT_EQ(exact.Next(&json), Result::kFrame);
    EXPECT_EQ(json, "abcd");

    // The header alone tells the frame is too large; the stream stays
    // unusable even when a valid frame follows.
    FrameReader small(4);
    const QByteArray five = Frame("abcde");
    small.Feed(five.constData(), 4);
    EXPECT_EQ(small.Next(&json), Result::kTooLarge);
    small.Feed(four.constData(), four.size());
    EXPECT_EQ(small.Next(&json), Result::kTooLarge);

    // A header announcing 4 GiB must not make the reader wait for it.
    FrameReader big(vt::wire::kMaxFromBrowser);
    const char huge[4] = {'\xff', '\xff', '\xff', '\xff'};
    big.Feed(huge, 4);
    EXPECT_EQ(big.Next(&json), Result::kTooLarge);

    FrameReader zero(16);
    const QByteArray z = Frame({}) + Frame("{}");
    zero.Feed(z.constData(), z.size());
    json = "stale";
    EXPECT_EQ(zero.Next(&json), Result::kFrame);
    EXPECT_TRUE(json.isEmpty());
    EXPECT_EQ(zero.Next(&json), Result::kFrame);
    EXPECT_EQ(json, "{}");
}

TEST(BrowserWire, SocketDirFollowsRuntimeDirAndMustBePrivate) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    EXPECT_EQ(vt::wire::SocketDir(), runtime.path() + "/vantortrans");
    EXPECT_EQ(vt::wire::SocketPath("MiraboTrans"), runtime.path() + "/vantortrans/MiraboTrans.sock");

    QString error;
    ASSERT_TRUE(vt::wire::EnsureSocketDir(&error)) << error.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(vt::wire::SocketDir()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(vt::wire::EnsureSocketDir());  // an existing private folder is fine
    ::chmod(QFile::encodeName(vt::wire::SocketDir()).constData(), 0750);
    EXPECT_FALSE(vt::wire::EnsureSocketDir(&error));
    EXPECT_TRUE(error.contains("other users")) << error.toStdString();

    // Another user's folder is refused however private it is.
    if (::getuid() == 0) {
        ::chmod(QFile::encodeName(vt::wire::SocketDir()).constData(), 0700);
        ASSERT_EQ(::chown(QFile::encodeName(vt::wire::SocketDir()).constData(), 65534, 65534), 0);
        EXPECT_FALSE(vt::wire::EnsureSocketDir(&error));
        EXPECT_TRUE(error.contains("another user")) << error.toStdString();
    }
    EXPECT_FALSE(vt::wire::SocketDirIsFallback());

    // Without a runtime folder both ends meet in the user's own folder in /tmp.
    qunsetenv("XDG_RUNTIME_DIR");
    const QString fallback = QString("/tmp/vantortrans-%1").arg(::getuid());
    EXPECT_TRUE(vt::wire::SocketDirIsFallback());
    EXPECT_EQ(vt::wire::SocketPath("VantorTrans"), fallback + "/VantorTrans.sock");
    const bool existed = QFileInfo::exists(fallback);
    ASSERT_TRUE(vt::wire::EnsureSocketDir(&error)) << error.toStdString();
    ASSERT_EQ(::stat(QFile::encodeName(fallback).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    if (!existed) ::rmdir(QFile::encodeName(fallback).constData());
    if (!old.isNull()) qputenv("XDG_RUNTIME_DIR", old);
}

TEST(BrowserWire, PeerOfSocketPairIsSameUser) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    EXPECT_TRUE(vt::wire::PeerIsSameUser(fds[0]));
    ::close(fds[0]);
    ::close(fds[1]);
    // Not a socket: no credentials, so no trust.
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    EXPECT_FALSE(vt::wire::PeerIsSameUser(pipe_fds[0]));
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
}

}  // namespace
