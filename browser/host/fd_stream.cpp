#include "browser/host/fd_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vt::host {

namespace {
void SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}
}  // namespace

FdStream::FdStream(int read_fd, int write_fd, quint32 max_in, QObject* parent)
    : Stream(max_in, parent), read_fd_(read_fd), write_fd_(write_fd) {
    SetNonBlocking(read_fd_);
    SetNonBlocking(write_fd_);
    read_notifier_ = std::make_unique<QSocketNotifier>(read_fd_, QSocketNotifier::Read);
    connect(read_notifier_.get(), &QSocketNotifier::activated, this, [this] { ReadReady(); });
    write_notifier_ = std::make_unique<QSocketNotifier>(write_fd_, QSocketNotifier::Write);
    write_notifier_->setEnabled(false);
    connect(write_notifier_.get(), &QSocketNotifier::activated, this, [this] { WriteReady(); });
}

FdStream::~FdStream() {
    read_notifier_.reset();
    write_notifier_.reset();
    ::close(read_fd_);
    if (write_fd_ != read_fd_) {
        ::close(write_fd_);
    }
}

void FdStream::Send(const QByteArray& json) {
    if (ended()) {
        return;
    }
    out_.append(wire::Frame(json));
    WriteReady();
}

void FdStream::WriteReady() {
    while (!out_.isEmpty() && !ended()) {
        const ssize_t n = ::write(write_fd_, out_.constData(), out_.size());
        if (n > 0) {
            out_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        Finish(End::kError);
        return;
    }
    if (!ended()) {
        write_notifier_->setEnabled(!out_.isEmpty());
    }
}

void FdStream::ReadReady() {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(read_fd_, buf, sizeof buf);
        if (n > 0) {
            if (!Received(buf, n)) {
                return;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        Finish(n == 0 ? End::kClosed : End::kError);
        return;
    }
}

void FdStream::Stop() {
    read_notifier_->setEnabled(false);
    write_notifier_->setEnabled(false);
}

}  // namespace vt::host
