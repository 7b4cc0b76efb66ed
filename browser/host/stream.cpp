#include "browser/host/stream.h"

namespace vt::host {

Stream::Stream(quint32 max_in, QObject* parent) : QObject(parent), reader_(max_in) {}

bool Stream::Received(const char* data, qsizetype n) {
    if (ended_) {
        return false;
    }
    reader_.Feed(data, n);
    // Hand out what is complete before reading on, so one busy sender
    // cannot make the buffer grow without limit.
    QByteArray json;
    for (;;) {
        const auto r = reader_.Next(&json);
        if (r == wire::FrameReader::Result::kNeedMore) {
            return true;
        }
        if (r == wire::FrameReader::Result::kTooLarge) {
            Finish(End::kTooLarge);
            return false;
        }
        if (on_message) {
            on_message(json);
        }
        if (ended_) {
            return false;
        }
    }
}

void Stream::Finish(End why) {
    if (ended_) {
        return;
    }
    ended_ = true;
    Stop();
    if (on_end) {
        on_end(why);
    }
}

}  // namespace vt::host
