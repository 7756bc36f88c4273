#include "serial/commcontrol.h"

#include "serial/porterror.h"
#include "serial/portfailure.h"
#include "serial/portmap.h"

#include <exception>
#include <utility>

CommControl::CommControl(PortBackendFactory factory, DeviceResolver resolver)
    : m_factory(std::move(factory))
    , m_resolver(std::move(resolver))
{
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(RetryIntervalMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &CommControl::retry);
    m_keptTimer.setSingleShot(true);
    m_keptTimer.setInterval(0);
    connect(&m_keptTimer, &QTimer::timeout, this, &CommControl::closeKept);
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
    // A valid new choice ends the tries for the old port.
    stopRetrying();
    if (PortOpen())
        throw PortError(PortError::PortAlreadyOpen,
                        QStringLiteral("Port already open: close COM%1 first").arg(m_port));
    m_port = static_cast<std::int16_t>(port);
}

void CommControl::setSettings(const QString &text)
{
    const LineSettings settings = LineSettings::parse(text);
    if (const QString why = localPortRefusal(settings);
        !why.isEmpty() && !isRemoteAddress(m_resolver(m_port)))
        throw PortError(PortError::InvalidPropertyValue,
                        QStringLiteral("Invalid settings %1 for COM%2: %3")
                            .arg(text.trimmed())
                            .arg(m_port)
                            .arg(why));
    stopRetrying();
    if (m_backend)
        m_backend->applySettings(settings);
    m_settings = settings;
}

void CommControl::setPortOpen(bool open)
{
    stopRetrying();
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
            if (backend->keptAcrossReopen()) {
                m_kept = std::move(backend);
                m_keptSettings = m_settings;
                m_keptTimer.start();
            } else {
                backend->close();
            }
        }
        m_input.clear();
        return;
    }
    if (m_backend)
        throw PortError(PortError::PortAlreadyOpen,
                        QStringLiteral("Port already open: COM%1").arg(m_port));
    openBackend();
    Q_EMIT portOpened();
}

void CommControl::openBackend()
{
    const QString address = m_resolver(m_port);
    auto backend = takeKept(address);
    if (backend) {
        // Its lines are low since the close; only what changed meanwhile is sent.
        try {
            if (m_settings != m_keptSettings)
                backend->applySettings(m_settings);
            if (m_rts)
                backend->setRts(true);
            if (m_dtr)
                backend->setDtr(true);
        } catch (const std::exception &) {
            backend->close(); // gone meanwhile: a new connection then, as for any open
            backend.reset();
        }
    }
    const bool kept = backend != nullptr;
    if (!kept)
        backend = m_factory(address);
    const quint64 generation = ++m_generation;
    // The backend may notice a loss, or finish a slow open, in the middle of one of its own
    // calls: the port object hears of it afterwards, from the event loop.
    backend->setLostHandler([this, generation](const QString &why, bool wasWorking) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, why, wasWorking] { dropLostBackend(generation, why, wasWorking); },
            Qt::QueuedConnection);
    });
    backend->setReadyHandler([this, generation] {
        QMetaObject::invokeMethod(
            this, [this, generation] { backendReady(generation); }, Qt::QueuedConnection);
    });
    backend->setDataHandler(
        [this, generation](const QByteArray &bytes) { takeInput(generation, bytes); });
    m_input.clear();
    if (!kept)
        backend->open(m_settings, m_dtr, m_rts);
    m_backend = std::move(backend);
    m_address = address;
}

// The kept connection when it serves `address`; any other is closed.
std::unique_ptr<PortBackend> CommControl::takeKept(const QString &address)
{
    if (m_kept && m_address == address && m_kept->keptAcrossReopen()) {
        m_keptTimer.stop();
        return std::move(m_kept);
    }
    closeKept();
    return nullptr;
}

void CommControl::closeKept()
{
    m_keptTimer.stop();
    if (auto kept = std::move(m_kept)) {
        try {
            kept->close();
        } catch (const std::exception &) {
        }
    }
}

void CommControl::dropLostBackend(quint64 generation, const QString &why, bool wasWorking)
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
    if (m_retrying) {
        retryFailed(why); // a slow reopen that did not finish: the next try
        return;
    }
    if (!wasWorking) {
        Q_EMIT openFailed(why);
        return;
    }
    // Trying again already when the loss is said, so whoever hears of it sees the port as it is.
    m_retrying = true;
    m_retryTimer.start();
    Q_EMIT portLost(why);
}

void CommControl::backendReady(quint64 generation)
{
    if (!m_backend || generation != m_generation || !m_retrying)
        return;
    m_retrying = false;
    m_retryReasons.clear();
    Q_EMIT portOpened();
    Q_EMIT portBack();
}

// One try at reopening a lost port: lines low, nothing sent. A port that is slow to answer
// finishes in the background.
void CommControl::retry()
{
    if (!m_retrying || m_backend)
        return;
    try {
        openBackend();
    } catch (const std::exception &error) {
        retryFailed(QString::fromStdString(error.what()));
        return;
    }
    if (!m_backend->opening())
        backendReady(m_generation);
}

// Each reason is said once while the port stays away, so the log shows why it does not come back
// without a line every two seconds.
void CommControl::retryFailed(const QString &why)
{
    if (!m_retryReasons.contains(why)) {
        m_retryReasons.insert(why);
        logPortFailures("reopening the lost port", {why});
    }
    m_retryTimer.start();
}

void CommControl::stopRetrying()
{
    m_retryReasons.clear();
    if (!m_retrying)
        return;
    m_retrying = false;
    m_retryTimer.stop();
    if (auto backend = std::move(m_backend)) {
        try {
            backend->close();
        } catch (const std::exception &) {
        }
    }
}

void CommControl::setDTREnable(bool high)
{
    if (PortOpen())
        m_backend->setDtr(high);
    m_dtr = high;
}

void CommControl::setRTSEnable(bool high)
{
    if (PortOpen())
        m_backend->setRts(high);
    m_rts = high;
}

void CommControl::Output(const QByteArray &bytes)
{
    if (!PortOpen())
        throw PortError(PortError::PortNotOpen,
                        QStringLiteral("Cannot write: COM%1 is not open").arg(m_port));
    m_backend->write(bytes);
}

// May come from inside a call of the backend's: kept here, announced from the event loop.
void CommControl::takeInput(quint64 generation, const QByteArray &bytes)
{
    if (generation != m_generation)
        return;
    m_input += bytes;
    if (m_input.size() > InputLimit)
        m_input.remove(0, m_input.size() - InputLimit);
    if (std::exchange(m_inputAnnounced, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_inputAnnounced = false;
            if (!m_input.isEmpty())
                Q_EMIT inputArrived();
        },
        Qt::QueuedConnection);
}

QByteArray CommControl::Input()
{
    return std::exchange(m_input, {});
}

void CommControl::holdOutput()
{
    if (PortOpen())
        m_backend->holdOutput();
}

void CommControl::releaseOutput()
{
    if (PortOpen())
        m_backend->releaseOutput();
}
