// What the program's end of the browser channel does the same on every
// system: the hello, which connection counts, requests with their numbers
// and the bounded wait for an answer. The transport is in
// extension_server.cpp (Linux) and extension_server_win32.cpp.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>

#include "browser/wire/wire.h"
#include "delivery/delivery_rules.h"
#include "delivery/extension_server.h"
#include "settings/settings.h"

namespace vt {

bool ExtensionServer::take_messages(int id, bool closed) {
    Link& link = links_.at(id);
    ExtensionPeer::Message m;
    for (;;) {
        const ExtensionPeer::Next next = link.peer.next(&m);
        if (next == ExtensionPeer::Next::kNone)
            break;
        if (next == ExtensionPeer::Next::kBroken) {
            closed = true;
            break;
        }
        if (m.kind == ExtensionPeer::Message::Kind::kHello) {
            link.hello = true;
            link.browser = m.browser;
            link.kind = BrowserKindOf(m.browser);
            link.order = next_order_++;
        } else if (link.hello && link.awaited.count(m.id) != 0) {
            // Answers that came too late for their request are of no use.
            link.answers[m.id] = m.body;
        }
    }
    if (closed) {
        drop(id);
        return false;
    }
    return true;
}

void ExtensionServer::drop(int id) {
    auto it = links_.find(id);
    if (it == links_.end())
        return;
    for (auto& [rid, body] : it->second.answers)
        orphaned_[{id, rid}] = std::move(body);
    release(id);
}

std::vector<ExtensionServer::Connection> ExtensionServer::connections() const {
    std::map<int, const std::pair<const int, Link>*> newest;
    for (const auto& entry : links_) {
        const Link& link = entry.second;
        if (!link.hello)
            continue;
        auto [at, fresh] = newest.emplace(link.kind, &entry);
        if (!fresh && at->second->second.order < link.order)
            at->second = &entry;
    }
    std::vector<Connection> out;
    for (const auto& [kind, entry] : newest)
        out.push_back({entry->first, kind, entry->second.browser});
    return out;
}

ExtensionServer::Reply ExtensionServer::request(int id, QJsonObject request, int timeout_ms,
                                                QJsonObject* answer) {
    QElapsedTimer sent;
    sent.start();
    Reply failed = Reply::kClosed;
    const qint64 rid = post(id, std::move(request), timeout_ms, &failed);
    if (rid == 0)
        return failed;
    return await_answer(id, rid, sent, timeout_ms, answer);
}

qint64 ExtensionServer::post(int id, QJsonObject request, int timeout_ms, Reply* failed) {
    *failed = Reply::kClosed;
    auto it = links_.find(id);
    if (it == links_.end())
        return 0;
    const qint64 rid = next_request_++;
    request.insert(u"id", double(rid));
    it->second.awaited.insert(rid);
    if (!send_all(id, wire::Frame(QJsonDocument(request).toJson(QJsonDocument::Compact)),
                  timeout_ms)) {
        it = links_.find(id);
        if (it == links_.end())
            return 0;
        it->second.awaited.erase(rid);
        *failed = Reply::kTimeout;
        return 0;
    }
    return rid;
}

ExtensionServer::Reply ExtensionServer::await_answer(int id, qint64 rid, const QElapsedTimer& sent,
                                                     int timeout_ms, QJsonObject* answer) {
    for (;;) {
        auto it = links_.find(id);
        if (it == links_.end()) {
            auto orphan = orphaned_.find({id, rid});
            if (orphan == orphaned_.end())
                return Reply::kClosed;
            *answer = orphan->second;
            orphaned_.erase(orphan);
            return Reply::kAnswer;
        }
        Link& link = it->second;
        auto found = link.answers.find(rid);
        if (found != link.answers.end()) {
            *answer = found->second;
            link.answers.erase(found);
            link.awaited.erase(rid);
            return Reply::kAnswer;
        }
        const qint64 left = timeout_ms - sent.elapsed();
        if (left <= 0 || AppClosing) {
            link.awaited.erase(rid);
            return Reply::kTimeout;
        }
        if (wait_readable(link, int(std::min<qint64>(left, 10)))) {
            if (!read_from(id))
                return Reply::kClosed;
            continue;
        }
        // The window stays alive while the browser takes its time.
        QCoreApplication::processEvents();
    }
}

bool ExtensionServer::answer_ready(int id, qint64 rid) {
    auto it = links_.find(id);
    if (it != links_.end() && it->second.answers.count(rid) == 0) {
        if (wait_readable(it->second, 0) && !read_from(id))
            return true;
        it = links_.find(id);
    }
    return it == links_.end() || it->second.answers.count(rid) != 0;
}

}  // namespace vt
