#pragma once
// A stand-in for the browser's native host on a thread of its own: it
// connects to a program's socket, says hello for a browser, and answers each
// request the program sends through a function of the test (an empty answer:
// none at all). Header only, for the unit tests and the end-to-end tests.

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "browser/wire/wire.h"

namespace vt::test {

inline QByteArray Json(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

class FakeHost {
  public:
    using Answer = std::function<QJsonObject(const QJsonObject&)>;

    FakeHost(const QString& path, const QString& browser, Answer answer)
        : answer_(std::move(answer)) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (!connected_)
            return;
        QJsonObject hello{{"type", "hello"}, {"browser", browser}, {"version", "1"}};
        send(wire::Frame(Json(hello)));
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeHost() { close(); }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    void close() {
        if (fd_ >= 0)
            ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void send(const QByteArray& bytes) {
        std::lock_guard lock(write_);
        qsizetype at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.constData() + at, size_t(bytes.size() - at),
                                     MSG_NOSIGNAL);
            if (n <= 0)
                return;
            at += n;
        }
    }
    bool connected() const { return connected_; }
    std::vector<QJsonObject> requests() {
        std::lock_guard lock(seen_);
        return requests_;
    }

  private:
    void serve() {
        wire::FrameReader reader(wire::kMaxToBrowser);
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return;
            reader.Feed(buffer, n);
            QByteArray json;
            while (reader.Next(&json) == wire::FrameReader::Result::kFrame) {
                const QJsonObject request = QJsonDocument::fromJson(json).object();
                {
                    std::lock_guard lock(seen_);
                    requests_.push_back(request);
                }
                QJsonObject a = answer_(request);
                if (a.isEmpty())
                    continue;
                a.insert("id", request.value("id"));
                send(wire::Frame(Json(a)));
            }
        }
    }

    Answer answer_;
    int fd_ = -1;
    bool connected_ = false;
    std::thread thread_;
    std::mutex write_;
    std::mutex seen_;
    std::vector<QJsonObject> requests_;
};

}  // namespace vt::test
