#include "platform/single_instance.h"

#include <windows.h>

namespace vt {

SingleInstance::~SingleInstance() {
    if (handle_ > 0)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// The bare brand name, as every copy of every version has used it: a copy
// started in another session of the same machine does not see it.
QString SingleInstance::lock_path(const QString& name) { return name; }

SingleInstance::Result SingleInstance::acquire(const QString& name) {
    const QString mutex = lock_path(name);
    HANDLE h = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(mutex.utf16()));
    const DWORD err = GetLastError();
    if (h == nullptr)
        // Another object of that name that is no mutex, or no right to it:
        // either way someone else holds the name.
        return err == ERROR_ACCESS_DENIED || err == ERROR_INVALID_HANDLE ? Result::AlreadyRunning
                                                                         : Result::Failed;
    if (err == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);
        return Result::AlreadyRunning;
    }
    if (handle_ > 0)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = reinterpret_cast<intptr_t>(h);
    return Result::Acquired;
}

}  // namespace vt
