#pragma once
// The program's side of the messages it exchanges with the browser
// extension's native host: cutting the host's frames into messages, reading
// the answers, building the requests. No sockets here, so every rule can be
// tested and fuzzed on plain bytes.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "browser/wire/wire.h"

namespace vt {

// What one connection from the host brings, frame by frame.
class ExtensionPeer {
  public:
    ExtensionPeer();

    struct Message {
        enum class Kind { kHello, kAnswer };
        Kind kind = Kind::kAnswer;
        QString browser;  // kHello: "chromium", "chrome", "edge", "firefox" or another name
        qint64 id = -1;   // kAnswer: the id of the request it answers
        QJsonObject body;
    };
    enum class Next { kNone, kMessage, kBroken };

    void feed(const char* data, qsizetype n);
    // The next message fed completely. kBroken: a frame longer than any
    // answer may be; the stream cannot be read on and must be closed.
    // Frames that are no message of ours are dropped and counted: the
    // program answers nothing, so a confused host cannot start a ping-pong.
    Next next(Message* message);
    int dropped() const { return dropped_; }

  private:
    wire::FrameReader reader_;
    bool broken_ = false;
    int dropped_ = 0;
};

// One tab of a "tabs" answer.
struct BrowserTab {
    qint64 tab = 0;
    qint64 window = 0;
    QString title;
    bool active = false;
    bool focused = false;
    // The page's load in the tab (empty from an extension that does not
    // tell): a page loaded again is another form.
    QString doc;
};

// The tabs of an answer, in its order; entries without a tab id or title
// are left out. False when the answer is no successful tabs answer.
bool ParseTabs(const QJsonObject& answer, std::vector<BrowserTab>* tabs);

// How a "deliver" request ended.
enum class DeliverResult {
    kDelivered,
    kDuplicate,  // the tab had applied this sequence number already
    kNoTab,
    kNoField,
    kNotReady,
    kRefused,    // a bad request, or an answer that makes no sense
    kNoAnswer,   // time-out, or the connection went away: outcome unknown
};
DeliverResult ParseDeliverAnswer(const QJsonObject& answer, qint64 seq);

// Cuts `text` at line ends (LF or CR) into pieces whose text, as a JSON
// string, stays within `max_bytes`; a single longer line is a piece of its
// own. Joined, the pieces are the text again.
QStringList ChunkText(const QString& text, qsizetype max_bytes);

// The browser's name as the status list shows it.
QString BrowserDisplayName(const QString& browser);

}  // namespace vt
