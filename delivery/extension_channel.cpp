#include "delivery/extension_channel.h"

#include <QRandomGenerator>

#include "delivery/delivery_rules.h"
#include "settings/messages.h"
#include "settings/settings.h"
#include "settings/ui_seam.h"

namespace vt {

namespace {

bool BatchMode() {
    return progpar.keysendmode == 1 || progpar.keysendmode == 2;
}

QString NewSession() {
    QRandomGenerator* r = QRandomGenerator::system();
    return QStringLiteral("%1%2")
        .arg(r->generate64(), 16, 16, QChar(u'0'))
        .arg(r->generate64(), 16, 16, QChar(u'0'));
}

const char* WhyNotDelivered(DeliverResult r) {
    switch (r) {
        case DeliverResult::kNoTab:
            return txt::NotSentFormClosed;
        case DeliverResult::kNoField:
            return txt::NotSentNoField;
        case DeliverResult::kNotReady:
            return txt::NotSentPageNotReady;
        case DeliverResult::kNoAnswer:
            return txt::NotSentNoAnswer;
        default:
            return txt::NotSentRefused;
    }
}

}  // namespace

ExtensionChannel::ExtensionChannel(ExtensionServer& server)
    : server_(server), session_(NewSession()) {}

uint64_t ExtensionChannel::FormHandle(int kind, qint64 tab) {
    return (uint64_t(uint32_t(kind + 1)) << 32) | uint32_t(tab);
}

bool ExtensionChannel::find_window(int shop) {
    if (shop < 0 || shop > 1)
        return false;
    const auto s = static_cast<size_t>(shop);
    shop_ = shop;
    browserrecord.state[s] = false;
    browserrecord.title.clear();
    browserrecord.classname.clear();
    browserrecord.handle = 0;
    browserrecord.processid = 0;
    browserrecord.visible = false;
    connection_ = 0;
    tab_ = 0;
    for (const ExtensionServer::Connection& c : server_.connections()) {
        if (!ShopKindAccepts(progpar.browser[s], c.kind))
            continue;
        QJsonObject request;
        request.insert(u"type", QStringLiteral("tabs"));
        QJsonObject answer;
        std::vector<BrowserTab> tabs;
        if (server_.request(c.id, request, kAnswerTimeoutMs, &answer) !=
                ExtensionServer::Reply::kAnswer ||
            !ParseTabs(answer, &tabs))
            continue;
        // As with windows, the last match in the list is the one kept.
        for (const BrowserTab& t : tabs) {
            if (!TabTitleMatches(t.title, progpar.formtitle[s]))
                continue;
            browserrecord.title = t.title;
            browserrecord.classname = c.browser;
            browserrecord.handle = FormHandle(c.kind, t.tab);
            browserrecord.visible = t.active;
            browserrecord.state[s] = true;
            connection_ = c.id;
            tab_ = t.tab;
        }
    }
    return browserrecord.state[s];
}

bool ExtensionChannel::bring_to_front() {
    // The extension writes into the tab wherever it is; nothing to raise.
    return connection_ != 0;
}

bool ExtensionChannel::deliver_line(int shop, const QString& line) {
    shop_ = shop;
    if (BatchMode()) {
        BatchLines << line + QChar(u'\r');
        return true;
    }
    const QString text = (shop == 0 ? RemovePraefix(line, progpar.praefix) : line) + QChar(u'\r');
    if (!send(text, line))
        return false;
    display().log_line(line);
    return true;
}

bool ExtensionChannel::paste_batch() {
    const QString what =
        FormatS(QString::fromUtf8(txt::BatchLinesText), QString::number(BatchLines.size()));
    for (const QString& chunk : ChunkText(BatchLines.join(QString()), kChunkBytes)) {
        if (!send(chunk, what))
            return false;
    }
    return true;
}

void ExtensionChannel::begin_batch() {
    BatchLines.clear();
}

QString ExtensionChannel::status_text() {
    QStringList names;
    for (const ExtensionServer::Connection& c : server_.connections())
        names << BrowserDisplayName(c.browser);
    if (names.isEmpty())
        return QString::fromUtf8(txt::ExtensionNotConnected);
    return FormatS(QString::fromUtf8(txt::ExtensionConnected), names.join(QStringLiteral(", ")));
}

bool ExtensionChannel::send(const QString& text, const QString& what) {
    const uint64_t handle = browserrecord.handle;
    qint64 seq = 0;
    if (unanswered_.open && unanswered_.handle == handle && unanswered_.text == text) {
        seq = unanswered_.seq;
    } else {
        seq = ++seq_;
    }
    // Any other text for that tab settles it: a later number applied there
    // would make the old one count as a duplicate.
    if (unanswered_.handle == handle)
        unanswered_.open = false;

    DeliverResult result = DeliverResult::kNoAnswer;
    if (connection_ == 0) {
        display().log_line(QString::fromUtf8(txt::NotSentNotConnected) + what);
        return false;
    }
    const QString key = progpar.accesskey[static_cast<size_t>(shop_)].left(1);
    QJsonObject request;
    request.insert(u"type", QStringLiteral("deliver"));
    request.insert(u"tab", double(tab_));
    request.insert(u"session", session_);
    request.insert(u"seq", double(seq));
    request.insert(u"accessKey", key);
    request.insert(u"text", text);
    QJsonObject answer;
    const ExtensionServer::Reply reply =
        server_.request(connection_, request, kAnswerTimeoutMs, &answer);
    if (reply == ExtensionServer::Reply::kAnswer)
        result = ParseDeliverAnswer(answer, seq);
    if (result == DeliverResult::kDelivered || result == DeliverResult::kDuplicate)
        return true;
    const char* why = WhyNotDelivered(result);
    if (result == DeliverResult::kNoAnswer) {
        unanswered_ = {true, handle, text, seq};
        if (reply == ExtensionServer::Reply::kClosed)
            why = txt::NotSentNotConnected;
    }
    display().log_line(QString::fromUtf8(why) + what);
    return false;
}

}  // namespace vt
