#include "serial/portmap.h"

#include "settings/options.h"
#include "settings/settingsstore.h"

QString deviceForPort(int port)
{
    return deviceForPort(GetSetting(Options::PortMapping(port), QString()), port);
}

QString deviceForPort(const QString &mapping, int port)
{
    const QString mapped = mapping.trimmed();
    return mapped.isEmpty() ? defaultDeviceForPort(port) : mapped;
}
