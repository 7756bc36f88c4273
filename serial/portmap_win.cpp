#include "serial/portmap.h"

QString defaultDeviceForPort(int port)
{
    return QStringLiteral("\\\\.\\COM%1").arg(port);
}

// Windows keeps no console on a serial port.
bool isSystemConsole(const QString &)
{
    return false;
}
