// The program's end of the browser channel on Windows: a named pipe of the
// user's alone (browser/wire/pipe_win32.h), one instance per connected host
// and one more that waits for the next. Reads are always under way on each
// instance; their events wake the event loop, and the bounded waits look at
// them directly, as the Linux side polls its sockets.
#include <windows.h>

#include <QWinEventNotifier>
#include <climits>

#include "browser/wire/pipe_win32.h"
#include "delivery/extension_server.h"
#include "settings/settings.h"

namespace vt {

namespace {

bool Closing() { return AppClosing; }

}  // namespace

ExtensionServer::ExtensionServer(const QString& program, QObject* parent)
    : QObject(parent), program_(program) {}

ExtensionServer::~ExtensionServer() {
    close();
}

bool ExtensionServer::listen(QString* error) {
    if (listening())
        return true;
    // Hosts still connected from before keep their instances, so the name
    // is ours already then.
    if (!wait_for_client(links_.empty(), error))
        return false;
    path_ = wire::PipeName(program_);
    return true;
}

bool ExtensionServer::wait_for_client(bool first, QString* error) {
    const QString name = wire::PipeName(program_);
    void* handle = wire::CreatePipeInstance(name, first, error);
    if (!handle)
        return false;
    auto pipe = std::make_unique<wire::PipeEnd>(handle);
    if (!pipe->StartConnect()) {
        if (error)
            *error = name + QStringLiteral(": keine Verbindung möglich");
        return false;
    }
    waiting_notifier_ = new QWinEventNotifier(pipe->read_event(), this);
    connect(waiting_notifier_, &QWinEventNotifier::activated, this, [this] { accept_waiting(); });
    waiting_ = std::move(pipe);
    return true;
}

void ExtensionServer::close() {
    while (!links_.empty())
        drop(links_.begin()->first);
    if (!waiting_)
        return;
    waiting_notifier_->setEnabled(false);
    waiting_notifier_->deleteLater();
    waiting_notifier_ = nullptr;
    waiting_.reset();
}

void ExtensionServer::accept_waiting() {
    if (!waiting_)
        return;
    const wire::PipeEnd::State state = waiting_->TakeConnect();
    if (state == wire::PipeEnd::State::kPending)
        return;
    // The next instance first, so that a host that comes meanwhile finds one.
    waiting_notifier_->setEnabled(false);
    waiting_notifier_->deleteLater();
    waiting_notifier_ = nullptr;
    std::unique_ptr<wire::PipeEnd> client = std::move(waiting_);
    // Without a waiting instance listening() says so, and the next use of
    // the channel tries again.
    wait_for_client(false, nullptr);
    // A connect that failed (the client went at once) has nothing to read.
    if (state == wire::PipeEnd::State::kFailed)
        return;
    if (!wire::ClientIsSameUser(client->handle())) {
        // Not a byte of it is read: nothing another user sends can reach a
        // form.
        DisconnectNamedPipe(client->handle());
        ++refused_;
        return;
    }
    if (!client->StartRead())
        return;
    const int id = next_link_++;
    Link& link = links_[id];
    link.notifier = new QWinEventNotifier(client->read_event(), this);
    connect(link.notifier, &QWinEventNotifier::activated, this, [this, id] { read_from(id); });
    link.pipe = std::move(client);
}

bool ExtensionServer::read_from(int id) {
    auto it = links_.find(id);
    if (it == links_.end())
        return false;
    Link& link = it->second;
    bool closed = false;
    for (;;) {
        QByteArray data;
        const wire::PipeEnd::State state = link.pipe->TakeRead(&data);
        if (state == wire::PipeEnd::State::kPending)
            break;
        if (state == wire::PipeEnd::State::kFailed) {
            closed = true;
            break;
        }
        link.peer.feed(data.constData(), data.size());
    }
    return take_messages(id, closed);
}

void ExtensionServer::release(int id) {
    Link& link = links_.at(id);
    // Called from the notifier's own signal as well: it goes once that is
    // over. The pipe goes with the link.
    link.notifier->setEnabled(false);
    link.notifier->deleteLater();
    links_.erase(id);
}

bool ExtensionServer::send_all(int id, const QByteArray& bytes, qint64 deadline_ms) {
    auto it = links_.find(id);
    if (it == links_.end())
        return false;
    const wire::PipeEnd::Write wrote =
        it->second.pipe->WriteAll(bytes, int(std::min<qint64>(deadline_ms, INT_MAX)), Closing);
    if (wrote == wire::PipeEnd::Write::kBroken)
        drop(id);
    return wrote == wire::PipeEnd::Write::kDone;
}

bool ExtensionServer::wait_readable(const Link& link, int ms) {
    return WaitForSingleObject(link.pipe->read_event(), DWORD(ms)) == WAIT_OBJECT_0;
}

}  // namespace vt
