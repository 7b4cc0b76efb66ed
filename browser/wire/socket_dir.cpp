// Where the program and the native host meet on Linux: a Unix domain socket
// in the user's runtime folder, or in a folder of the user's own in /tmp
// when the session has none.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "browser/wire/wire.h"

namespace vt::wire {

QString SocketDir() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) {
        // A session without a login manager (su, ssh -X) has no runtime
        // folder, and the browser that starts the host may not have the
        // same TMPDIR as the program: a fixed name both arrive at. Anyone
        // may have made it first; EnsureSocketDir and the host's checks of
        // owner and mode refuse it then.
        return QStringLiteral("/tmp/vantortrans-%1").arg(::getuid());
    }
    return QDir(runtime).filePath(QStringLiteral("vantortrans"));
}

bool SocketDirIsFallback() {
    return qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR");
}

QString SocketPath(const QString& program) {
    return QDir(SocketDir()).filePath(program + QStringLiteral(".sock"));
}

bool EnsureSocketDir(QString* error) {
    auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    const QString dir = SocketDir();
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        return fail(QStringLiteral("cannot create %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno))));
    }
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        return fail(QStringLiteral("cannot read %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!S_ISDIR(st.st_mode)) {
        return fail(QStringLiteral("%1 is not a directory").arg(dir));
    }
    if (st.st_uid != ::getuid()) {
        return fail(QStringLiteral("%1 belongs to another user").arg(dir));
    }
    if ((st.st_mode & 077) != 0) {
        return fail(QStringLiteral("%1 is open to other users").arg(dir));
    }
    return true;
}

bool PeerIsSameUser(int fd) {
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        return false;
    }
    return cred.uid == ::getuid();
}

}  // namespace vt::wire
