#pragma once
// A pseudo-terminal whose far end the test holds: the code under test opens
// slave_path() as its serial port, the test plays the device on the master.
// Under Wine the terminal is on Linux, held by tests/wine/com_bridge.py, and
// slave_path() is the COM port Wine gives it.

#ifdef _WIN32
#include <algorithm>
#include <atomic>
#include <memory>

#include "tests/support/com_bridge.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <QByteArray>
#include <QString>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace vt::test {

class PtyPair {
public:
#ifdef _WIN32
    PtyPair() : link_(std::make_unique<BridgeLink>("PTY")) {
        const QByteArray name = link_->read_line(5000);
        if (!name.startsWith("COM")) throw std::runtime_error("no pseudo-terminal: " + name.toStdString());
        name_ = QString::fromLatin1(name);
        path_ = QStringLiteral("\\\\.\\") + name_;
    }
    ~PtyPair() { join(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& slave_path() const { return path_; }

    // Returns once the bytes are in the terminal, as a write on Linux leaves
    // them, or after two seconds in which the device took nothing more.
    qsizetype send(const QByteArray& bytes) const {
        const qsizetype taken = link_->send(bytes);
        const qint64 goal = sent_ += taken;
        qint64 written = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            const qint64 now_written = AskBridge("WRITTEN " + name_.toLatin1()).toLongLong();
            if (now_written > written) {
                written = now_written;
                deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            }
            if (written >= goal || std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return taken - std::max<qint64>(0, goal - written);
    }
    QByteArray receive(int wait_ms = 0, qsizetype max = 65536) const {
        return link_->receive(wait_ms, max);
    }

    // The terminal's line settings, as the port under test left them.
    QByteArray line() const { return AskBridge("ATTR " + name_.toLatin1()); }

    // Takes the port from Wine's devices and gives it back, as a cable
    // pulled and plugged in again.
    bool unplug() { return AskBridge("UNPLUG " + name_.toLatin1()) == "OK"; }
    bool plug() { return AskBridge("PLUG " + name_.toLatin1()) == "OK"; }

    void close_master() { link_->close(); }
#else
    PtyPair() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        path_ = QString::fromLocal8Bit(::ptsname(master_));
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        // The master end must not translate what the device sends either.
        termios t{};
        if (::tcgetattr(master_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(master_, TCSANOW, &t);
        }
    }
    ~PtyPair() {
        join();
        close_master();
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& slave_path() const { return path_; }
    int master() const { return master_; }

    // Gives up after two seconds in which the host took nothing, so a test
    // whose host stopped reading cannot hang; returns the bytes sent.
    qsizetype send(const QByteArray& bytes) const {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;
            pollfd p{master_, POLLOUT, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
        }
        return done;
    }

    // Up to `max` bytes the host sent, waiting at most `wait_ms` for the first.
    QByteArray receive(int wait_ms = 0, qsizetype max = 65536) const {
        QByteArray out;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, wait_ms) <= 0 || !(p.revents & POLLIN)) return out;
        char buf[4096];
        while (out.size() < max) {
            const ssize_t n = ::read(master_, buf, size_t(std::min<qsizetype>(sizeof buf, max - out.size())));
            if (n <= 0) break;
            out.append(buf, n);
            if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
        }
        return out;
    }

    // The terminal's line settings, as the port under test left them (the
    // master reads the slave's).
    QByteArray line() const {
        termios t{};
        if (::tcgetattr(master_, &t) != 0) return {};
        const tcflag_t size = t.c_cflag & CSIZE;
        const int bits = size == CS8 ? 8 : size == CS7 ? 7 : size == CS6 ? 6 : 5;
        const char* parity = !(t.c_cflag & PARENB) ? "none" : (t.c_cflag & PARODD) ? "odd" : "even";
        const bool cooked = t.c_lflag & (ICANON | ECHO | ISIG);
        const bool translated = t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP);
        struct Rate { speed_t code; int rate; };
        static const Rate kRates[] = {{B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                                      {B19200, 19200}, {B38400, 38400}, {B57600, 57600},
                                      {B115200, 115200}};
        int speed = 0;
        for (const Rate& r : kRates) {
            if (::cfgetospeed(&t) == r.code) speed = r.rate;
        }
        return QStringLiteral("bits=%1 parity=%2 stop=%3 cooked=%4 translated=%5 speed=%6")
            .arg(bits).arg(QLatin1String(parity)).arg(t.c_cflag & CSTOPB ? 2 : 1)
            .arg(int(cooked)).arg(int(translated)).arg(speed).toLatin1();
    }
#endif

    // On another thread: waits until the host has sent `count` bytes (they
    // are kept in heard()), then sends `reply`. Answers that must come after
    // something the host does first (such as discarding its input) need this.
    void reply_after(int count, QByteArray reply) {
        join();
        heard_.clear();
        worker_ = std::thread([this, count, reply] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (heard_.size() < count && std::chrono::steady_clock::now() < deadline) {
                heard_ += receive(50, count - heard_.size());
            }
            if (heard_.size() == count && !reply.isEmpty()) send(reply);
        });
    }
    // What the host sent before reply_after answered; waits for the answer.
    QByteArray heard() {
        join();
        return heard_;
    }

#ifndef _WIN32
    void close_master() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
#endif

private:
    void join() {
        if (worker_.joinable()) worker_.join();
    }

#ifdef _WIN32
    std::unique_ptr<BridgeLink> link_;
    QString name_;
    mutable std::atomic<qint64> sent_{0};
#else
    int master_ = -1;
#endif
    QString path_;
    std::thread worker_;
    QByteArray heard_;
};

}  // namespace vt::test
