#include "serial/serialdevices.h"

#include "serial/portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

// usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 -> FTDI FT232R USB UART A50285BI
QString adapterName(QString link)
{
    static const QRegularExpression bus(QStringLiteral("^(usb|pci|platform)-"));
    static const QRegularExpression interface(QStringLiteral("(-if[0-9a-fA-F]+)?(-port[0-9]+)?$"));
    link.remove(bus);
    link.remove(interface);
    link.replace(QLatin1Char('_'), QLatin1Char(' '));
    return link.trimmed();
}

} // namespace

QList<SerialDevice> serialDevices(const QString &root)
{
    const QDir dev(root.isEmpty() ? QStringLiteral("/dev") : root);
    QList<SerialDevice> devices;
    QSet<QString> named; // the devices a by-id name already stands for

    const QDir byId(dev.filePath(QStringLiteral("serial/by-id")));
    for (const QFileInfo &link : byId.entryInfoList(QDir::Files | QDir::System, QDir::Name)) {
        const QString target = link.canonicalFilePath();
        if (target.isEmpty() || isSystemConsole(target))
            continue; // unplugged since, or the console
        named.insert(target);
        // The device the name points at, as the system names it (ttyUSB0).
        const QString device = QFileInfo(link.symLinkTarget()).fileName();
        devices.append({link.absoluteFilePath(),
                        QStringLiteral("%1 (%2)").arg(adapterName(link.fileName()), device)});
    }

    const QStringList patterns{QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")};
    for (const QFileInfo &node :
         dev.entryInfoList(patterns, QDir::Files | QDir::System, QDir::Name)) {
        const QString target = node.canonicalFilePath();
        if (target.isEmpty() || named.contains(target) || isSystemConsole(target))
            continue;
        devices.append({node.absoluteFilePath(),
                        QStringLiteral("USB serial device (%1)").arg(node.fileName())});
    }
    return devices;
}
