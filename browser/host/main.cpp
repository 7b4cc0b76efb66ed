// vantortrans-host: the native messaging host the browser starts for the
// VantorTrans extension. It relays the extension's messages to whichever
// brands of the program run for this user.

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "browser/host/manifest.h"
#include "browser/host/system.h"

namespace {

int PrintManifest(const QString& browser) {
    const QByteArray manifest = vt::host::Manifest(browser, QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    if (manifest.isEmpty()) {
        std::fprintf(stderr, "vantortrans-host: --print-manifest %s\n",
                     qPrintable(vt::host::ManifestBrowsers().join(u'|')));
        return 2;
    }
    std::fwrite(manifest.constData(), 1, size_t(manifest.size()), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 2 && args[1] == QLatin1String("--print-manifest")) {
        return PrintManifest(args.value(2));
    }
    if (args.size() >= 2) {
        const int code = vt::host::SystemOption(args[1]);
        if (code >= 0) {
            return code;
        }
    }
    // The browser passes its own arguments (the caller's origin, a manifest
    // path); there is nothing in them to act on.
    return vt::host::RunRelay(app);
}
