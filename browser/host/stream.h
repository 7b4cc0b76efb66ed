#pragma once
// One end of a framed message stream of the host: the browser's stdin/stdout
// pair or the connection to one running program. The system's side (file
// descriptors on Linux, handles on Windows) reads and writes; the frames are
// cut here, the same for both.

#include <QByteArray>
#include <QObject>
#include <functional>

#include "browser/wire/wire.h"

namespace vt::host {

class Stream : public QObject {
  public:
    enum class End { kClosed, kTooLarge, kError };
    explicit Stream(quint32 max_in, QObject* parent = nullptr);

    std::function<void(const QByteArray& json)> on_message;
    // Called once; the stream is unusable afterwards.
    std::function<void(End why)> on_end;

    virtual void Send(const QByteArray& json) = 0;
    bool ended() const { return ended_; }

  protected:
    // Hands out the frames that `data` completes; false once the stream has
    // ended (a frame above the limit, or on_message ended it).
    bool Received(const char* data, qsizetype n);
    // Stops the system's side, then tells on_end; only the first call counts.
    void Finish(End why);
    virtual void Stop() = 0;

  private:
    wire::FrameReader reader_;
    bool ended_ = false;
};

}  // namespace vt::host
