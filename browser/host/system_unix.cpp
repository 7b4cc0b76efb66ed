// The host on Linux: stdin/stdout as non-blocking descriptors, the programs
// found as sockets in the socket folder.

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstring>

#include "browser/host/fd_stream.h"
#include "browser/host/manifest.h"
#include "browser/host/relay.h"
#include "browser/host/system.h"

namespace vt::host {

namespace {

// Owned by this user: a socket folder or socket another user could have put
// there is never trusted.
bool OwnedByUs(const QString& path, bool want_dir) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || st.st_uid != ::getuid()) {
        return false;
    }
    return want_dir ? S_ISDIR(st.st_mode) : S_ISSOCK(st.st_mode);
}

// The connection to the program listening on `path`, or nullptr.
Stream* ConnectTo(const QString& path) {
    if (!OwnedByUs(path, false)) {
        return nullptr;
    }
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (native.size() >= static_cast<qsizetype>(sizeof addr.sun_path)) {
        return nullptr;
    }
    std::memcpy(addr.sun_path, native.constData(), native.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return nullptr;
    }
    // A stale socket file refuses at once; it is tried again at the next scan.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return nullptr;
    }
    // The file's owner is not necessarily the listener's: check who listens.
    if (!wire::PeerIsSameUser(fd)) {
        std::fprintf(stderr, "vantortrans-host: %s is served by another user, not used\n", native.constData());
        ::close(fd);
        return nullptr;
    }
    return new FdStream(fd, fd, wire::kMaxToBrowser);
}

}  // namespace

QStringList ManifestBrowsers() {
    return {QStringLiteral("chromium"), QStringLiteral("firefox")};
}

int SystemOption(const QString&) {
    return -1;
}

int RunRelay(QCoreApplication& app) {
    // A program that goes away while a write is under way must not kill the
    // host with SIGPIPE: the write fails and that connection is dropped.
    ::signal(SIGPIPE, SIG_IGN);
    FdStream browser(STDIN_FILENO, STDOUT_FILENO, wire::kMaxFromBrowser);
    Relay relay(&browser);
    return app.exec();
}

void Relay::Scan() {
    const QString dir = wire::SocketDir();
    if (dir.isEmpty() || !OwnedByUs(dir, true)) {
        return;
    }
    const QStringList names = QDir(dir).entryList({"*.sock"}, QDir::System | QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const QString app = name.chopped(5);
        if (app.isEmpty() || Connected(app)) {
            continue;
        }
        if (Stream* stream = ConnectTo(QDir(dir).filePath(name))) {
            Attach(app, stream);
        }
    }
}

}  // namespace vt::host
