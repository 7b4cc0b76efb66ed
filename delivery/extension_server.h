#pragma once
// The program's end of the browser channel: a Unix domain socket in the
// user's runtime folder, readable by the owner only (on Windows a named pipe
// of the user's alone), on which the browser's native host connects. A
// connection from another user is closed unread.
// Each connection first says which browser it serves; requests go out with
// an id and their answer is awaited for a bounded time, pumping the event
// queue as the program's other waits do.

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "delivery/extension_peer.h"

class QElapsedTimer;
class QSocketNotifier;
class QWinEventNotifier;

namespace vt {

namespace wire {
class PipeEnd;
}

class ExtensionServer : public QObject {
  public:
    // `program` names the socket (VantorTrans, MiraboTrans, DoerfalTrans).
    explicit ExtensionServer(const QString& program, QObject* parent = nullptr);
    ~ExtensionServer() override;

    // Starts listening; false with the reason in `error` when the folder or
    // the socket cannot be used (a program of this name already listens, the
    // folder is another user's or open to others, no runtime folder).
    bool listen(QString* error = nullptr);
#ifdef Q_OS_WIN
    bool listening() const { return waiting_ != nullptr; }
#else
    bool listening() const { return listen_fd_ >= 0; }
#endif
    QString path() const { return path_; }
    // Stops listening, closes every connection and removes the socket.
    void close();

    struct Connection {
        int id = 0;
        int kind = 0;     // browser kind, 0 when no kind stands for the browser
        QString browser;  // as the extension named it
    };
    // The connections that have said hello and count: the newest of each
    // browser kind, in the order of the kinds.
    std::vector<Connection> connections() const;

    enum class Reply { kAnswer, kTimeout, kClosed };
    // Sends `request` (a JSON object without id; the id is added here) on
    // connection `id` and waits up to `timeout_ms` for its answer.
    Reply request(int id, QJsonObject request, int timeout_ms, QJsonObject* answer);

    // The same in two steps, so that the caller can go on while the answer
    // is on its way. `post` gives the request's number, or 0 when it could
    // not be sent (`*failed` says why); `await_answer` waits for the answer
    // until `timeout_ms` after `sent` and must follow every post that gave
    // a number. An answer nobody awaits any more is thrown away.
    qint64 post(int id, QJsonObject request, int timeout_ms, Reply* failed);
    Reply await_answer(int id, qint64 rid, const QElapsedTimer& sent, int timeout_ms,
                       QJsonObject* answer);
    // Whether await_answer would return at once: the answer is there, or
    // the connection is gone. Reads what has arrived, never waits.
    bool answer_ready(int id, qint64 rid);

    // Connections refused because they came from another user.
    int refused() const { return refused_; }

  private:
    // The transport is the system's: a Unix domain socket on Linux, a named
    // pipe on Windows (extension_server_win32.cpp).
    struct Link {
#ifdef Q_OS_WIN
        std::unique_ptr<wire::PipeEnd> pipe;
        QWinEventNotifier* notifier = nullptr;
#else
        int fd = -1;
        QSocketNotifier* notifier = nullptr;
#endif
        ExtensionPeer peer;
        bool hello = false;
        int kind = 0;
        QString browser;
        uint64_t order = 0;  // of the hello, to find the newest
        std::set<qint64> awaited;  // posted, answer not yet taken
        std::map<qint64, QJsonObject> answers;
    };

    void accept_waiting();
    // Reads what the connection has sent; false when it was closed.
    bool read_from(int id);
    // Takes the hello and the awaited answers out of what connection `id`
    // has read, then drops it when it was `closed` or its stream is broken;
    // false then (extension_server_common.cpp).
    bool take_messages(int id, bool closed);
    // Whether something arrived on the connection within `ms`.
    bool wait_readable(const Link& link, int ms);
    void drop(int id);
    // Stops the link's notifier, closes its transport and forgets it.
    void release(int id);
    bool send_all(int id, const QByteArray& bytes, qint64 deadline_ms);

#ifdef Q_OS_WIN
    // Creates the instance that waits for the next client; `first` when the
    // name must not be taken yet.
    bool wait_for_client(bool first, QString* error);
    std::unique_ptr<wire::PipeEnd> waiting_;
    QWinEventNotifier* waiting_notifier_ = nullptr;
#endif

    QString program_;
    QString path_;
#ifndef Q_OS_WIN
    int listen_fd_ = -1;
    QSocketNotifier* listen_notifier_ = nullptr;
#endif
    std::map<int, Link> links_;
    // Answers that had arrived on a connection when it closed, until they
    // are awaited.
    std::map<std::pair<int, qint64>, QJsonObject> orphaned_;
    int next_link_ = 1;
    uint64_t next_order_ = 1;
    qint64 next_request_ = 1;
    int refused_ = 0;
};

}  // namespace vt
