#pragma once
// A host stream over non-blocking file descriptors (Linux): the browser's
// stdin/stdout pair, or one connected socket (the same fd twice). Writes are
// queued, so a reader that is slow on one side never stalls the other.

#include <QSocketNotifier>
#include <memory>

#include "browser/host/stream.h"

namespace vt::host {

class FdStream : public Stream {
  public:
    FdStream(int read_fd, int write_fd, quint32 max_in, QObject* parent = nullptr);
    ~FdStream() override;

    void Send(const QByteArray& json) override;

  private:
    void ReadReady();
    void WriteReady();
    void Stop() override;

    int read_fd_;
    int write_fd_;
    QByteArray out_;
    std::unique_ptr<QSocketNotifier> read_notifier_;
    std::unique_ptr<QSocketNotifier> write_notifier_;
};

}  // namespace vt::host
