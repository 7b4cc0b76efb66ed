#include "platform/durable_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <QFileInfo>
#include <QUuid>
#include <cerrno>

namespace vt::durable {
namespace {

const wchar_t* Wide(const QString& s) { return reinterpret_cast<const wchar_t*>(s.utf16()); }

// Binary: the bytes go out as given, CR LF included, never translated.
int OpenNew(const QString& path) {
    return ::_wopen(Wide(path), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
}

}  // namespace

int CreateNew(const QString& path, bool* exists) {
    const int fd = OpenNew(path);
    if (exists)
        *exists = fd < 0 && errno == EEXIST;
    return fd;
}

int CreateBeside(const QString& target, QString* temp) {
    // Access rights come from the folder's inheritable entries, as for any
    // new file there; a read-only INI file stays read-only.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name =
            target + u'.' + QUuid::createUuid().toString(QUuid::Id128).left(8) + u'~';
        const int fd = OpenNew(name);
        if (fd >= 0) {
            *temp = name;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const unsigned chunk = size > 0x40000000u ? 0x40000000u : unsigned(size);
        const int n = ::_write(fd, data, chunk);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool Flush(int fd) { return ::_commit(fd) == 0; }

bool FlushData(int fd) { return ::_commit(fd) == 0; }

bool Close(int fd) { return ::_close(fd) == 0; }

bool Replace(const QString& temp, const QString& target) {
    // A read-only target is refused, as the system's profile functions do.
    return MoveFileExW(Wide(temp), Wide(target),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void Remove(const QString& path) { DeleteFileW(Wide(path)); }

// Windows has no such signal: a full disk or quota ends in a failed write.
void NoSignalOnFileSizeLimit() {}

}  // namespace vt::durable
