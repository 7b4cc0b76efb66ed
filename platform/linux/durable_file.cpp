#include "platform/durable_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

namespace vt::durable {

int CreateNew(const QString& path, bool* exists) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (exists)
        *exists = fd < 0 && errno == EEXIST;
    return fd;
}

int CreateBeside(const QString& target, QString* temp) {
    const QByteArray name = QFile::encodeName(target);
    QByteArray tmpl = name + ".XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::stat(name.constData(), &st) == 0) {
        (void)::fchmod(fd, st.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        (void)::fchmod(fd, 0666 & ~mask);
    }
    *temp = QFile::decodeName(tmpl);
    return fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool Flush(int fd) { return ::fsync(fd) == 0; }

bool FlushData(int fd) { return ::fdatasync(fd) == 0; }

bool Close(int fd) { return ::close(fd) == 0; }

bool Replace(const QString& temp, const QString& target) {
    return ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) ==
           0;
}

void Remove(const QString& path) { ::unlink(QFile::encodeName(path).constData()); }

void NoSignalOnFileSizeLimit() { ::signal(SIGXFSZ, SIG_IGN); }

}  // namespace vt::durable
