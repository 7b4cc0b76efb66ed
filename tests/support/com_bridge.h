#pragma once
// A Windows test's connection to tests/wine/com_bridge.py, the Linux process
// that runs it under Wine and gives it serial ports with their far end on
// Linux: a pseudo-terminal the test plays the device on, or a simulator.
// Plain Winsock, so the test may use it from any thread.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace vt::test {

class BridgeLink {
  public:
    // Connects to the bridge named in VT_COM_BRIDGE (HOST:PORT:TOKEN) and
    // sends `command`; throws when there is none.
    explicit BridgeLink(const QByteArray& command) {
        static const bool started = [] {
            WSADATA data;
            return WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        const QList<QByteArray> where = qgetenv("VT_COM_BRIDGE").split(':');
        if (!started || where.size() != 3)
            throw std::runtime_error("no serial port bridge: run this under tests/wine/com_bridge.py");
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(u_short(where[1].toUShort()));
        if (socket_ == INVALID_SOCKET ||
            inet_pton(AF_INET, where[0].constData(), &address.sin_addr) != 1 ||
            ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close();
            throw std::runtime_error("the serial port bridge does not answer");
        }
        // Small writes, such as a device's single byte, must go at once.
        const BOOL on = TRUE;
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
        if (send(where[2] + ' ' + command + '\n') != command.size() + where[2].size() + 2) {
            close();
            throw std::runtime_error("the serial port bridge took no command");
        }
    }
    ~BridgeLink() { close(); }
    BridgeLink(const BridgeLink&) = delete;
    BridgeLink& operator=(const BridgeLink&) = delete;

    // One line of the bridge's without its end; empty when none came within
    // `wait_ms` or the bridge closed the connection. A line cut by the wait
    // is kept for the next call.
    QByteArray read_line(int wait_ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            // A byte at a time: what follows the line is the device's.
            const QByteArray c = receive(int(std::max<qint64>(left.count(), 0)), 1);
            if (c.isEmpty())
                return {};
            if (c == "\n")
                return std::exchange(partial_, {});
            partial_ += c;
        }
    }

    qsizetype send(const QByteArray& bytes) {
        qsizetype done = 0;
        while (socket_ != INVALID_SOCKET && done < bytes.size()) {
            const int n = ::send(socket_, bytes.constData() + done, int(bytes.size() - done), 0);
            if (n <= 0)
                break;
            done += n;
        }
        return done;
    }

    // Up to `max` bytes, waiting at most `wait_ms` for the first.
    QByteArray receive(int wait_ms, qsizetype max) {
        QByteArray out;
        if (!readable(wait_ms))
            return out;
        char buffer[4096];
        while (out.size() < max) {
            const int n = ::recv(socket_, buffer, int(std::min<qsizetype>(sizeof buffer, max - out.size())), 0);
            if (n <= 0) {
                if (n == 0)
                    open_ = false;
                break;
            }
            out.append(buffer, n);
            // What the port wrote in one go may come through the bridge in
            // pieces; a pseudo-terminal would hold it whole.
            if (!readable(kSettleMs))
                break;
        }
        return out;
    }

    // False once the bridge has closed its end.
    bool open() const { return open_ && socket_ != INVALID_SOCKET; }

    void close() {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }

  private:
    static constexpr int kSettleMs = 10;

    bool readable(int wait_ms) {
        if (!open())
            return false;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket_, &set);
        timeval t{wait_ms / 1000, (wait_ms % 1000) * 1000};
        return ::select(0, &set, nullptr, nullptr, &t) == 1;
    }

    SOCKET socket_ = INVALID_SOCKET;
    bool open_ = true;
    QByteArray partial_;
};

// A question whose answer is one line, such as a terminal's line settings.
inline QByteArray AskBridge(const QByteArray& command) {
    BridgeLink link(command);
    return link.read_line(5000);
}

}  // namespace vt::test
