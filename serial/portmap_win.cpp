#include "serial/portmap.h"

QString defaultDeviceForPort(int port)
{
    return QStringLiteral("\\\\.\\COM%1").arg(port);
}

// \\.\COMn names no file: only opening the port tells whether it is there.
bool deviceMissing(const QString &)
{
    return false;
}

// Windows keeps no console on a serial port.
bool isSystemConsole(const QString &)
{
    return false;
}
