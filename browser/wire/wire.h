#pragma once
// The framing both hops of the browser channel share: the browser's native
// messaging (extension <-> host, over the host's stdin/stdout) and the local
// socket between the host and a running program. A message is one UTF-8 JSON
// object after its length as a 4-byte unsigned integer in native byte order
// (little-endian on every target we build for).

#include <QByteArray>
#include <QString>

namespace vt::wire {

// Browsers refuse a message from the host above 1 MiB; Chromium sends at most
// 64 MiB to it.
constexpr quint32 kMaxToBrowser = 1024 * 1024;
constexpr quint32 kMaxFromBrowser = 64u * 1024 * 1024;

// The length followed by the bytes.
QByteArray Frame(const QByteArray& json);

// Cuts frames out of a byte stream that arrives in pieces of any size.
class FrameReader {
  public:
    explicit FrameReader(quint32 max_len);
    void Feed(const char* data, qsizetype n);
    enum class Result { kNeedMore, kFrame, kTooLarge };
    // kTooLarge: the stream cannot be resynchronised, so close it. A frame of
    // length zero is returned as an empty frame (it is no JSON object, so the
    // reader's user answers it as a bad request).
    Result Next(QByteArray* json);
    // Bytes fed and not yet returned as frames.
    qsizetype Buffered() const { return buffer_.size() - pos_; }

  private:
    quint32 max_len_;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool too_large_ = false;
};

// $XDG_RUNTIME_DIR/vantortrans; /tmp/vantortrans-<uid> when XDG_RUNTIME_DIR
// is unset or empty.
QString SocketDir();
// True when SocketDir() is the /tmp folder, not the session's own.
bool SocketDirIsFallback();
// SocketDir()/<program>.sock.
QString SocketPath(const QString& program);

// Creates SocketDir() with mode 0700 when it is missing. False (with the
// reason in `error` when given) when the folder is not a directory owned by
// this user or grants group or others any access: another user could then
// replace the sockets in it.
bool EnsureSocketDir(QString* error = nullptr);

// True when the process at the other end of the connected Unix domain socket
// `fd` runs as this process's user (SO_PEERCRED).
bool PeerIsSameUser(int fd);

}  // namespace vt::wire
