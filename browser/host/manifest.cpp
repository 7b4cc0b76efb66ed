#include "browser/host/manifest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "browser/host/host_ids.h"

namespace vt::host {

QByteArray Manifest(const QString& browser, const QString& path) {
    if (!ManifestBrowsers().contains(browser)) {
        return {};
    }
    QJsonObject m{{"name", kHostName},
                  {"description", "VantorTrans: Scannerdaten in das Bestellformular übertragen"},
                  {"path", path},
                  {"type", "stdio"}};
    if (browser == QLatin1String("firefox")) {
        m.insert("allowed_extensions", QJsonArray{kFirefoxExtensionId});
    } else {
        m.insert("allowed_origins",
                 QJsonArray{QStringLiteral("chrome-extension://%1/").arg(kChromiumExtensionId)});
    }
    return QJsonDocument(m).toJson(QJsonDocument::Indented);
}

}  // namespace vt::host
