#pragma once
// The brand's named lock against a second running copy, held for the whole
// run: on Linux an advisory lock on a file named after the brand, on Windows
// the brand's named mutex. The system drops either when the process ends,
// so a crashed copy leaves nothing stale behind.

#include <QString>
#include <cstdint>

namespace vt {

class SingleInstance {
  public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Result { Acquired, AlreadyRunning, Failed };
    // `name` is the brand's mutex name; on Linux the lock file lies in
    // $XDG_RUNTIME_DIR, or in the temp directory when that is unset.
    Result acquire(const QString& name);
    // The lock file on Linux, the mutex's name on Windows.
    static QString lock_path(const QString& name);

  private:
    intptr_t handle_ = -1;  // file descriptor or mutex handle
};

}  // namespace vt
