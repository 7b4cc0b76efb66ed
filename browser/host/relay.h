#pragma once
// Relays between the extension (the browser's end on stdin/stdout) and every
// running program: those listening in the socket folder on Linux, those
// serving their pipe on Windows. Requests from a program get its name as
// "app" on the way to the extension; answers are routed back by that name.

#include <QHash>
#include <QObject>
#include <QTimer>

#include "browser/host/stream.h"

namespace vt::host {

class Relay : public QObject {
  public:
    // `browser` stays the caller's and must outlive the relay.
    explicit Relay(Stream* browser, QObject* parent = nullptr);

  private:
    void FromBrowser(const QByteArray& json);
    void FromProgram(const QString& app, Stream* stream, const QByteArray& json);
    // Looks for programs not connected yet (the system's side, in
    // system_unix.cpp or system_win32.cpp) and attaches each one found.
    void Scan();
    bool Connected(const QString& app) const { return programs_.contains(app); }
    // Takes `stream` (parented to the relay) as the connection to `app` and
    // greets it with the browser's hello.
    void Attach(const QString& app, Stream* stream);
    void Drop(const QString& app, Stream* stream);

    Stream* browser_;
    QByteArray hello_;
    QHash<QString, Stream*> programs_;
    QTimer scan_timer_;
};

}  // namespace vt::host
