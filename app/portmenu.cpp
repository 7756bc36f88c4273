#include "app/portmenu.h"

#include "serial/hostport.h"
#include "serial/portmap.h"

#include <QFileInfo>
#include <QInputDialog>

PortMenu::PortMenu(int port, const QString &mapping, const QList<SerialDevice> &devices,
                   QWidget *parent)
    : QMenu(parent)
{
    const QString current = mapping.trimmed();
    setObjectName(QStringLiteral("PortMenu"));
    addSection(QStringLiteral("COM%1 is").arg(port));
    // The port opens RFC2217:// as it opens rfc2217://; so the menu shows it as a network radio.
    const bool network = current.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive);
    // A hand-made mapping may name the same device another way (/dev/ttyUSB0 for a by-id name).
    const QString target = QFileInfo(current).canonicalFilePath();
    const auto inUse = [&](const QString &path) {
        return path == current
               || (!target.isEmpty() && QFileInfo(path).canonicalFilePath() == target);
    };
    bool shown = current.isEmpty() || network;
    for (const SerialDevice &device : devices) {
        QAction *choice = addAction(device.description);
        choice->setCheckable(true);
        choice->setChecked(inUse(device.path));
        choice->setToolTip(device.path);
        shown = shown || inUse(device.path);
        const QString path = device.path;
        connect(choice, &QAction::triggered, this, [this, path] { Q_EMIT mapped(path); });
    }
    if (devices.isEmpty())
        addAction(QStringLiteral("No serial adapter found"))->setEnabled(false);
    if (!shown) {
        QAction *gone =
            addAction(target.isEmpty() ? QStringLiteral("%1 (not present)").arg(current) : current);
        gone->setCheckable(true);
        gone->setChecked(true);
        gone->setEnabled(false);
    }
    addSeparator();
    QAction *remote = addAction(network ? QStringLiteral("Network radio (%1)...").arg(current)
                                        : QStringLiteral("Network radio (RFC 2217)..."));
    remote->setCheckable(true);
    remote->setChecked(network);
    connect(remote, &QAction::triggered, this, &PortMenu::networkWanted);
    QAction *standard = addAction(QStringLiteral("Default (%1)").arg(defaultDeviceForPort(port)));
    standard->setCheckable(true);
    standard->setChecked(current.isEmpty());
    connect(standard, &QAction::triggered, this, [this] { Q_EMIT mapped(QString()); });
}

QString PortMenu::networkAddress(const QString &text)
{
    QString address = text.trimmed();
    const QLatin1String scheme("rfc2217://");
    if (address.startsWith(scheme, Qt::CaseInsensitive))
        address = address.mid(scheme.size());
    const auto parsed = parseHostPort(address);
    return parsed ? scheme + parsed->text() : QString();
}

void PortMenu::askNetworkAddress(QWidget *window, int port, const QString &mapping,
                                 std::function<void(const QString &)> typed)
{
    auto *dialog = new QInputDialog(window);
    dialog->setObjectName(QStringLiteral("NetworkRadioDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Network radio"));
    dialog->setLabelText(QStringLiteral("COM%1 is a radio on a serial port server (ser2net with "
                                        "RFC 2217).\nServer address, HOST:PORT (port 1 to 65535; "
                                        "IPv6 in brackets, [::1]:2217):")
                             .arg(port));
    const QLatin1String scheme("rfc2217://");
    dialog->setTextValue(mapping.startsWith(scheme, Qt::CaseInsensitive) ? mapping.mid(scheme.size())
                                                                         : QString());
    QObject::connect(dialog, &QInputDialog::textValueSelected, dialog, std::move(typed));
    dialog->open();
}
