#include "settings/get_ports.h"

#include <QRegularExpression>

#include "settings/messages.h"
#include "platform/port_list.h"
#include "platform/profile_file.h"
#include "settings/settings.h"

namespace vt {

int PortNumberOf(QStringView text) {
    int n = 0;
    int digits = 0;
    for (qsizetype i = 3; i < text.size() && text[i].isDigit(); ++i) {
        // More digits than any port has: keep the value out of range, never overflow.
        if (++digits > 6)
            return 1000000;
        n = n * 10 + text[i].digitValue();
    }
    return n;
}

int ComPortNumber(QStringView port) {
    const int n = PortNumberOf(port);
    return n >= 1 && n <= kComPortCount ? n : 1;
}

std::optional<int> TypedComNumber(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^\\s*COM(\\d{1,3})\\s*$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int n = m.captured(1).toInt();
    if (n < 1 || n > kComPortCount)
        return std::nullopt;
    return n;
}

QString ComPortEntry(const QString& port_name, const QString& friendly_name) {
    const char* separator =
        port_name.size() == 4 ? txt::PortSeparatorShort : txt::PortSeparatorLong;
    return port_name + QString::fromUtf8(separator) + friendly_name;
}

int DefaultComNumber(QStringView kernel_name) {
    struct Family {
        QStringView prefix;
        int first;
    };
    // Windows names its ports itself: COM7 is port 7.
    static constexpr Family families[] = {
        {u"ttyUSB", 33}, {u"ttyACM", 65}, {u"ttyS", 1}, {u"COM", 0}};
    for (const Family& f : families) {
        if (!kernel_name.startsWith(f.prefix))
            continue;
        const QStringView rest = kernel_name.mid(f.prefix.size());
        bool ok = false;
        const int index = rest.toInt(&ok);
        if (!ok || rest.isEmpty() || !rest.front().isDigit())
            return 0;
        if (f.first == 0)
            return index >= 1 && index <= kComPortCount ? index : 0;
        if (index < 0 || index > 31)
            return 0;
        return f.first + index;
    }
    return 0;
}

std::map<int, QString> ReadPortMap(const ProfileFile& ini) {
    std::map<int, QString> out;
    for (int n = 1; n <= kComPortCount; ++n) {
        const QString path = ini.read_string(u"Ports", QStringLiteral("COM%1").arg(n), QString());
        if (!path.isEmpty())
            out[n] = path;
    }
    return out;
}

std::optional<QStringList> EnumerateComPorts(bool onlyOpenable) {
    const std::map<int, QString> mapped = ReadPortMap(ProfileFile(IniPath()));
    QStringList list;
    auto add = [&](int n, const QString& path, const QString& friendly) {
        if (onlyOpenable && !CanOpenSerialDevice(path))
            return;
        list << ComPortEntry(QStringLiteral("COM%1").arg(n), friendly);
    };
    for (const auto& [n, path] : mapped) {
        const QString friendly = FriendlyNameOfPath(path);
        if (!friendly.isEmpty())
            add(n, path, friendly);
    }
    for (const SerialDevice& d : PresentSerialDevices()) {
        const int n = DefaultComNumber(d.kernel_name);
        // A COM name mapped by hand opens that device, not this one.
        if (n == 0 || mapped.count(n) != 0)
            continue;
        add(n, d.path, d.friendly_name);
    }
    if (list.isEmpty())
        return std::nullopt;
    return list;
}

void SortComPortList(QStringList& list) {
    const qsizetype count = list.size();
    for (qsizetype pass = 1; pass < count; ++pass) {
        for (qsizetype i = 0; i + 1 < count; ++i) {
            const QString& a = list[i];
            const QString& b = list[i + 1];
            if (a.startsWith(QLatin1String("COM")) && b.startsWith(QLatin1String("COM")) &&
                PortNumberOf(a) > PortNumberOf(b)) {
                list.swapItemsAt(i, i + 1);
            }
        }
    }
}

}  // namespace vt
