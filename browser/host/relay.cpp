#include "browser/host/relay.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace vt::host {

namespace {

QByteArray BadRequest(const QJsonValue& id) {
    QJsonObject o{{"id", id.isDouble() ? id : QJsonValue(QJsonValue::Null)},
                  {"ok", false},
                  {"reason", "bad-request"}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

}  // namespace

Relay::Relay(Stream* browser, QObject* parent) : QObject(parent), browser_(browser) {
    browser_->on_message = [this](const QByteArray& json) { FromBrowser(json); };
    // The browser closes stdin when the extension lets the port go; a message
    // above the browsers' limit means the stream is not what we think it is.
    browser_->on_end = [](Stream::End) { QCoreApplication::exit(0); };
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
        for (Stream* p : std::as_const(programs_)) {
            p->Send(hello_);
        }
        if (!scan_timer_.isActive()) {
            scan_timer_.start();
            Scan();
        }
        return;
    }
    const QString app = o.value("app").toString();
    Stream* target = programs_.value(app);
    if (!target) {
        return;  // the program went away meanwhile, or the message is no answer
    }
    o.remove("app");
    target->Send(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void Relay::FromProgram(const QString& app, Stream* stream, const QByteArray& json) {
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

void Relay::Attach(const QString& app, Stream* stream) {
    stream->setParent(this);
    programs_.insert(app, stream);
    stream->on_message = [this, app, stream](const QByteArray& json) { FromProgram(app, stream, json); };
    stream->on_end = [this, app, stream](Stream::End) { Drop(app, stream); };
    stream->Send(hello_);
}

void Relay::Drop(const QString& app, Stream* stream) {
    if (programs_.value(app) == stream) {
        programs_.remove(app);
    }
    stream->deleteLater();
}

}  // namespace vt::host
