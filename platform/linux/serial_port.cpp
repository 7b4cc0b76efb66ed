#include "platform/serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "platform/linux/serial_termios.h"
#include "platform/profile_file.h"

namespace vt::serial {
namespace {

std::atomic<uint64_t> g_read_attempts{0};

bool SpeedFor(int32_t baud, speed_t& out) {
    struct Entry {
        int32_t baud;
        speed_t speed;
    };
    static constexpr std::array<Entry, 9> kSpeeds = {{{1200, B1200},
                                                      {2400, B2400},
                                                      {4800, B4800},
                                                      {9600, B9600},
                                                      {19200, B19200},
                                                      {38400, B38400},
                                                      {57600, B57600},
                                                      {115200, B115200},
                                                      {230400, B230400}}};
    for (const Entry& e : kSpeeds) {
        if (e.baud == baud) {
            out = e.speed;
            return true;
        }
    }
    return false;
}

bool Configure(int fd, int32_t baud, Parity parity) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    if (!ApplyLineSettings(t, baud, parity)) return false;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

int PollFor(int fd, short events, int wait_ms) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, wait_ms);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return 0;
        return p.revents;
    }
}

bool Valid(Handle h) { return h > 0; }

}  // namespace

bool ApplyLineSettings(termios& t, int32_t baud, Parity parity) {
    speed_t speed;
    if (!SpeedFor(baud, speed)) return false;
    // Every byte value must pass unchanged: no echo, no line editing, no
    // signals, no CR/NL translation, no XON/XOFF.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                           IXOFF | IXANY | INPCK);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB);
    // CRTSCTS is left as the port has it. Modem lines are not a carrier here:
    // a cradle may never raise DCD.
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    if (parity == Parity::Odd) {
        t.c_cflag |= PARENB | PARODD;
        t.c_iflag |= INPCK;
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0;
}

QString ResolveComName(const QString& port, const QString& ini_path) {
    const QString name = port.trimmed();
    if (name.isEmpty()) return {};
    if (!ini_path.isEmpty()) {
        const QString mapped =
            ProfileFile(ini_path).read_string(u"Ports", name, QString()).trimmed();
        if (!mapped.isEmpty()) return mapped;
    }
    if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) return {};
    const QStringView digits = QStringView(name).mid(3);
    if (digits.isEmpty() || digits.size() > 3) return {};
    for (QChar c : digits) {
        if (c < u'0' || c > u'9') return {};
    }
    const int n = digits.toInt();
    if (n >= 1 && n <= 32) return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    if (n >= 33 && n <= 64) return QStringLiteral("/dev/ttyUSB%1").arg(n - 33);
    if (n >= 65 && n <= 96) return QStringLiteral("/dev/ttyACM%1").arg(n - 65);
    return {};
}

Handle Open(const QString& device, int32_t baud, Parity parity, OpenError* error) {
    auto fail = [error](OpenError e) {
        if (error) *error = e;
        return kNoPort;
    };
    if (error) *error = OpenError::None;
    if (device.isEmpty()) return fail(OpenError::CannotOpen);
    const QByteArray path = QFile::encodeName(device);
    int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // EBUSY: another program holds the port with TIOCEXCL.
        if (errno == EACCES || errno == EPERM) return fail(OpenError::NoPermission);
        if (errno == EBUSY) return fail(OpenError::Busy);
        return fail(OpenError::CannotOpen);
    }
    // 0 means "closed" to the callers; a program started with stdin closed
    // could be handed descriptor 0.
    if (fd == 0) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        if (moved < 0) return fail(OpenError::CannotOpen);
        fd = moved;
    }
    // TIOCEXCL keeps out other openers except root; the lock also keeps out
    // root-run programs that honour it, and dies with the process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return fail(held ? OpenError::Busy : OpenError::CannotOpen);
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return fail(OpenError::CannotConfigure);
    }
    ::ioctl(fd, TIOCEXCL);
    if (!Configure(fd, baud, parity)) {
        ::close(fd);
        return fail(OpenError::CannotConfigure);
    }
    return fd;
}

QString DeviceGroup(const QString& device) {
    struct stat st {};
    if (device.isEmpty() || ::stat(QFile::encodeName(device).constData(), &st) != 0) return {};
    std::array<char, 4096> buf{};
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(st.st_gid);
}

void Close(Handle h) {
    if (!Valid(h)) return;
    const int fd = int(h);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);  // also releases the lock
}

int32_t Write(Handle h, const char* data, int32_t size) {
    if (!Valid(h) || size <= 0) return 0;
    const int fd = int(h);
    int32_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n > 0) {
            done += int32_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        const int ev = PollFor(fd, POLLOUT, int(left));
        if (ev & (POLLERR | POLLHUP | POLLNVAL)) break;
    }
    return done;
}

int32_t ReadByte(Handle h, int32_t wait_ms) {
    if (!Valid(h)) return -1;
    ++g_read_attempts;
    const int fd = int(h);
    unsigned char b = 0;
    // A byte may already be waiting; take it without a poll.
    ssize_t n = ::read(fd, &b, 1);
    if (n == 1) return b;
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // The device has gone (hang-up, adapter pulled): it reads as silence,
        // but without spinning, so a caller's wait keeps its length.
        if (wait_ms > 0) ::poll(nullptr, 0, wait_ms);
        return -1;
    }
    const int ev = PollFor(fd, POLLIN, wait_ms < 0 ? 0 : wait_ms);
    if (!(ev & POLLIN)) {
        if ((ev & (POLLERR | POLLHUP | POLLNVAL)) && wait_ms > 0) ::poll(nullptr, 0, wait_ms);
        return -1;
    }
    n = ::read(fd, &b, 1);
    return n == 1 ? int32_t(b) : -1;
}

void PurgeInput(Handle h) {
    if (!Valid(h)) return;
    ::tcflush(int(h), TCIFLUSH);
}

bool Vanished(Handle h) {
    if (!Valid(h)) return false;
    pollfd p{int(h), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return (p.revents & (POLLHUP | POLLNVAL)) != 0;
}

uint64_t ReadAttempts() { return g_read_attempts.load(); }

}  // namespace vt::serial
