#include "delivery/extension_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "settings/settings.h"

namespace vt {

namespace {

bool FillAddress(const QString& path, sockaddr_un* addr) {
    const QByteArray native = QFile::encodeName(path);
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (native.isEmpty() || size_t(native.size()) >= sizeof addr->sun_path)
        return false;
    std::memcpy(addr->sun_path, native.constData(), size_t(native.size()));
    return true;
}

// Whether a program listens on `path`: a socket file whose program died
// takes no connection and may be replaced.
bool SomeoneListens(const sockaddr_un& addr) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

ExtensionServer::ExtensionServer(const QString& program, QObject* parent)
    : QObject(parent), program_(program) {}

ExtensionServer::~ExtensionServer() {
    close();
}

bool ExtensionServer::listen(QString* error) {
    if (listening())
        return true;
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!wire::EnsureSocketDir(error))
        return false;
    const QString path = wire::SocketPath(program_);
    sockaddr_un addr;
    if (!FillAddress(path, &addr))
        return fail(path);
    struct stat st;
    if (::lstat(addr.sun_path, &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || SomeoneListens(addr))
            return fail(path);
        ::unlink(addr.sun_path);
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    // The folder is the owner's alone, so nobody reaches the socket before
    // its own mode is narrowed.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(addr.sun_path, 0600) != 0 || ::listen(fd, 8) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        ::unlink(addr.sun_path);
        return fail(path + QStringLiteral(": ") + why);
    }
    listen_fd_ = fd;
    path_ = path;
    listen_notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(listen_notifier_, &QSocketNotifier::activated, this, [this] { accept_waiting(); });
    return true;
}

void ExtensionServer::close() {
    while (!links_.empty())
        drop(links_.begin()->first);
    if (listen_fd_ < 0)
        return;
    delete listen_notifier_;
    listen_notifier_ = nullptr;
    ::close(listen_fd_);
    listen_fd_ = -1;
    ::unlink(QFile::encodeName(path_).constData());
}

void ExtensionServer::accept_waiting() {
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (!wire::PeerIsSameUser(fd)) {
            // Not a byte of it is read: nothing another user sends can
            // reach a form.
            ::close(fd);
            ++refused_;
            continue;
        }
        const int id = next_link_++;
        Link& link = links_[id];
        link.fd = fd;
        link.notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(link.notifier, &QSocketNotifier::activated, this, [this, id] { read_from(id); });
    }
}

bool ExtensionServer::read_from(int id) {
    auto it = links_.find(id);
    if (it == links_.end())
        return false;
    Link& link = it->second;
    char buffer[65536];
    bool closed = false;
    for (;;) {
        const ssize_t n = ::read(link.fd, buffer, sizeof buffer);
        if (n > 0) {
            link.peer.feed(buffer, n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            closed = true;
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    return take_messages(id, closed);
}

void ExtensionServer::release(int id) {
    Link& link = links_.at(id);
    // Called from the notifier's own signal as well: it goes once that is over.
    link.notifier->setEnabled(false);
    link.notifier->deleteLater();
    ::close(link.fd);
    links_.erase(id);
}

bool ExtensionServer::send_all(int id, const QByteArray& bytes, qint64 deadline_ms) {
    QElapsedTimer clock;
    clock.start();
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        auto it = links_.find(id);
        if (it == links_.end())
            return false;
        const ssize_t n = ::send(it->second.fd, bytes.constData() + sent,
                                 size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const qint64 left = deadline_ms - clock.elapsed();
            if (left <= 0 || AppClosing)
                return false;
            pollfd p{it->second.fd, POLLOUT, 0};
            ::poll(&p, 1, int(std::min<qint64>(left, 50)));
            continue;
        }
        drop(id);
        return false;
    }
    return true;
}

bool ExtensionServer::wait_readable(const Link& link, int ms) {
    pollfd p{link.fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

}  // namespace vt
