#pragma once
// The port list of the settings dialog: 100 entries "COM1".."COM100", of
// which the present ports carry a descriptive text. The position of an entry,
// not its text, decides which port is chosen.

#include <QString>
#include <QStringList>
#include <map>
#include <optional>

class QComboBox;

namespace vt {

class ProfileFile;

inline constexpr int kComPortCount = 100;

// The number formed by every digit from the fourth character on ("COM12" and
// "COM12  :  USB" give 12, "COM100" gives 100); 0 when the fourth character is
// not a digit. The first three characters are not examined.
int PortNumberOf(QStringView text);

// The port number 1..100 of a port name; any other name gives 1.
int ComPortNumber(QStringView port);

// The number of a port name typed by hand ("COM7", "com7"), when it names one
// of the 100 ports.
std::optional<int> TypedComNumber(const QString& text);

// "COM3  :  friendly" / "COM12 :  friendly": the colons line up for one- and
// two-digit numbers.
QString ComPortEntry(const QString& port_name, const QString& friendly_name);

// The COM number a present device carries when [Ports] does not say
// otherwise: ttyS0..31 are COM1..32, ttyUSB0..31 COM33..64, ttyACM0..31
// COM65..96; a Windows port name COMn is port n. 0 for any other device.
int DefaultComNumber(QStringView kernel_name);

// The hand-made mapping of the INI's [Ports] section, COM number -> path.
std::map<int, QString> ReadPortMap(const ProfileFile& ini);

// One entry per present port under its COM name: every port mapped in
// [Ports] whose device exists, then every present serial device whose default
// COM name is not mapped elsewhere. Nothing when no port qualifies.
std::optional<QStringList> EnumerateComPorts(bool onlyOpenable);

// Orders the entries that begin with "COM" by port number; equal numbers keep
// their order.
void SortComPortList(QStringList& list);

// Puts the descriptive entries into the 100-entry port list, keeping the
// selected entry selected. Widgets library only.
void FillComboBoxCom(QComboBox& box);

}  // namespace vt
