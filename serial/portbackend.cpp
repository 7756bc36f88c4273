#include "serial/portbackend.h"

#include "serial/localportbackend.h"
#include "serial/porterror.h"
#include "serial/rfc2217portbackend.h"

#include <QRegularExpression>

std::unique_ptr<PortBackend> createPortBackend(const QString &address)
{
    if (address.startsWith(QStringLiteral("rfc2217://"), Qt::CaseInsensitive))
        return std::make_unique<Rfc2217PortBackend>(address);
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (scheme.match(address).hasMatch())
        throw PortError(PortError::InvalidPortNumber,
                        QStringLiteral("No serial port can be reached at %1").arg(address));
    if (address.isEmpty())
        throw PortError(PortError::InvalidPortNumber, QStringLiteral("No device for the port"));
    return std::make_unique<LocalPortBackend>(address);
}
