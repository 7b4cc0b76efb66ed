#pragma once
// Where the program and the native host meet on Windows: a named pipe per
// brand and user, \\.\pipe\vantortrans-<user SID>-<program>. The pipe
// namespace is the whole machine's, so the user's SID in the name keeps the
// users apart, the pipe's DACL lets no other user open or add an instance,
// and each end still asks who runs the process at the other end.
//
// Handles are passed as void* so that <windows.h> stays out of the users of
// this header.

#include <QByteArray>
#include <QString>
#include <memory>

namespace vt::wire {

// This process's user as a SID string (S-1-5-21-...); empty when unreadable.
QString CurrentUserSid();
// The pipe of `program` for this user; empty when the SID is unreadable.
QString PipeName(const QString& program);

// Whether the process at the other end of the connected pipe `pipe` runs as
// this process's user: the program asks it of a client, the host of the
// server it connected to.
bool PipeClientIsSameUser(void* pipe);
bool PipeServerIsSameUser(void* pipe);

// The check the program makes of every client before it reads a byte.
// Wine runs every process as one user, so a test puts in a check of its own
// to play another user's client.
using PipePeerCheck = bool (*)(void* pipe);
extern PipePeerCheck ClientIsSameUser;

// A new instance of the pipe `name` for overlapped I/O: open to this user
// alone (its DACL), to local clients only. `first`: fails when the name is
// taken already, so that a second program of the same name never shares
// the clients of the first. nullptr with the reason in `error`.
void* CreatePipeInstance(const QString& name, bool first, QString* error);

// Opens the pipe `name` as a client for overlapped I/O, allowing the server
// no more than to identify us; nullptr when nobody serves it now.
void* OpenPipe(const QString& name);

// One end of a pipe with at most one read and one write under way. The read
// event is set when a connect or read has completed; Take* never wait.
class PipeEnd {
  public:
    explicit PipeEnd(void* handle);  // opened for overlapped I/O; owned from now on
    ~PipeEnd();                      // cancels what is under way and closes
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;

    void* handle() const;
    void* read_event() const;

    enum class State { kPending, kDone, kFailed };
    // A server instance: waits for the next client.
    bool StartConnect();
    State TakeConnect();

    // Starts the next read; false when the pipe is closed.
    bool StartRead();
    // What the read under way brought, appended to `data` (and the next read
    // started); kFailed once the other end has closed.
    State TakeRead(QByteArray* data);

    enum class Write { kDone, kTimeout, kBroken };
    // Writes all of `bytes` within `timeout_ms`, waiting in steps of 50 ms
    // and asking `give_up` between them. kTimeout only when nothing of them
    // went out: a frame cut in the middle leaves the stream unusable, and is
    // kBroken.
    Write WriteAll(const QByteArray& bytes, int timeout_ms, bool (*give_up)() = nullptr);

  private:
    struct Io;
    std::unique_ptr<Io> io_;
};

}  // namespace vt::wire
