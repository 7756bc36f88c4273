#include "serial/commcontrol.h"

#include "serial/porterror.h"
#include "serial/portmap.h"

CommControl::CommControl(PortBackendFactory factory, DeviceResolver resolver)
    : m_factory(std::move(factory))
    , m_resolver(std::move(resolver))
{
}

CommControl::~CommControl() = default;

CommControl::DeviceResolver CommControl::deviceResolverFromStore()
{
    return [](int port) {
        return deviceForPort(port);
    };
}

QString CommControl::device() const
{
    return m_resolver(m_port);
}

void CommControl::setCommPort(int port)
{
    if (port < FirstPort || port > LastPort)
        throw PortError(PortError::InvalidPortNumber,
                        QStringLiteral("Invalid port number %1 (COM%2 to COM%3)")
                            .arg(port)
                            .arg(FirstPort)
                            .arg(LastPort));
    if (PortOpen())
        throw PortError(PortError::PortAlreadyOpen,
                        QStringLiteral("Port already open: close COM%1 first").arg(m_port));
    m_port = static_cast<std::int16_t>(port);
}

void CommControl::setSettings(const QString &text)
{
    const LineSettings settings = LineSettings::parse(text);
    if (m_backend)
        m_backend->applySettings(settings);
    m_settings = settings;
}

void CommControl::setPortOpen(bool open)
{
    if (!open) {
        if (m_backend) {
            auto backend = std::move(m_backend);
            backend->close();
        }
        return;
    }
    if (m_backend)
        throw PortError(PortError::PortAlreadyOpen,
                        QStringLiteral("Port already open: COM%1").arg(m_port));
    auto backend = m_factory(m_resolver(m_port));
    backend->open(m_settings, m_dtr, m_rts);
    m_backend = std::move(backend);
}

void CommControl::setDTREnable(bool high)
{
    if (m_backend)
        m_backend->setDtr(high);
    m_dtr = high;
}

void CommControl::setRTSEnable(bool high)
{
    if (m_backend)
        m_backend->setRts(high);
    m_rts = high;
}

void CommControl::Output(const QByteArray &bytes)
{
    if (!m_backend)
        throw PortError(PortError::PortNotOpen,
                        QStringLiteral("Cannot write: COM%1 is not open").arg(m_port));
    m_backend->write(bytes);
}
