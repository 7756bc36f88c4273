#include "serial/portmap.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

QString defaultDeviceForPort(int port)
{
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

bool isSystemConsole(const QString &device)
{
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
}
