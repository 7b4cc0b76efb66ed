// Plays a running program's end of the browser channel on Windows with the
// program's own server (delivery/extension_server.h), in a process of its
// own, so that the native host can be tested on its own under Wine:
//
//   channel_program NAME   listens as program NAME and prints "listening",
//                          or "failed: <why>"; then the browser of the first
//                          host's hello as "hello <browser>"; then sends each
//                          line read from stdin as a request (a JSON object)
//                          and prints its answer as one line, or "timeout" /
//                          "closed"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QThread>
#include <cstdio>

#include "delivery/extension_server.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: channel_program NAME\n");
        return 2;
    }
    vt::ExtensionServer server(QString::fromLocal8Bit(argv[1]));
    QString error;
    if (!server.listen(&error)) {
        std::printf("failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("listening\n");
    std::fflush(stdout);
    QElapsedTimer waited;
    waited.start();
    while (server.connections().empty()) {
        if (waited.elapsed() > 60000)
            return 1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    const int id = server.connections().front().id;
    std::printf("hello %s\n", qPrintable(server.connections().front().browser));
    std::fflush(stdout);
    char line[1 << 16];
    while (std::fgets(line, sizeof line, stdin)) {
        const QJsonObject request = QJsonDocument::fromJson(QByteArray(line).trimmed()).object();
        QJsonObject answer;
        switch (server.request(id, request, 5000, &answer)) {
            case vt::ExtensionServer::Reply::kAnswer:
                std::printf("%s\n", QJsonDocument(answer).toJson(QJsonDocument::Compact).constData());
                break;
            case vt::ExtensionServer::Reply::kTimeout:
                std::printf("timeout\n");
                break;
            case vt::ExtensionServer::Reply::kClosed:
                std::printf("closed\n");
                break;
        }
        std::fflush(stdout);
    }
    return 0;
}
