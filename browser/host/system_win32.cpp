// The host on Windows: stdin read by a thread of its own (a pipe handle
// cannot wake the event loop), the programs found by their pipe names, and
// the registration of the host for the current user.

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QMetaObject>
#include <QStandardPaths>
#include <QWinEventNotifier>
#include <cstdio>
#include <memory>
#include <thread>

#include "browser/host/host_ids.h"
#include "browser/host/manifest.h"
#include "browser/host/relay.h"
#include "browser/host/system.h"
#include "browser/wire/pipe_win32.h"

namespace vt::host {

namespace {

// The brands whose pipes each scan tries.
const char* const kPrograms[] = {"VantorTrans", "MiraboTrans", "DoerfalTrans"};

// How long a program may take to make room in its pipe for a message of
// ours before it is counted as gone.
constexpr int kWriteTimeoutMs = 5000;

const wchar_t* W(const QString& s) { return reinterpret_cast<const wchar_t*>(s.utf16()); }

// The browser's end. The reader thread blocks in ReadFile and hands each
// piece to the main thread; writes to stdout are done at once, the browser
// reads them as they come.
class StdioStream : public Stream {
  public:
    StdioStream() : Stream(wire::kMaxFromBrowser) {
        in_ = GetStdHandle(STD_INPUT_HANDLE);
        out_ = GetStdHandle(STD_OUTPUT_HANDLE);
        // Never joined: it may be blocked in ReadFile when the host ends,
        // which ends it with the process.
        std::thread([this] { ReadLoop(); }).detach();
    }

    void Send(const QByteArray& json) override {
        if (ended()) {
            return;
        }
        const QByteArray bytes = wire::Frame(json);
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            DWORD n = 0;
            if (!WriteFile(out_, bytes.constData() + sent, DWORD(bytes.size() - sent), &n, nullptr) || n == 0) {
                Finish(End::kError);
                return;
            }
            sent += qsizetype(n);
        }
    }

  private:
    void ReadLoop() {
        std::unique_ptr<char[]> buffer(new char[65536]);
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(in_, buffer.get(), 65536, &n, nullptr) || n == 0) {
                QMetaObject::invokeMethod(this, [this] { Finish(End::kClosed); }, Qt::QueuedConnection);
                return;
            }
            QByteArray piece(buffer.get(), qsizetype(n));
            QMetaObject::invokeMethod(
                this, [this, piece] { Received(piece.constData(), piece.size()); }, Qt::QueuedConnection);
        }
    }
    void Stop() override {}

    HANDLE in_;
    HANDLE out_;
};

// The connection to one program's pipe.
class PipeStream : public Stream {
  public:
    explicit PipeStream(void* handle) : Stream(wire::kMaxToBrowser), pipe_(handle) {
        notifier_ = new QWinEventNotifier(pipe_.read_event(), this);
        connect(notifier_, &QWinEventNotifier::activated, this, [this] { ReadReady(); });
        // A pipe closed already is seen by the notifier: the stream ends
        // from the event loop, as one closed later does.
        pipe_.StartRead();
    }

    void Send(const QByteArray& json) override {
        if (ended()) {
            return;
        }
        if (pipe_.WriteAll(wire::Frame(json), kWriteTimeoutMs) != wire::PipeEnd::Write::kDone) {
            Finish(End::kError);
        }
    }

  private:
    void ReadReady() {
        for (;;) {
            QByteArray data;
            const wire::PipeEnd::State state = pipe_.TakeRead(&data);
            if (state == wire::PipeEnd::State::kPending) {
                return;
            }
            if (state == wire::PipeEnd::State::kFailed) {
                Finish(End::kClosed);
                return;
            }
            if (!Received(data.constData(), data.size())) {
                return;
            }
        }
    }
    void Stop() override { notifier_->setEnabled(false); }

    wire::PipeEnd pipe_;
    QWinEventNotifier* notifier_;
};

// The registry keys the browsers look up a host of the current user in, and
// the manifest each one reads.
struct Registration {
    const char* browser;
    const wchar_t* key;
};
const Registration kRegistrations[] = {
    {"chrome", L"Software\\Google\\Chrome\\NativeMessagingHosts\\de.vantortrans.host"},
    {"edge", L"Software\\Microsoft\\Edge\\NativeMessagingHosts\\de.vantortrans.host"},
    {"chromium", L"Software\\Chromium\\NativeMessagingHosts\\de.vantortrans.host"},
    {"firefox", L"Software\\Mozilla\\NativeMessagingHosts\\de.vantortrans.host"},
};

// The manifests go into a folder of the user's own, not beside the host:
// an installed host lies in Program Files, where the user may not write, and
// one host may serve several brands' folders. Each names the host that
// registered it, by its full path.
QString ManifestFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/VantorTrans/NativeMessagingHosts");
}

QString ManifestFile(const char* browser) {
    return ManifestFolder() + QStringLiteral("/%1.%2.json").arg(QLatin1String(kHostName), QLatin1String(browser));
}

int Register() {
    const QString host = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    if (!QDir().mkpath(ManifestFolder())) {
        std::fprintf(stderr, "vantortrans-host: %s cannot be created\n", qPrintable(ManifestFolder()));
        return 1;
    }
    for (const Registration& r : kRegistrations) {
        const QString file = ManifestFile(r.browser);
        QSaveFile out(file);
        const QByteArray manifest = Manifest(QLatin1String(r.browser), host);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(manifest) != manifest.size() ||
            !out.commit()) {
            std::fprintf(stderr, "vantortrans-host: %s cannot be written\n", qPrintable(file));
            return 1;
        }
        HKEY key = nullptr;
        const QString value = QDir::toNativeSeparators(file);
        const DWORD bytes = DWORD((value.size() + 1) * sizeof(wchar_t));
        if (RegCreateKeyExW(HKEY_CURRENT_USER, r.key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
                ERROR_SUCCESS ||
            RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(W(value)), bytes) !=
                ERROR_SUCCESS) {
            if (key) {
                RegCloseKey(key);
            }
            std::fprintf(stderr, "vantortrans-host: HKCU\\%s cannot be written\n",
                         qPrintable(QString::fromWCharArray(r.key)));
            return 1;
        }
        RegCloseKey(key);
    }
    return 0;
}

int Unregister() {
    int code = 0;
    for (const Registration& r : kRegistrations) {
        const LSTATUS removed = RegDeleteKeyW(HKEY_CURRENT_USER, r.key);
        if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
            std::fprintf(stderr, "vantortrans-host: HKCU\\%s cannot be removed\n",
                         qPrintable(QString::fromWCharArray(r.key)));
            code = 1;
        }
        QFile::remove(ManifestFile(r.browser));
    }
    QDir().rmdir(ManifestFolder());
    return code;
}

}  // namespace

QStringList ManifestBrowsers() {
    return {QStringLiteral("chrome"), QStringLiteral("edge"), QStringLiteral("chromium"),
            QStringLiteral("firefox")};
}

int SystemOption(const QString& option) {
    if (option == QLatin1String("--register")) {
        return Register();
    }
    if (option == QLatin1String("--unregister")) {
        return Unregister();
    }
    return -1;
}

int RunRelay(QCoreApplication& app) {
    // The length before each message is binary: no CR may be added or taken.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    auto* browser = new StdioStream;  // lives as long as its reader thread
    Relay relay(browser);
    const int code = app.exec();
    // The reader may still be blocked in ReadFile, holding the stream: the
    // process ends here rather than in the destructors.
    std::fflush(stdout);
    ExitProcess(UINT(code));
}

void Relay::Scan() {
    for (const char* program : kPrograms) {
        const QString app = QString::fromLatin1(program);
        if (Connected(app)) {
            continue;
        }
        // Nobody serves it, or every instance is taken: tried at the next scan.
        void* pipe = wire::OpenPipe(wire::PipeName(app));
        if (!pipe) {
            continue;
        }
        // The name holds our SID, but anyone may have made it first.
        if (!wire::PipeServerIsSameUser(pipe)) {
            std::fprintf(stderr, "vantortrans-host: %s is served by another user, not used\n", program);
            CloseHandle(pipe);
            continue;
        }
        Attach(app, new PipeStream(pipe));
    }
}

}  // namespace vt::host
