#include "browser/host/relay.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstring>

namespace vt::host {

namespace {

QByteArray BadRequest(const QJsonValue& id) {
    QJsonObject o{{"id", id.isDouble() ? id : QJsonValue(QJsonValue::Null)},
                  {"ok", false},
                  {"reason", "bad-request"}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Owned by this user: a socket folder or socket another user could have put
// there is never trusted.
bool OwnedByUs(const QString& path, bool want_dir) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || st.st_uid != ::getuid()) {
        return false;
    }
    return want_dir ? S_ISDIR(st.st_mode) : S_ISSOCK(st.st_mode);
}

}  // namespace

Relay::Relay(int browser_in, int browser_out, QObject* parent) : QObject(parent) {
    browser_ = new FdStream(browser_in, browser_out, wire::kMaxFromBrowser, this);
    browser_->on_message = [this](const QByteArray& json) { FromBrowser(json); };
    // The browser closes stdin when the extension lets the port go; a message
    // above the browsers' limit means the stream is not what we think it is.
    browser_->on_end = [](FdStream::End) { QCoreApplication::exit(0); };
    scan_timer_.setInterval(1000);
    connect(&scan_timer_, &QTimer::timeout, this, [this] { Scan(); });
}

void Relay::FromBrowser(const QByteArray& json) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        browser_->Send(BadRequest({}));
        return;
    }
    QJsonObject o = doc.object();
    if (o.value("type").toString() == QLatin1String("hello")) {
        // Passed on unchanged: the program tells the browser from it.
        hello_ = json;
        for (FdStream* p : std::as_const(programs_)) {
            p->Send(hello_);
        }
        if (!scan_timer_.isActive()) {
            scan_timer_.start();
            Scan();
        }
        return;
    }
    const QString app = o.value("app").toString();
    FdStream* target = programs_.value(app);
    if (!target) {
        return;  // the program went away meanwhile, or the message is no answer
    }
    o.remove("app");
    target->Send(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void Relay::FromProgram(const QString& app, FdStream* stream, const QByteArray& json) {
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        stream->Send(BadRequest({}));
        return;
    }
    QJsonObject o = doc.object();
    const QJsonValue id = o.value("id");
    if (!id.isDouble() || !o.value("type").isString()) {
        stream->Send(BadRequest(id));
        return;
    }
    o.insert("app", app);
    const QByteArray out = QJsonDocument(o).toJson(QJsonDocument::Compact);
    // The browser would drop the whole native port for a message above its
    // limit; refuse this one request instead.
    if (out.size() > static_cast<qsizetype>(wire::kMaxToBrowser)) {
        stream->Send(BadRequest(id));
        return;
    }
    browser_->Send(out);
}

void Relay::Scan() {
    const QString dir = wire::SocketDir();
    if (dir.isEmpty() || !OwnedByUs(dir, true)) {
        return;
    }
    const QStringList names = QDir(dir).entryList({"*.sock"}, QDir::System | QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        const QString app = name.chopped(5);
        if (!app.isEmpty() && !programs_.contains(app)) {
            ConnectTo(app, QDir(dir).filePath(name));
        }
    }
}

void Relay::ConnectTo(const QString& app, const QString& path) {
    if (!OwnedByUs(path, false)) {
        return;
    }
    const QByteArray native = QFile::encodeName(path);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (native.size() >= static_cast<qsizetype>(sizeof addr.sun_path)) {
        return;
    }
    std::memcpy(addr.sun_path, native.constData(), native.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    // A stale socket file refuses at once; it is tried again at the next scan.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return;
    }
    // The file's owner is not necessarily the listener's: check who listens.
    if (!wire::PeerIsSameUser(fd)) {
        std::fprintf(stderr, "vantortrans-host: %s is served by another user, not used\n", native.constData());
        ::close(fd);
        return;
    }
    auto* stream = new FdStream(fd, fd, wire::kMaxToBrowser, this);
    programs_.insert(app, stream);
    stream->on_message = [this, app, stream](const QByteArray& json) { FromProgram(app, stream, json); };
    stream->on_end = [this, app, stream](FdStream::End) { Drop(app, stream); };
    stream->Send(hello_);
}

void Relay::Drop(const QString& app, FdStream* stream) {
    if (programs_.value(app) == stream) {
        programs_.remove(app);
    }
    stream->deleteLater();
}

}  // namespace vt::host
