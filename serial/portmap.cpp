#include "serial/portmap.h"

#include "settings/options.h"
#include "settings/settingsstore.h"

QString deviceForPort(int port)
{
    const QString mapped = GetSetting(Options::PortMapping(port), QString()).trimmed();
    return mapped.isEmpty() ? defaultDeviceForPort(port) : mapped;
}
