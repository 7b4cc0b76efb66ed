// Plays a running program's end of the browser channel in a process of its
// own, so a test can play it as another user (the user of a Wayland session
// it started):
//
//   wire_program NAME   listens on the socket of program NAME, prints
//                       "listening", then the host's hello as one line; then
//                       sends each line read from stdin as a request (a JSON
//                       object, its "id" set here) and prints the answer as
//                       one line ("none" when none came within 5 s)

#include <QCoreApplication>
#include <QJsonDocument>
#include <cstdio>
#include <string>

#include "tests/support/program_socket.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: wire_program NAME\n");
        return 2;
    }
    QString error;
    if (!vt::wire::EnsureSocketDir(&error)) {
        std::fprintf(stderr, "wire_program: %s\n", qPrintable(error));
        return 1;
    }
    vt::test::ProgramSocket program(vt::wire::SocketPath(QString::fromLocal8Bit(argv[1])));
    if (!program.listening()) return 1;
    std::printf("listening\n");
    std::fflush(stdout);
    if (!program.Accept(60000)) return 1;
    const auto hello = program.ReadFrame(5000);
    std::printf("%s\n", hello ? hello->constData() : "none");
    std::fflush(stdout);
    char line[1 << 16];
    while (std::fgets(line, sizeof line, stdin)) {
        const QJsonObject request = QJsonDocument::fromJson(QByteArray(line).trimmed()).object();
        const auto answer = program.Ask(request, 5000);
        std::printf("%s\n", answer ? QJsonDocument(*answer).toJson(QJsonDocument::Compact).constData() : "none");
        std::fflush(stdout);
    }
    return 0;
}
