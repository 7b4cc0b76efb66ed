#pragma once
// Pseudo-terminals that stand in for serial devices; both ends stay open
// until the owner goes, so the device node exists for the whole test.

#include <pty.h>
#include <unistd.h>

#include <QList>
#include <QString>
#include <stdexcept>

namespace vt::test {

class PseudoTerminals {
  public:
    PseudoTerminals() = default;
    PseudoTerminals(const PseudoTerminals&) = delete;
    PseudoTerminals& operator=(const PseudoTerminals&) = delete;
    ~PseudoTerminals() {
        for (int fd : fds_)
            ::close(fd);
    }

    // Opens one more and returns the path of its device end.
    QString Open() {
        int master = -1, slave = -1;
        char name[256];
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        fds_ << master << slave;
        return QString::fromUtf8(name);
    }

  private:
    QList<int> fds_;
};

}  // namespace vt::test
