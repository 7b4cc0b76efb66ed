#pragma once
// One end of a framed message stream over non-blocking file descriptors: the
// browser's stdin/stdout pair, or one connected socket (the same fd twice).
// Writes are queued, so a reader that is slow on one side never stalls the
// other.

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "browser/wire/wire.h"

namespace vt::host {

class FdStream : public QObject {
  public:
    enum class End { kClosed, kTooLarge, kError };
    FdStream(int read_fd, int write_fd, quint32 max_in, QObject* parent = nullptr);
    ~FdStream() override;

    std::function<void(const QByteArray& json)> on_message;
    // Called once; the stream is unusable afterwards.
    std::function<void(End why)> on_end;

    void Send(const QByteArray& json);
    bool ended() const { return ended_; }

  private:
    void ReadReady();
    void WriteReady();
    void Finish(End why);

    int read_fd_;
    int write_fd_;
    wire::FrameReader reader_;
    QByteArray out_;
    std::unique_ptr<QSocketNotifier> read_notifier_;
    std::unique_ptr<QSocketNotifier> write_notifier_;
    bool ended_ = false;
};

}  // namespace vt::host
