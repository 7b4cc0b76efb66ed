#include "browser/wire/wire.h"

#include <cstring>

namespace vt::wire {

QByteArray Frame(const QByteArray& json) {
    const quint32 len = static_cast<quint32>(json.size());
    QByteArray out;
    out.reserve(json.size() + 4);
    out.append(reinterpret_cast<const char*>(&len), 4);
    out.append(json);
    return out;
}

FrameReader::FrameReader(quint32 max_len) : max_len_(max_len) {}

void FrameReader::Feed(const char* data, qsizetype n) {
    if (too_large_ || n <= 0) {
        return;
    }
    // Drop what was already handed out before growing, so a long-lived
    // stream does not keep every frame it ever carried.
    if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
        buffer_.remove(0, pos_);
        pos_ = 0;
    }
    buffer_.append(data, n);
}

FrameReader::Result FrameReader::Next(QByteArray* json) {
    if (too_large_) {
        return Result::kTooLarge;
    }
    const qsizetype avail = buffer_.size() - pos_;
    if (avail < 4) {
        return Result::kNeedMore;
    }
    quint32 len = 0;
    std::memcpy(&len, buffer_.constData() + pos_, 4);
    if (len > max_len_) {
        too_large_ = true;
        buffer_.clear();
        pos_ = 0;
        return Result::kTooLarge;
    }
    if (avail - 4 < static_cast<qsizetype>(len)) {
        return Result::kNeedMore;
    }
    *json = buffer_.mid(pos_ + 4, len);
    pos_ += 4 + len;
    if (pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
    }
    return Result::kFrame;
}

}  // namespace vt::wire
