// What the browser extension's host may send the program, as a byte stream
// cut into pieces of a size the input chooses: frames of any length, JSON
// that is broken, of the wrong shape or of the right one, answers with odd
// ids, tab lists with odd entries. Every message is read as the channel
// reads it (a tab list and a delivery answer), and every text in it is cut
// into the pieces a batch would go in.
//
// Input: the piece size (1 to 256), the chunk limit for the texts (8 to
// 2048 bytes), then the stream.

#include <QJsonArray>
#include <QJsonObject>
#include <vector>

#include "delivery/extension_peer.h"
#include "fuzz/fuzz_support.h"

using vt::fuzz::Check;

namespace {

// The pieces a text would be sent in: together the text again, and each
// within the limit unless it is a single line.
void CheckChunks(const QString& text, qsizetype limit) {
    const QStringList chunks = vt::ChunkText(text, limit);
    Check(chunks.join(QString()) == text, "the pieces rejoin to the text");
    for (const QString& c : chunks) {
        Check(!c.isEmpty(), "no piece is empty");
        Check(vt::ChunkText(c, limit).size() == 1, "a piece is not cut again");
    }
}

void Walk(const QJsonValue& v, qsizetype limit, int depth) {
    if (depth > 4)
        return;
    if (v.isString()) {
        CheckChunks(v.toString(), limit);
    } else if (v.isArray()) {
        for (const QJsonValue& e : v.toArray())
            Walk(e, limit, depth + 1);
    } else if (v.isObject()) {
        for (const QJsonValue& e : v.toObject())
            Walk(e, limit, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vt::fuzz::InputBytes in(data, size);
    const size_t piece = size_t(in.byte()) + 1;
    const qsizetype limit = 8 + qsizetype(in.byte()) * 8;
    vt::ExtensionPeer peer;
    bool broken = false;
    const uint8_t* at = nullptr;
    for (size_t n = in.take(piece, &at); n > 0; n = in.take(piece, &at)) {
        peer.feed(reinterpret_cast<const char*>(at), qsizetype(n));
        vt::ExtensionPeer::Message m;
        for (;;) {
            const vt::ExtensionPeer::Next next = peer.next(&m);
            if (next == vt::ExtensionPeer::Next::kNone)
                break;
            if (next == vt::ExtensionPeer::Next::kBroken) {
                broken = true;
                break;
            }
            Check(!broken, "a broken stream gives no more messages");
            if (m.kind == vt::ExtensionPeer::Message::Kind::kHello) {
                Check(m.body.value(u"type").toString() == u"hello", "a hello says so");
                continue;
            }
            Check(m.body.value(u"id").isDouble(), "an answer has a numeric id");
            std::vector<vt::BrowserTab> tabs;
            if (!vt::ParseTabs(m.body, &tabs))
                Check(tabs.empty(), "a refused tab list leaves no tabs");
            vt::ParseDeliverAnswer(m.body, qint64(m.body.value(u"seq").toDouble()));
            Walk(m.body, limit, 0);
        }
    }
    return 0;
}
