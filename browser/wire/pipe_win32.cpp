#include "browser/wire/pipe_win32.h"

#include <windows.h>
#include <sddl.h>

#include <QElapsedTimer>
#include <algorithm>
#include <vector>

namespace vt::wire {

namespace {

const wchar_t* W(const QString& s) { return reinterpret_cast<const wchar_t*>(s.utf16()); }

// The SID of the user a process runs as, as its bytes; empty when unreadable.
std::vector<BYTE> UserOf(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> info(size);
    std::vector<BYTE> sid;
    if (size != 0 && GetTokenInformation(token, TokenUser, info.data(), size, &size)) {
        const PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
        if (IsValidSid(user)) {
            const auto* bytes = static_cast<const BYTE*>(user);
            sid.assign(bytes, bytes + GetLengthSid(user));
        }
    }
    CloseHandle(token);
    return sid;
}

const std::vector<BYTE>& OurUser() {
    static const std::vector<BYTE> ours = UserOf(GetCurrentProcess());
    return ours;
}

bool ProcessIsOurs(ULONG pid) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    std::vector<BYTE> theirs = UserOf(process);
    CloseHandle(process);
    const std::vector<BYTE>& ours = OurUser();
    return !theirs.empty() && !ours.empty() &&
           EqualSid(reinterpret_cast<PSID>(theirs.data()), reinterpret_cast<PSID>(const_cast<BYTE*>(ours.data())));
}

QString SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString out = n ? QString::fromWCharArray(text, int(n)).trimmed()
                    : QStringLiteral("Fehler %1").arg(code);
    LocalFree(text);
    return out;
}

}  // namespace

QString CurrentUserSid() {
    const std::vector<BYTE>& ours = OurUser();
    if (ours.empty())
        return {};
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<PSID>(const_cast<BYTE*>(ours.data())), &text))
        return {};
    const QString out = QString::fromWCharArray(text);
    LocalFree(text);
    return out;
}

QString PipeName(const QString& program) {
    const QString sid = CurrentUserSid();
    if (sid.isEmpty())
        return {};
    return QStringLiteral("\\\\.\\pipe\\vantortrans-%1-%2").arg(sid, program);
}

bool PipeClientIsSameUser(void* pipe) {
    ULONG pid = 0;
    return GetNamedPipeClientProcessId(pipe, &pid) && ProcessIsOurs(pid);
}

bool PipeServerIsSameUser(void* pipe) {
    ULONG pid = 0;
    return GetNamedPipeServerProcessId(pipe, &pid) && ProcessIsOurs(pid);
}

PipePeerCheck ClientIsSameUser = PipeClientIsSameUser;

void* CreatePipeInstance(const QString& name, bool first, QString* error) {
    auto fail = [&](const QString& why) -> void* {
        if (error)
            *error = why;
        return nullptr;
    };
    const QString sid = CurrentUserSid();
    if (sid.isEmpty() || name.isEmpty())
        return fail(QStringLiteral("Benutzerkennung nicht lesbar"));
    const QString taken = name + QStringLiteral(": wird schon von einem anderen Programm verwendet");
    // The first instance's flag below refuses a taken name; Wine ignores
    // the flag, so the name is asked for first as well (a wait that takes
    // no instance from its server).
    if (first && (WaitNamedPipeW(W(name), 1) || GetLastError() != ERROR_FILE_NOT_FOUND))
        return fail(taken);
    // Protected, so nothing is inherited from the namespace's defaults: the
    // user alone may open the pipe or add an instance to it.
    const QString sddl = QStringLiteral("D:P(A;;GA;;;%1)").arg(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(W(sddl), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return fail(SystemMessage(GetLastError()));
    SECURITY_ATTRIBUTES sa{sizeof sa, descriptor, FALSE};
    DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    if (first)
        open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    const HANDLE pipe =
        CreateNamedPipeW(W(name), open_mode,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                         PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, &sa);
    const DWORD code = GetLastError();
    LocalFree(descriptor);
    if (pipe == INVALID_HANDLE_VALUE) {
        // The first instance's flag makes a taken name fail this way.
        if (code == ERROR_ACCESS_DENIED && first)
            return fail(taken);
        return fail(name + QStringLiteral(": ") + SystemMessage(code));
    }
    return pipe;
}

void* OpenPipe(const QString& name) {
    if (name.isEmpty())
        return nullptr;
    const HANDLE pipe = CreateFileW(W(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                    nullptr);
    return pipe == INVALID_HANDLE_VALUE ? nullptr : pipe;
}

struct PipeEnd::Io {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED read{};
    OVERLAPPED write{};
    bool reading = false;     // a connect or read is under way
    bool connected_early = false;
    char buffer[65536];
};

PipeEnd::PipeEnd(void* handle) : io_(std::make_unique<Io>()) {
    io_->pipe = handle;
    // Manual reset: a completion stays visible to whoever looks next.
    io_->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    io_->write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

PipeEnd::~PipeEnd() {
    // The system writes into the buffer and the OVERLAPPED until the
    // cancelled operation is over, so it must be over before they go.
    if (io_->reading) {
        DWORD n = 0;
        CancelIoEx(io_->pipe, &io_->read);
        GetOverlappedResult(io_->pipe, &io_->read, &n, TRUE);
    }
    CloseHandle(io_->pipe);
    CloseHandle(io_->read.hEvent);
    CloseHandle(io_->write.hEvent);
}

void* PipeEnd::handle() const { return io_->pipe; }
void* PipeEnd::read_event() const { return io_->read.hEvent; }

bool PipeEnd::StartConnect() {
    io_->connected_early = false;
    if (ConnectNamedPipe(io_->pipe, &io_->read)) {
        io_->reading = true;
        return true;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_IO_PENDING) {
        io_->reading = true;
        return true;
    }
    if (code == ERROR_PIPE_CONNECTED) {
        // A client came between creating the instance and this call; no
        // completion will be signalled for it.
        io_->connected_early = true;
        SetEvent(io_->read.hEvent);
        return true;
    }
    return false;
}

PipeEnd::State PipeEnd::TakeConnect() {
    if (io_->connected_early) {
        io_->connected_early = false;
        ResetEvent(io_->read.hEvent);
        return State::kDone;
    }
    if (!io_->reading)
        return State::kFailed;
    DWORD n = 0;
    if (GetOverlappedResult(io_->pipe, &io_->read, &n, FALSE)) {
        io_->reading = false;
        return State::kDone;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE)
        return State::kPending;
    io_->reading = false;
    return State::kFailed;
}

bool PipeEnd::StartRead() {
    if (ReadFile(io_->pipe, io_->buffer, sizeof io_->buffer, nullptr, &io_->read) ||
        GetLastError() == ERROR_IO_PENDING) {
        io_->reading = true;
        return true;
    }
    // Whoever waits on the event is to look, and learn that it is over.
    io_->reading = false;
    SetEvent(io_->read.hEvent);
    return false;
}

PipeEnd::State PipeEnd::TakeRead(QByteArray* data) {
    if (!io_->reading)
        return State::kFailed;
    DWORD n = 0;
    if (!GetOverlappedResult(io_->pipe, &io_->read, &n, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE)
            return State::kPending;
        io_->reading = false;
        return State::kFailed;
    }
    io_->reading = false;
    data->append(io_->buffer, qsizetype(n));
    // A read that fails at once leaves `reading` unset: the next Take says so.
    StartRead();
    return State::kDone;
}

PipeEnd::Write PipeEnd::WriteAll(const QByteArray& bytes, int timeout_ms, bool (*give_up)()) {
    QElapsedTimer clock;
    clock.start();
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        DWORD n = 0;
        if (!WriteFile(io_->pipe, bytes.constData() + sent, DWORD(bytes.size() - sent), nullptr,
                       &io_->write) &&
            GetLastError() != ERROR_IO_PENDING)
            return Write::kBroken;
        while (!GetOverlappedResult(io_->pipe, &io_->write, &n, FALSE)) {
            if (GetLastError() != ERROR_IO_INCOMPLETE)
                return Write::kBroken;
            const qint64 left = timeout_ms - clock.elapsed();
            if (left <= 0 || (give_up && give_up())) {
                CancelIoEx(io_->pipe, &io_->write);
                GetOverlappedResult(io_->pipe, &io_->write, &n, TRUE);
                return sent + qsizetype(n) == 0 ? Write::kTimeout : Write::kBroken;
            }
            WaitForSingleObject(io_->write.hEvent, DWORD(std::min<qint64>(left, 50)));
        }
        sent += qsizetype(n);
    }
    return Write::kDone;
}

}  // namespace vt::wire
