#pragma once
// Points the program's INI file at a fresh folder whose [Ports] section maps
// COM names to test devices (pseudo-terminals, links to them), and puts the
// program-wide port state back afterwards.

#include <QDir>
#include <QTemporaryDir>
#include <stdexcept>

#include "links/serial_link.h"
#include "platform/profile_file.h"
#include "settings/settings.h"

namespace vt::test {

class ComPorts {
public:
    ComPorts() : saved_start_(StartDir), saved_ini_(IniName), saved_progpar_(progpar) {
        if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
        StartDir = WithTrailingSeparator(dir_.path());
        IniName = QStringLiteral("VantorTrans.ini");
        PortClosed = false;
        AppClosing = false;
    }
    ~ComPorts() {
        ComClose(ComHandle);
        ComHandle = 0;
        StartDir = saved_start_;
        IniName = saved_ini_;
        progpar = saved_progpar_;
        PortClosed = false;
        AppClosing = false;
    }
    ComPorts(const ComPorts&) = delete;
    ComPorts& operator=(const ComPorts&) = delete;

    void map(const QString& com, const QString& device) {
        ProfileFile ini(IniPath());
        if (!ini.write_string(u"Ports", com, device)) throw std::runtime_error("ini");
    }
    QString folder() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QString saved_start_;
    QString saved_ini_;
    progparstruct saved_progpar_;
};

}  // namespace vt::test
