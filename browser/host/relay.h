#pragma once
// Relays between the extension (the browser's end on stdin/stdout) and every
// running program that listens in the socket folder. Requests from a program
// get its name as "app" on the way to the extension; answers are routed back
// by that name.

#include <QHash>
#include <QObject>
#include <QTimer>

#include "browser/host/fd_stream.h"

namespace vt::host {

class Relay : public QObject {
  public:
    Relay(int browser_in, int browser_out, QObject* parent = nullptr);

  private:
    void FromBrowser(const QByteArray& json);
    void FromProgram(const QString& app, FdStream* stream, const QByteArray& json);
    void Scan();
    void ConnectTo(const QString& app, const QString& path);
    void Drop(const QString& app, FdStream* stream);

    FdStream* browser_;
    QByteArray hello_;
    QHash<QString, FdStream*> programs_;
    QTimer scan_timer_;
};

}  // namespace vt::host
