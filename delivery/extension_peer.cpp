#include "delivery/extension_peer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

namespace vt {

namespace {

// The answers come from the browser through the host, so the browser's own
// limit for what it sends is the most a frame can honestly hold.
constexpr quint32 kMaxFromHost = wire::kMaxFromBrowser;

// A JSON number that is an integer a request could have carried.
bool IntegerOf(const QJsonValue& v, qint64* out) {
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9007199254740991.0)
        return false;
    *out = static_cast<qint64>(d);
    return true;
}

// The bytes a character takes inside a JSON string.
qsizetype JsonSize(QChar c) {
    const char16_t u = c.unicode();
    if (u == u'"' || u == u'\\' || u == u'\n' || u == u'\r' || u == u'\t' || u == u'\b' ||
        u == u'\f')
        return 2;
    if (u < 0x20)
        return 6;
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    // A surrogate pair is two characters of three counted bytes: more than
    // its four, never less.
    return 3;
}

}  // namespace

ExtensionPeer::ExtensionPeer() : reader_(kMaxFromHost) {}

void ExtensionPeer::feed(const char* data, qsizetype n) {
    if (!broken_)
        reader_.Feed(data, n);
}

ExtensionPeer::Next ExtensionPeer::next(Message* message) {
    while (!broken_) {
        QByteArray json;
        const wire::FrameReader::Result r = reader_.Next(&json);
        if (r == wire::FrameReader::Result::kNeedMore)
            return Next::kNone;
        if (r == wire::FrameReader::Result::kTooLarge) {
            broken_ = true;
            break;
        }
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            ++dropped_;
            continue;
        }
        const QJsonObject o = doc.object();
        if (o.value(u"type").toString() == u"hello" && o.value(u"browser").isString()) {
            message->kind = Message::Kind::kHello;
            message->browser = o.value(u"browser").toString();
            message->id = -1;
            message->body = o;
            return Next::kMessage;
        }
        qint64 id = 0;
        if (!IntegerOf(o.value(u"id"), &id)) {
            // Among them the host's answer to a request it could not read:
            // with no id it belongs to no waiting request.
            ++dropped_;
            continue;
        }
        message->kind = Message::Kind::kAnswer;
        message->browser.clear();
        message->id = id;
        message->body = o;
        return Next::kMessage;
    }
    return Next::kBroken;
}

bool ParseTabs(const QJsonObject& answer, std::vector<BrowserTab>* tabs) {
    tabs->clear();
    if (answer.value(u"ok").toBool() != true || !answer.value(u"tabs").isArray())
        return false;
    for (const QJsonValue& v : answer.value(u"tabs").toArray()) {
        const QJsonObject o = v.toObject();
        BrowserTab t;
        if (!IntegerOf(o.value(u"tab"), &t.tab) || !o.value(u"title").isString())
            continue;
        IntegerOf(o.value(u"window"), &t.window);
        t.title = o.value(u"title").toString();
        t.active = o.value(u"active").toBool();
        t.focused = o.value(u"focused").toBool();
        t.doc = o.value(u"doc").toString();
        tabs->push_back(t);
    }
    return true;
}

DeliverResult ParseDeliverAnswer(const QJsonObject& answer, qint64 seq) {
    const QJsonValue ok = answer.value(u"ok");
    if (ok == QJsonValue(true)) {
        qint64 answered = 0;
        // An acknowledgement of another text is no acknowledgement of this one.
        if (!IntegerOf(answer.value(u"seq"), &answered) || answered != seq)
            return DeliverResult::kRefused;
        return answer.value(u"duplicate").toBool() ? DeliverResult::kDuplicate
                                                   : DeliverResult::kDelivered;
    }
    const QString reason = answer.value(u"reason").toString();
    if (reason == u"no-tab")
        return DeliverResult::kNoTab;
    if (reason == u"no-field")
        return DeliverResult::kNoField;
    if (reason == u"not-ready")
        return DeliverResult::kNotReady;
    return DeliverResult::kRefused;
}

QStringList ChunkText(const QString& text, qsizetype max_bytes) {
    QStringList chunks;
    qsizetype start = 0;      // of the chunk being built
    qsizetype line_start = 0; // of the line being measured
    qsizetype chunk_bytes = 0;
    qsizetype line_bytes = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        line_bytes += JsonSize(text[i]);
        const bool line_end = text[i] == u'\n' || text[i] == u'\r';
        if (!line_end && i + 1 < n)
            continue;
        // A CR LF pair stays together.
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            continue;
        if (chunk_bytes > 0 && chunk_bytes + line_bytes > max_bytes) {
            chunks << text.mid(start, line_start - start);
            start = line_start;
            chunk_bytes = 0;
        }
        chunk_bytes += line_bytes;
        line_bytes = 0;
        line_start = i + 1;
    }
    if (start < n)
        chunks << text.mid(start);
    return chunks;
}

QString BrowserDisplayName(const QString& browser) {
    if (browser == u"chromium")
        return QStringLiteral("Chromium");
    if (browser == u"chrome")
        return QStringLiteral("Google Chrome");
    if (browser == u"edge")
        return QStringLiteral("Microsoft Edge");
    if (browser == u"firefox")
        return QStringLiteral("Firefox");
    return browser;
}

}  // namespace vt
