#pragma once
// The program's end of the browser channel, played by a test: listens on a
// socket in the socket folder the way a running brand does, accepts the
// native host and exchanges framed JSON with it. Waits pump the Qt event
// queue, so a page's reports to the test keep arriving meanwhile.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>
#include <optional>

#include "browser/wire/wire.h"

namespace vt::test {

class ProgramSocket {
  public:
    // Listens on `path` (a stale file there is replaced).
    explicit ProgramSocket(const QString& path) : path_(path) {
        const QByteArray native = QFile::encodeName(path);
        ::unlink(native.constData());
        listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, native.constData(),
                    std::min<size_t>(native.size(), sizeof addr.sun_path - 1));
        if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listen_fd_, 4) != 0) {
            ::close(listen_fd_);
            listen_fd_ = -1;
        }
    }
    ~ProgramSocket() {
        CloseConnection();
        if (listen_fd_ >= 0) {
            ::close(listen_fd_);
            ::unlink(QFile::encodeName(path_).constData());
        }
    }
    ProgramSocket(const ProgramSocket&) = delete;
    ProgramSocket& operator=(const ProgramSocket&) = delete;

    bool listening() const { return listen_fd_ >= 0; }
    bool connected() const { return conn_fd_ >= 0; }

    // Waits for the host to connect; true once it has.
    bool Accept(int timeout_ms) {
        if (!WaitReadable(listen_fd_, timeout_ms)) return false;
        CloseConnection();
        conn_fd_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        reader_ = wire::FrameReader(wire::kMaxFromBrowser);
        return conn_fd_ >= 0;
    }

    void SendRaw(const QByteArray& bytes) {
        qsizetype done = 0;
        while (conn_fd_ >= 0 && done < bytes.size()) {
            const ssize_t n = ::send(conn_fd_, bytes.constData() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += n;
        }
    }
    void Send(const QJsonObject& o) { SendRaw(wire::Frame(QJsonDocument(o).toJson(QJsonDocument::Compact))); }

    // The next frame, or nothing on time-out or when the host closed.
    std::optional<QByteArray> ReadFrame(int timeout_ms) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            QByteArray json;
            const auto r = reader_.Next(&json);
            if (r == wire::FrameReader::Result::kFrame) return json;
            if (r == wire::FrameReader::Result::kTooLarge || conn_fd_ < 0) return std::nullopt;
            const int left = timeout_ms - int(t.elapsed());
            if (left <= 0 || !WaitReadable(conn_fd_, left)) return std::nullopt;
            char buf[65536];
            const ssize_t n = ::recv(conn_fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                peer_closed_ = true;
                CloseConnection();
                return std::nullopt;
            }
            reader_.Feed(buf, n);
        }
    }
    std::optional<QJsonObject> Read(int timeout_ms) {
        const auto f = ReadFrame(timeout_ms);
        if (!f) return std::nullopt;
        return QJsonDocument::fromJson(*f).object();
    }
    // Sends a request with the next id and waits for the answer that carries it.
    std::optional<QJsonObject> Ask(QJsonObject request, int timeout_ms = 5000) {
        const int id = ++last_id_;
        request.insert("id", id);
        Send(request);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeout_ms) {
            const auto a = Read(timeout_ms - int(t.elapsed()));
            if (!a) return std::nullopt;
            if (a->value("id").toInt(-1) == id) return a;
        }
        return std::nullopt;
    }
    // True when the host closed the connection within `timeout_ms`.
    bool WaitClosedByPeer(int timeout_ms) {
        QElapsedTimer t;
        t.start();
        while (!peer_closed_ && conn_fd_ >= 0 && t.elapsed() < timeout_ms) {
            ReadFrame(timeout_ms - int(t.elapsed()));
        }
        return peer_closed_;
    }
    void CloseConnection() {
        if (conn_fd_ >= 0) ::close(conn_fd_);
        conn_fd_ = -1;
    }

  private:
    static bool WaitReadable(int fd, int timeout_ms) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) return true;
            QCoreApplication::processEvents();
            if (t.elapsed() >= timeout_ms) return false;
        }
    }

    QString path_;
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    int last_id_ = 0;
    bool peer_closed_ = false;
    wire::FrameReader reader_{wire::kMaxFromBrowser};
};

}  // namespace vt::test
