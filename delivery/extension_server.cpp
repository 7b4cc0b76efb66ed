#include "delivery/extension_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "delivery/delivery_rules.h"
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
    ExtensionPeer::Message m;
    for (;;) {
        const ExtensionPeer::Next next = link.peer.next(&m);
        if (next == ExtensionPeer::Next::kNone)
            break;
        if (next == ExtensionPeer::Next::kBroken) {
            closed = true;
            break;
        }
        if (m.kind == ExtensionPeer::Message::Kind::kHello) {
            link.hello = true;
            link.browser = m.browser;
            link.kind = BrowserKindOf(m.browser);
            link.order = next_order_++;
        } else if (link.hello && link.awaited.count(m.id) != 0) {
            // Answers that came too late for their request are of no use.
            link.answers[m.id] = m.body;
        }
    }
    if (closed) {
        drop(id);
        return false;
    }
    return true;
}

void ExtensionServer::drop(int id) {
    auto it = links_.find(id);
    if (it == links_.end())
        return;
    for (auto& [rid, body] : it->second.answers)
        orphaned_[{id, rid}] = std::move(body);
    // Called from the notifier's own signal as well: it goes once that is over.
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    ::close(it->second.fd);
    links_.erase(it);
}

std::vector<ExtensionServer::Connection> ExtensionServer::connections() const {
    std::map<int, const std::pair<const int, Link>*> newest;
    for (const auto& entry : links_) {
        const Link& link = entry.second;
        if (!link.hello)
            continue;
        auto [at, fresh] = newest.emplace(link.kind, &entry);
        if (!fresh && at->second->second.order < link.order)
            at->second = &entry;
    }
    std::vector<Connection> out;
    for (const auto& [kind, entry] : newest)
        out.push_back({entry->first, kind, entry->second.browser});
    return out;
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

ExtensionServer::Reply ExtensionServer::request(int id, QJsonObject request, int timeout_ms,
                                                QJsonObject* answer) {
    QElapsedTimer sent;
    sent.start();
    Reply failed = Reply::kClosed;
    const qint64 rid = post(id, std::move(request), timeout_ms, &failed);
    if (rid == 0)
        return failed;
    return await_answer(id, rid, sent, timeout_ms, answer);
}

qint64 ExtensionServer::post(int id, QJsonObject request, int timeout_ms, Reply* failed) {
    *failed = Reply::kClosed;
    auto it = links_.find(id);
    if (it == links_.end())
        return 0;
    const qint64 rid = next_request_++;
    request.insert(u"id", double(rid));
    it->second.awaited.insert(rid);
    if (!send_all(id, wire::Frame(QJsonDocument(request).toJson(QJsonDocument::Compact)),
                  timeout_ms)) {
        it = links_.find(id);
        if (it == links_.end())
            return 0;
        it->second.awaited.erase(rid);
        *failed = Reply::kTimeout;
        return 0;
    }
    return rid;
}

ExtensionServer::Reply ExtensionServer::await_answer(int id, qint64 rid, const QElapsedTimer& sent,
                                                     int timeout_ms, QJsonObject* answer) {
    for (;;) {
        auto it = links_.find(id);
        if (it == links_.end()) {
            auto orphan = orphaned_.find({id, rid});
            if (orphan == orphaned_.end())
                return Reply::kClosed;
            *answer = orphan->second;
            orphaned_.erase(orphan);
            return Reply::kAnswer;
        }
        Link& link = it->second;
        auto found = link.answers.find(rid);
        if (found != link.answers.end()) {
            *answer = found->second;
            link.answers.erase(found);
            link.awaited.erase(rid);
            return Reply::kAnswer;
        }
        const qint64 left = timeout_ms - sent.elapsed();
        if (left <= 0 || AppClosing) {
            link.awaited.erase(rid);
            return Reply::kTimeout;
        }
        pollfd p{link.fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<qint64>(left, 10))) > 0) {
            if (!read_from(id))
                return Reply::kClosed;
            continue;
        }
        // The window stays alive while the browser takes its time.
        QCoreApplication::processEvents();
    }
}

bool ExtensionServer::answer_ready(int id, qint64 rid) {
    auto it = links_.find(id);
    if (it != links_.end() && it->second.answers.count(rid) == 0) {
        pollfd p{it->second.fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && !read_from(id))
            return true;
        it = links_.find(id);
    }
    return it == links_.end() || it->second.answers.count(rid) != 0;
}

}  // namespace vt
