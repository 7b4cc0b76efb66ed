#include "delivery/extension_channel.h"

#include <QHash>
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

uint64_t ExtensionChannel::FormHandle(int kind, qint64 tab, const QString& doc) {
    const uint64_t handle = (uint64_t(uint8_t(kind + 1)) << 32) | uint32_t(tab);
    if (doc.isEmpty())
        return handle;
    // The page's load goes into the rest: a reloaded tab is a new form, and
    // the lines of the page before are not taken for being in it.
    return handle ^ (uint64_t(qHash(doc, 0) & 0xFFFFFFu) << 40);
}

bool ExtensionChannel::find_window(int shop) {
    // A search begins a transfer: what is still on its way belongs to the
    // one before.
    settle_all();
    failed_ = false;
    not_arrived_ = 0;
    chain_ = 0;
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
    doc_.clear();
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
            browserrecord.handle = FormHandle(c.kind, t.tab, t.doc);
            browserrecord.visible = t.active;
            browserrecord.state[s] = true;
            connection_ = c.id;
            tab_ = t.tab;
            doc_ = t.doc;
        }
    }
    return browserrecord.state[s];
}

bool ExtensionChannel::window_still_there(int shop) {
    // Every text names the form title and the extension checks it, so a tab
    // that closed or changed is found out by the next line, with a log line.
    return shop == shop_ && connection_ != 0;
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
    // Answers that have come are taken at once: the log list follows the
    // form, and a connection that dies loses only what was really unanswered.
    while (!failed_ && !flights_.empty() &&
           server_.answer_ready(flights_.front().connection, flights_.front().rid)) {
        if (!settle_first())
            return false;
    }
    if (failed_ || (flights_.size() >= kLinesAhead && !settle_first()))
        return false;
    const QString text = (shop == 0 ? RemovePraefix(line, progpar.praefix) : line) + QChar(u'\r');
    return post(text, line, true);
}

bool ExtensionChannel::paste_batch() {
    if (!settle_all())
        return false;
    const QString what =
        FormatS(QString::fromUtf8(txt::BatchLinesText), QString::number(BatchLines.size()));
    for (const QString& chunk : ChunkText(BatchLines.join(QString()), kChunkBytes)) {
        if (!post(chunk, what, false) || !settle_all())
            return false;
    }
    return true;
}

bool ExtensionChannel::await_last_paste() {
    settle_all();
    const bool arrived = !failed_;
    failed_ = false;
    return arrived;
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

bool ExtensionChannel::post(const QString& text, const QString& what, bool log_arrival) {
    const uint64_t handle = browserrecord.handle;
    qint64 seq = 0;
    if (unanswered_handle_ == handle && !unanswered_.empty() && unanswered_.front().text == text) {
        seq = unanswered_.front().seq;
        unanswered_.pop_front();
    } else {
        seq = ++seq_;
        // Any other text for that tab settles them: a later number applied
        // there would make the old ones count as duplicates.
        if (unanswered_handle_ == handle)
            unanswered_.clear();
    }

    if (connection_ == 0) {
        display().log_line(QString::fromUtf8(txt::NotSentNotConnected) + what);
        return false;
    }
    const auto s = static_cast<size_t>(shop_);
    QJsonObject request;
    request.insert(u"type", QStringLiteral("deliver"));
    request.insert(u"tab", double(tab_));
    request.insert(u"title", progpar.formtitle[s]);
    if (!doc_.isEmpty())
        request.insert(u"doc", doc_);
    request.insert(u"session", session_);
    request.insert(u"seq", double(seq));
    if (chain_ != 0 && chain_handle_ == handle)
        request.insert(u"after", double(chain_));
    request.insert(u"accessKey", progpar.accesskey[s].left(1));
    request.insert(u"text", text);
    InFlight f;
    f.clock.start();
    ExtensionServer::Reply failed = ExtensionServer::Reply::kClosed;
    f.rid = server_.post(connection_, request, kAnswerTimeoutMs, &failed);
    if (f.rid == 0) {
        // Unknown whether a part of it went out.
        unanswered_handle_ = handle;
        unanswered_.push_front({text, seq});
        if (failed == ExtensionServer::Reply::kClosed)
            browserrecord.state[s] = false;
        display().log_line(QString::fromUtf8(failed == ExtensionServer::Reply::kClosed
                                                 ? txt::NotSentNotConnected
                                                 : txt::NotSentNoAnswer) +
                           what);
        chain_ = 0;
        return false;
    }
    chain_handle_ = handle;
    chain_ = seq;
    f.sent = {text, seq};
    f.shop = shop_;
    f.connection = connection_;
    f.handle = handle;
    f.what = what;
    f.log_arrival = log_arrival;
    flights_.push_back(std::move(f));
    return true;
}

bool ExtensionChannel::settle_all() {
    while (!flights_.empty()) {
        if (!settle_first())
            return false;
    }
    return true;
}

bool ExtensionChannel::settle_first() {
    if (flights_.empty())
        return true;
    InFlight f = std::move(flights_.front());
    flights_.pop_front();
    QJsonObject answer;
    const ExtensionServer::Reply reply =
        server_.await_answer(f.connection, f.rid, f.clock, kAnswerTimeoutMs, &answer);
    DeliverResult result = DeliverResult::kNoAnswer;
    if (reply == ExtensionServer::Reply::kAnswer)
        result = ParseDeliverAnswer(answer, f.sent.seq);
    if (result == DeliverResult::kDelivered || result == DeliverResult::kDuplicate) {
        if (f.log_arrival)
            display().log_line(f.what);
        return true;
    }
    const char* why = WhyNotDelivered(result);
    if (result == DeliverResult::kNoAnswer && reply == ExtensionServer::Reply::kClosed)
        why = txt::NotSentNotConnected;
    // As a search would have found: the status list shows the form missing.
    if (result == DeliverResult::kNoTab || reply == ExtensionServer::Reply::kClosed)
        browserrecord.state[static_cast<size_t>(f.shop)] = false;
    display().log_line(QString::fromUtf8(why) + f.what);
    failed_ = true;
    chain_ = 0;

    // The texts sent after it were refused for want of it, or their fate is
    // unknown: none counts as arrived, and each keeps its number (for one
    // that was refused the number is still unused in the tab).
    std::deque<Text> unknown{f.sent};
    int gone = 1;
    while (!flights_.empty()) {
        InFlight later = std::move(flights_.front());
        flights_.pop_front();
        QJsonObject ignored;
        server_.await_answer(later.connection, later.rid, later.clock, kAnswerTimeoutMs, &ignored);
        unknown.push_back(later.sent);
        ++gone;
    }
    not_arrived_ += gone;
    // Older ones for the same tab, not sent again yet, stay behind them.
    if (unanswered_handle_ == f.handle)
        unknown.insert(unknown.end(), unanswered_.begin(), unanswered_.end());
    unanswered_handle_ = f.handle;
    unanswered_ = std::move(unknown);
    return false;
}

}  // namespace vt
