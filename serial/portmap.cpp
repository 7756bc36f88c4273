#include "serial/portmap.h"

#include "settings/options.h"
#include "settings/settingsstore.h"

QString deviceForPort(int port)
{
    const QString mapped = GetSetting(Options::App, Options::PortsSection,
                                      QStringLiteral("COM%1").arg(port), QString())
                               .trimmed();
    return mapped.isEmpty() ? defaultDeviceForPort(port) : mapped;
}
