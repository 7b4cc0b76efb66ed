// vantortrans-host: the native messaging host the browser starts for the
// VantorTrans extension. It relays the extension's messages to whichever
// brands of the program run for this user.

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstring>

#include "browser/host/host_ids.h"
#include "browser/host/relay.h"

namespace {

int PrintManifest(const char* browser) {
    QJsonObject m{{"name", vt::host::kHostName},
                  {"description", "VantorTrans: Scannerdaten in das Bestellformular übertragen"},
                  {"path", QCoreApplication::applicationFilePath()},
                  {"type", "stdio"}};
    if (std::strcmp(browser, "chromium") == 0) {
        m.insert("allowed_origins",
                 QJsonArray{QStringLiteral("chrome-extension://%1/").arg(vt::host::kChromiumExtensionId)});
    } else if (std::strcmp(browser, "firefox") == 0) {
        m.insert("allowed_extensions", QJsonArray{vt::host::kFirefoxExtensionId});
    } else {
        std::fprintf(stderr, "vantortrans-host: --print-manifest chromium|firefox\n");
        return 2;
    }
    std::fputs(QJsonDocument(m).toJson(QJsonDocument::Indented).constData(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--print-manifest") == 0) {
        return PrintManifest(argc >= 3 ? argv[2] : "");
    }
    // The browser passes its own arguments (the caller's origin, a manifest
    // path); there is nothing in them to act on.
    // A program that goes away while a write is under way must not kill the
    // host with SIGPIPE: the write fails and that connection is dropped.
    ::signal(SIGPIPE, SIG_IGN);
    vt::host::Relay relay(STDIN_FILENO, STDOUT_FILENO);
    return app.exec();
}
