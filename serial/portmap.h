#pragma once

#include <QString>

// Port numbers to devices: section [Ports] of the options store may map "COM<n>" to a device
// path or an rfc2217://HOST:PORT address. Without an entry COM<n> is the platform's own
// (/dev/ttyS<n-1> on Linux, \\.\COM<n> on Windows).
QString deviceForPort(int port);
// The same for a mapping already read: blank stands for the platform's own.
QString deviceForPort(const QString &mapping, int port);
QString defaultDeviceForPort(int port);

// True for the device the system console runs on; the port object never opens it.
bool isSystemConsole(const QString &device);
