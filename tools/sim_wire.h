#pragma once
// The scanner simulators' side of the cable: a pseudo-terminal whose other
// end a host opens as its serial port, byte reads with a time-out, sends
// paced like a real line, and the exchange log. Plain POSIX and C++.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace sim {

class Wire {
  public:
    using Clock = std::chrono::steady_clock;

    // `bits_per_byte` is what one byte costs on the line (start, data,
    // parity, stop bits); `baud` 0 sends as fast as possible. `stop` ends
    // every wait once it is set (a signal handler sets it).
    Wire(const std::string& log_path, long baud, int bits_per_byte, volatile sig_atomic_t* stop)
        : stop_(stop), start_(Clock::now()) {
        if (!log_path.empty())
            log_ = std::fopen(log_path.c_str(), "a");
        if (baud > 0)
            byte_time_ = std::chrono::nanoseconds(1'000'000'000LL * bits_per_byte / baud);
    }
    ~Wire() {
        if (log_)
            std::fclose(log_);
    }
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    bool OpenTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return false;
        const char* name = ::ptsname(master_);
        if (!name)
            return false;
        slave_path_ = name;
        // Holding the other end open keeps the terminal alive while no host
        // has it open, so a host may close and reopen it at will.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0)
            return false;
        termios t{};
        if (::tcgetattr(slave_, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(slave_, TCSANOW, &t);
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        return true;
    }

    // Closes both ends: the host sees the device vanish.
    void HangUp() {
        ::close(master_);
        ::close(slave_);
        master_ = slave_ = -1;
    }

    const std::string& slave_path() const { return slave_path_; }

    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        if (!log_)
            return;
        const double t = std::chrono::duration<double>(Clock::now() - start_).count();
        std::fprintf(log_, "%.3f ", t);
        va_list ap;
        va_start(ap, fmt);
        std::vfprintf(log_, fmt, ap);
        va_end(ap);
        std::fputc('\n', log_);
        std::fflush(log_);
    }

    // -1 when nothing arrives within `timeout_ms`.
    int ReadByte(int timeout_ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            unsigned char b;
            const ssize_t n = ::read(master_, &b, 1);
            if (n == 1)
                return b;
            if (*stop_)
                return -1;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return -1;
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, int(std::min<long long>(left, 200))) > 0 && !(p.revents & POLLIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }

    // Hands each byte over when it would have fully arrived on a line of the
    // configured speed; the wire is idle (not saving up time) between sends.
    void Send(const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        if (byte_time_.count() == 0) {
            WriteAll(bytes, size);
            return;
        }
        const auto now = Clock::now();
        if (wire_ < now)
            wire_ = now;
        size_t from = 0;
        for (size_t i = 0; i < size; ++i) {
            const auto due = wire_ + byte_time_;
            if (due > Clock::now()) {
                WriteAll(bytes + from, i - from);
                from = i;
                std::this_thread::sleep_until(due);
            }
            wire_ = due;
        }
        WriteAll(bytes + from, size - from);
    }
    void Send(const std::string& bytes) { Send(bytes.data(), bytes.size()); }

  private:
    void WriteAll(const unsigned char* data, size_t size) {
        size_t done = 0;
        while (done < size && !*stop_) {
            const ssize_t n = ::write(master_, data + done, size - done);
            if (n > 0) {
                done += size_t(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    volatile sig_atomic_t* stop_;
    Clock::time_point start_;
    FILE* log_ = nullptr;
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
    std::chrono::nanoseconds byte_time_{0};
    Clock::time_point wire_{};
};

// A non-negative decimal number; false for anything else.
inline bool ParseLong(const char* text, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return errno == 0 && end && end != text && !*end && out >= 0;
}

}  // namespace sim
