#include "serial/portbackend.h"

#include "serial/porterror.h"
#include "serial/portmap.h"
#include "serial/rfc2217portbackend.h"

#include <QRegularExpression>

bool isRemoteAddress(const QString &address)
{
    return address.trimmed().startsWith(QStringLiteral("rfc2217://"), Qt::CaseInsensitive);
}

std::unique_ptr<PortBackend> createPortBackend(const QString &address)
{
    if (isRemoteAddress(address))
        return std::make_unique<Rfc2217PortBackend>(address);
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (scheme.match(address).hasMatch())
        throw PortError(PortError::InvalidPortNumber,
                        QStringLiteral("No serial port can be reached at %1").arg(address));
    if (address.isEmpty())
        throw PortError(PortError::InvalidPortNumber, QStringLiteral("No device for the port"));
    // One rule for every local back end: the system console is never opened.
    if (isSystemConsole(address))
        throw PortError(
            PortError::PortUnavailable,
            QStringLiteral("Refusing to open %1: it is the system console").arg(address));
    return createLocalPortBackend(address);
}
