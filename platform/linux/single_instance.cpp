#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>

namespace vt {

SingleInstance::~SingleInstance() {
    if (handle_ >= 0)
        ::close(int(handle_));
}

QString SingleInstance::lock_path(const QString& name) {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::tempPath();
    return QDir(dir).filePath(name + QStringLiteral(".lock"));
}

SingleInstance::Result SingleInstance::acquire(const QString& name) {
    const QByteArray path = QFile::encodeName(lock_path(name));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return Result::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? Result::AlreadyRunning : Result::Failed;
    }
    if (handle_ >= 0)
        ::close(int(handle_));
    handle_ = fd;
    return Result::Acquired;
}

}  // namespace vt
