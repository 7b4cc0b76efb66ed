#include "browser/wire/wire.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace vt::wire {

QByteArray Frame(const QByteArray& json) {
    const quint32 len = static_cast<quint32>(json.size());
    QByteArray out;
    out.reserve(json.size() + 4);
    out.append(reinterpret_cast<const char*>(&len), 4);
    out.append(json);
    return out;
}

FrameReader::FrameReader(quint32 max_len) : max_len_(max_len) {}

void FrameReader::Feed(const char* data, qsizetype n) {
    if (too_large_ || n <= 0) {
        return;
    }
    // Drop what was already handed out before growing, so a long-lived
    // stream does not keep every frame it ever carried.
    if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
        buffer_.remove(0, pos_);
        pos_ = 0;
    }
    buffer_.append(data, n);
}

FrameReader::Result FrameReader::Next(QByteArray* json) {
    if (too_large_) {
        return Result::kTooLarge;
    }
    const qsizetype avail = buffer_.size() - pos_;
    if (avail < 4) {
        return Result::kNeedMore;
    }
    quint32 len = 0;
    std::memcpy(&len, buffer_.constData() + pos_, 4);
    if (len > max_len_) {
        too_large_ = true;
        buffer_.clear();
        pos_ = 0;
        return Result::kTooLarge;
    }
    if (avail - 4 < static_cast<qsizetype>(len)) {
        return Result::kNeedMore;
    }
    *json = buffer_.mid(pos_ + 4, len);
    pos_ += 4 + len;
    if (pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
    }
    return Result::kFrame;
}

QString SocketDir() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) {
        return {};
    }
    return QDir(runtime).filePath(QStringLiteral("vantortrans"));
}

QString SocketPath(const QString& program) {
    const QString dir = SocketDir();
    if (dir.isEmpty()) {
        return {};
    }
    return QDir(dir).filePath(program + QStringLiteral(".sock"));
}

bool EnsureSocketDir(QString* error) {
    auto fail = [error](const QString& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    const QString dir = SocketDir();
    if (dir.isEmpty()) {
        return fail(QStringLiteral("XDG_RUNTIME_DIR is not set"));
    }
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
