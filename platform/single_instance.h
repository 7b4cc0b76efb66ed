#pragma once
// The brand's named lock against a second running copy: an advisory lock on
// a file named after the brand, held for the whole run. The kernel drops it
// when the process ends, so a crashed copy leaves nothing stale behind.

#include <QString>

namespace vt {

class SingleInstance {
  public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Result { Acquired, AlreadyRunning, Failed };
    // `name` is the brand's mutex name; the lock file lies in
    // $XDG_RUNTIME_DIR, or in the temp directory when that is unset.
    Result acquire(const QString& name);
    static QString lock_path(const QString& name);

  private:
    int fd_ = -1;
};

}  // namespace vt
