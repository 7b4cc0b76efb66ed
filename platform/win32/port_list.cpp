#include "platform/port_list.h"

// clang-format off
#include <windows.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <map>
#include <vector>

#include "settings/messages.h"

namespace vt {
namespace {

QString FromWide(const wchar_t* s) { return QString::fromWCharArray(s); }

int ComNumber(const QString& name) {
    static const QRegularExpression re(QStringLiteral("^COM(\\d{1,3})$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(name);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

QString DevicePath(const QString& com) { return QStringLiteral("\\\\.\\") + com.toUpper(); }

// The device installer knows each port's friendly name ("USB Serial Port
// (COM4)"); keyed by port number.
std::map<int, QString> InstallerNames() {
    std::map<int, QString> out;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return out;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        wchar_t friendly[256] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendly),
                                               sizeof friendly - sizeof(wchar_t), nullptr))
            continue;
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t port[64] = {};
        DWORD size = sizeof port - sizeof(wchar_t);
        DWORD type = 0;
        const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                           reinterpret_cast<BYTE*>(port), &size) == ERROR_SUCCESS &&
                          type == REG_SZ;
        RegCloseKey(key);
        const QString name = FromWide(port);
        // Printer ports are of the same class; only COM ports count.
        if (read && name.startsWith(QLatin1String("COM")) && ComNumber(name) > 0)
            out[ComNumber(name)] = FromWide(friendly);
    }
    SetupDiDestroyDeviceInfoList(set);
    return out;
}

// The serial ports the system has started, with the kernel device behind
// each ("\Device\Serial0", "\Device\VCP0"), keyed by port number.
std::map<int, QString> SerialCommMap() {
    std::map<int, QString> out;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return out;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        wchar_t data[64] = {};
        DWORD name_len = 255;
        DWORD data_size = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, i, name, &name_len, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &data_size);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const int n = ComNumber(FromWide(data));
        if (n > 0)
            out[n] = FromWide(name);
    }
    RegCloseKey(key);
    return out;
}

// Every COM name the system resolves, with its target: ports the device map
// does not list (a virtual port, a port Wine maps by hand) are among them.
std::map<int, QString> DosDeviceMap() {
    std::map<int, QString> out;
    std::vector<wchar_t> names(65536);
    const DWORD n = QueryDosDeviceW(nullptr, names.data(), DWORD(names.size()));
    for (const wchar_t* name = names.data(); name < names.data() + n && *name;
         name += wcslen(name) + 1) {
        const int number = ComNumber(FromWide(name));
        if (number == 0)
            continue;
        wchar_t target[512] = {};
        QueryDosDeviceW(name, target, 511);
        out[number] = FromWide(target);
    }
    return out;
}

// A COM name that a program can open, or that another program holds.
// Windows lists every port it has in the namespace above, so this reaches
// the hardware of no port; Wine leaves out the ports mapped by hand.
bool Answers(const QString& com) {
    const QString path = DevicePath(com);
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                           0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(h);
    return true;
}

QString FriendlyFromKernelName(const QString& kernel) {
    if (kernel.contains(QLatin1String("USB"), Qt::CaseInsensitive) ||
        kernel.contains(QLatin1String("VCP"), Qt::CaseInsensitive))
        return QString::fromUtf8(txt::PortUsb);
    return QString::fromUtf8(txt::PortUart);
}

}  // namespace

PortListRoots& port_list_roots() {
    static PortListRoots roots;
    return roots;
}

std::vector<SerialDevice> PresentSerialDevices() {
    const std::map<int, QString> installer = InstallerNames();
    std::map<int, QString> started = DosDeviceMap();
    for (const auto& [n, kernel] : SerialCommMap())
        started[n] = kernel;
    for (int n = 1; n <= 100; ++n) {
        if (started.count(n) == 0 && installer.count(n) == 0 &&
            Answers(QStringLiteral("COM%1").arg(n)))
            started[n] = QString();
    }
    std::map<int, SerialDevice> by_number;
    for (const auto& [n, kernel] : started) {
        const QString com = QStringLiteral("COM%1").arg(n);
        by_number[n] = {com, DevicePath(com), FriendlyFromKernelName(kernel)};
    }
    for (const auto& [n, friendly] : installer) {
        const QString com = QStringLiteral("COM%1").arg(n);
        by_number[n] = {com, DevicePath(com), friendly};
    }
    std::vector<SerialDevice> out;
    for (auto& [n, d] : by_number)
        out.push_back(std::move(d));
    return out;
}

QString FriendlyNameOfPath(const QString& path) {
    QString com = path;
    if (com.startsWith(QLatin1String("\\\\.\\")))
        com = com.mid(4);
    const int n = ComNumber(com);
    if (n == 0)
        return QFileInfo::exists(path) ? path : QString();
    for (const SerialDevice& d : PresentSerialDevices()) {
        if (d.kernel_name.compare(com, Qt::CaseInsensitive) == 0)
            return d.friendly_name;
    }
    return Answers(com) ? path : QString();
}

bool CanOpenSerialDevice(const QString& path) {
    HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                           0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

}  // namespace vt
