#include "platform/port_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "settings/messages.h"

namespace vt {
namespace {

QString ReadAttribute(const QString& dir, const char* name) {
    QFile f(dir + u'/' + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).trimmed();
}

// A 16550-style driver registers ttyS0..ttyS31 whether or not a UART answers
// behind them; only those with a known port type are real.
bool HasUart(const QString& tty_dir) {
    const QString type = ReadAttribute(tty_dir, "type");
    bool ok = false;
    return type.toInt(&ok) != 0 && ok;
}

// The USB device above the tty's interface carries the product and maker.
QString UsbName(const QString& tty_dir) {
    QString dir = QFileInfo(tty_dir + QStringLiteral("/device")).canonicalFilePath();
    for (int depth = 0; !dir.isEmpty() && depth < 6; ++depth) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor"))) {
            const QString product = ReadAttribute(dir, "product");
            const QString maker = ReadAttribute(dir, "manufacturer");
            if (!product.isEmpty() && !maker.isEmpty())
                return product + " (" + maker + ")";
            if (!product.isEmpty())
                return product;
            if (!maker.isEmpty())
                return maker;
            break;
        }
        const qsizetype cut = dir.lastIndexOf(u'/');
        if (cut <= 0)
            break;
        dir.truncate(cut);
    }
    return QString::fromUtf8(txt::PortUsb);
}

}  // namespace

PortListRoots& port_list_roots() {
    static PortListRoots roots;
    return roots;
}

std::vector<SerialDevice> PresentSerialDevices() {
    const PortListRoots& roots = port_list_roots();
    std::vector<SerialDevice> out;
    const QStringList names =
        QDir(roots.sysfs_tty)
            .entryList(
                {QStringLiteral("ttyS*"), QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString sys = roots.sysfs_tty + u'/' + name;
        const QString node = roots.dev + u'/' + name;
        if (!QFileInfo::exists(node))
            continue;
        if (name.startsWith(QLatin1String("ttyS"))) {
            if (!HasUart(sys))
                continue;
            out.push_back({name, node, QString::fromUtf8(txt::PortUart)});
        } else {
            out.push_back({name, node, UsbName(sys)});
        }
    }
    return out;
}

QString FriendlyNameOfPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return {};
    for (const SerialDevice& d : PresentSerialDevices()) {
        if (QFileInfo(d.path).canonicalFilePath() == canonical)
            return d.friendly_name;
    }
    if (canonical.startsWith(QLatin1String("/dev/pts/"))) {
        return QString::fromUtf8(txt::PortPseudoTerminal) + u' ' + path;
    }
    return path;
}

bool CanOpenSerialDevice(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

}  // namespace vt
