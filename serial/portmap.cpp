#include "serial/portmap.h"

#include "settings/options.h"
#include "settings/settingsstore.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

QString defaultDeviceForPort(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString deviceForPort(int port)
{
    const QString mapped = GetSetting(Options::App, Options::PortsSection,
                                      QStringLiteral("COM%1").arg(port), QString())
                               .trimmed();
    return mapped.isEmpty() ? defaultDeviceForPort(port) : mapped;
}

bool isSystemConsole(const QString &device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return false;
#else
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return false;
    if (target == QStringLiteral("/dev/console"))
        return true;
    QFile active(QStringLiteral("/sys/class/tty/console/active"));
    if (!active.open(QIODevice::ReadOnly))
        return false;
    const QString names = QString::fromLocal8Bit(active.read(4096));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (const QString &name : names.split(blanks, Qt::SkipEmptyParts)) {
        if (QFileInfo(QStringLiteral("/dev/") + name).canonicalFilePath() == target)
            return true;
    }
    return false;
#endif
}
