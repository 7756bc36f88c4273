#include "serial/commcontrol.h"

#include "serial/porterror.h"
#include "serial/portmap.h"

#include <exception>

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
    if (!localPortTakes(settings) && !isRemoteAddress(m_resolver(m_port)))
        throw PortError(PortError::InvalidPropertyValue,
                        QStringLiteral("Invalid settings %1: COM%2 is a local port, which has one "
                                       "or two stop bits")
                            .arg(text.trimmed())
                            .arg(m_port));
    if (m_backend)
        m_backend->applySettings(settings);
    m_settings = settings;
}

void CommControl::setPortOpen(bool open)
{
    if (!open) {
        if (m_backend) {
            auto backend = std::move(m_backend);
            // A closed port leaves the radio in receive, and the next open must not key it
            // again: the lines are dropped here and recorded low.
            try {
                if (m_rts)
                    backend->setRts(false);
                if (m_dtr)
                    backend->setDtr(false);
            } catch (const std::exception &) {
            }
            m_dtr = m_rts = false;
            backend->close();
        }
        return;
    }
    if (m_backend)
        throw PortError(PortError::PortAlreadyOpen,
                        QStringLiteral("Port already open: COM%1").arg(m_port));
    auto backend = m_factory(m_resolver(m_port));
    const quint64 generation = ++m_generation;
    // The backend may notice the loss in the middle of one of its own calls: the port is
    // dropped afterwards, from the event loop.
    backend->setLostHandler([this, generation](const QString &why) {
        QMetaObject::invokeMethod(
            this, [this, generation, why] { dropLostBackend(generation, why); },
            Qt::QueuedConnection);
    });
    backend->open(m_settings, m_dtr, m_rts);
    m_backend = std::move(backend);
    Q_EMIT portOpened();
}

void CommControl::dropLostBackend(quint64 generation, const QString &why)
{
    if (!m_backend || generation != m_generation)
        return;
    auto backend = std::move(m_backend);
    try {
        backend->close();
    } catch (const std::exception &) {
    }
    // The radio's lines went down with the port; reopening must not raise them again unasked.
    m_dtr = false;
    m_rts = false;
    Q_EMIT portLost(why);
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

void CommControl::holdOutput()
{
    if (m_backend)
        m_backend->holdOutput();
}

void CommControl::releaseOutput()
{
    if (m_backend)
        m_backend->releaseOutput();
}
