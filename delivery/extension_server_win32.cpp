// The program's end of the browser channel on Windows. Its transport (a
// named pipe for the user alone) is not built yet, so the server never
// listens: the channel stays "nicht verbunden", nothing is read from the
// scanner for the shops and nothing is cleared.
#include <QElapsedTimer>

#include "delivery/extension_server.h"

namespace vt {

ExtensionServer::ExtensionServer(const QString& program, QObject* parent)
    : QObject(parent), program_(program) {}

ExtensionServer::~ExtensionServer() = default;

bool ExtensionServer::listen(QString* error) {
    if (error)
        *error = QStringLiteral("unter Windows noch nicht verfügbar");
    return false;
}

void ExtensionServer::close() {}

std::vector<ExtensionServer::Connection> ExtensionServer::connections() const { return {}; }

ExtensionServer::Reply ExtensionServer::request(int, QJsonObject, int, QJsonObject*) {
    return Reply::kClosed;
}

qint64 ExtensionServer::post(int, QJsonObject, int, Reply* failed) {
    *failed = Reply::kClosed;
    return 0;
}

ExtensionServer::Reply ExtensionServer::await_answer(int, qint64, const QElapsedTimer&, int,
                                                     QJsonObject*) {
    return Reply::kClosed;
}

bool ExtensionServer::answer_ready(int, qint64) { return true; }

}  // namespace vt
