#pragma once
// The host manifest a browser finds the host by: its name, the host's path
// and the extension allowed to start it.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vt::host {

// The browsers named on this system's command line ("chromium", "firefox";
// on Windows also "chrome" and "edge", which take the Chromium manifest).
QStringList ManifestBrowsers();

// The manifest for `browser` naming the host at `path`, as indented JSON;
// empty for a browser not in ManifestBrowsers().
QByteArray Manifest(const QString& browser, const QString& path);

}  // namespace vt::host
