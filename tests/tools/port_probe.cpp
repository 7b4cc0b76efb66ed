// Opens a port as the program's open timer does, as a separate process, so a
// test can do it as another user or hold a port while the test process tries.
//
//   port_probe open COM5 DEVICE   prints the status bar text of the attempt
//   port_probe hold COM5 DEVICE   opens the port, prints "held", keeps it
//                                 until its standard input closes

#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "settings/messages.h"
#include "links/port_control.h"
#include "links/serial_link.h"
#include "platform/profile_file.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "open") != 0 && std::strcmp(argv[1], "hold") != 0)) {
        std::fprintf(stderr, "usage: port_probe open|hold COMn DEVICE\n");
        return 2;
    }
    const QString port = QString::fromLocal8Bit(argv[2]);
    // The port name reaches the device through the INI file's [Ports], as
    // in the program.
    QTemporaryDir dir;
    if (!dir.isValid()) return 2;
    vt::StartDir = vt::WithTrailingSeparator(dir.path());
    vt::IniName = QStringLiteral("VantorTrans.ini");
    if (!vt::ProfileFile(vt::IniPath()).write_string(u"Ports", port, QString::fromLocal8Bit(argv[3])))
        return 2;
    vt::ComHandle = vt::ComOpen(port, 115200);
    const QString text = vt::ComHandle == -1 ? vt::PortOpenFailedText(port)
                                             : QStringLiteral(" ") + vt::Text(vt::msg::PortOpened);
    if (std::strcmp(argv[1], "open") == 0) {
        std::printf("%s\n", text.toUtf8().constData());
        vt::ComClose(vt::ComHandle);
        return 0;
    }
    if (vt::ComHandle == -1) {
        std::printf("%s\n", text.toUtf8().constData());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    char c;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
    vt::ComClose(vt::ComHandle);
    return 0;
}
