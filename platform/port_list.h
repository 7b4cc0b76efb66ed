#pragma once
// The serial devices present on this machine, for the port list of the
// settings dialog. Which COM name each one carries is decided above this seam.

#include <QString>
#include <vector>

namespace vt {

struct SerialDevice {
    QString kernel_name;    // "ttyS0", "ttyUSB1", "ttyACM0"
    QString path;           // the device node
    QString friendly_name;  // what the user reads beside the COM name
};

// /dev/ttyS* with a real UART behind them, /dev/ttyUSB* and /dev/ttyACM*
// whose device node exists, ordered by kernel name.
std::vector<SerialDevice> PresentSerialDevices();

// The text shown for a device named by path (a hand-mapped port): a present
// serial device's own name, "Pseudo-Terminal" with the path for a
// pseudo-terminal, otherwise the path. Empty when no such device exists.
QString FriendlyNameOfPath(const QString& path);

// True when the device can be opened for reading and writing right now.
bool CanOpenSerialDevice(const QString& path);

// Where the lists are read from; tests point these at a made-up tree.
struct PortListRoots {
    QString sysfs_tty = QStringLiteral("/sys/class/tty");
    QString dev = QStringLiteral("/dev");
};
PortListRoots& port_list_roots();

}  // namespace vt
