#pragma once

#include "serial/linesettings.h"
#include "serial/portbackend.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

// The serial port object the window talks to the radio through. It keeps the port number, the
// line settings and both line states whether the port is open or not; opening applies them.
// Closing drops both lines, so opening again never keys the radio. A network port closed and
// opened again on the same address in one step (a settings edit) keeps its connection.
// Every failure raises PortError and leaves the previous state in place.
class CommControl : public QObject
{
    Q_OBJECT
public:
    using DeviceResolver = std::function<QString(int port)>;

    static constexpr int FirstPort = 1;
    static constexpr int LastPort = 16;

    explicit CommControl(PortBackendFactory factory = createPortBackend,
                         DeviceResolver resolver = deviceResolverFromStore());
    ~CommControl() override;

    // 1-based port number (1 = COM1). Accepts FirstPort..LastPort while the port is closed.
    std::int16_t CommPort() const { return m_port; }
    void setCommPort(int port);

    // Line settings text; see LineSettings for the grammar. Applied at once while open.
    QString Settings() const { return m_settings.toText(); }
    void setSettings(const QString &text);

    // A port being reopened after a loss counts as closed until it is back.
    bool PortOpen() const { return m_backend != nullptr && !m_retrying; }
    void setPortOpen(bool open);
    // A lost port being tried again every RetryIntervalMs.
    bool retrying() const { return m_retrying; }
    // The device or network address a port number stands for now, and the port's own.
    QString deviceFor(int port) const { return m_resolver(port); }
    QString device() const { return m_resolver(m_port); }

    bool DTREnable() const { return m_dtr; }
    void setDTREnable(bool high);
    bool RTSEnable() const { return m_rts; }
    void setRTSEnable(bool high);

    // Writes the bytes as given, nothing added. Raises while the port is closed.
    void Output(const QByteArray &bytes);
    // Takes what the radio has sent since the last call. Only the newest InputLimit bytes are
    // kept: what nobody asks for is dropped. A port closed or reopened starts empty.
    QByteArray Input();
    int InBufferCount() const { return int(m_input.size()); }
    static constexpr int InputLimit = 1024;

    // Lets the line changes and data between the two calls reach the radio together where the
    // port can do that. releaseOutput() raises when what was gathered cannot be sent.
    void holdOutput();
    void releaseOutput();

    static DeviceResolver deviceResolverFromStore();

    static constexpr int RetryIntervalMs = 2000;

Q_SIGNALS:
    // The open port went away by itself; it is closed now, with both lines recorded low. It is
    // tried again every RetryIntervalMs, lines low, until it is back or the user changes the
    // port or its settings.
    void portLost(const QString &why);
    // A slow port that opening left to finish in the background did not open after all.
    void openFailed(const QString &why);
    // A lost port is open again.
    void portBack();
    void portOpened();
    // The radio sent bytes; Input() takes them. Emitted from the event loop.
    void inputArrived();

private:
    void openBackend();
    std::unique_ptr<PortBackend> takeKept(const QString &address);
    void closeKept();
    void dropLostBackend(quint64 generation, const QString &why, bool wasWorking);
    void backendReady(quint64 generation);
    void retry();
    void stopRetrying();
    void retryFailed(const QString &why);
    void takeInput(quint64 generation, const QByteArray &bytes);

    PortBackendFactory m_factory;
    DeviceResolver m_resolver;
    std::unique_ptr<PortBackend> m_backend;
    QString m_address; // where m_backend, or the kept connection, was opened
    // A closed network port, lines low, kept until the event loop runs on, for an open of the
    // same address in the same step; with the settings it last had.
    std::unique_ptr<PortBackend> m_kept;
    LineSettings m_keptSettings;
    QTimer m_keptTimer;
    quint64 m_generation = 0; // counts opens, so a late loss report finds its own backend
    std::int16_t m_port = 1;
    LineSettings m_settings;
    bool m_dtr = false;
    bool m_rts = false;
    bool m_retrying = false;
    QTimer m_retryTimer;
    QSet<QString> m_retryReasons; // said already for the port being tried
    QByteArray m_input;
    bool m_inputAnnounced = false;
};
