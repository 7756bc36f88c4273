#pragma once

#include "tools/ft847-sim/rfc2217server.h"
#include "tools/ft847-sim/simlog.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// The virtual FT-847 behind an RFC 2217 server: one client at a time; it keeps running when a
// client leaves.
class SimServer : public QObject
{
    Q_OBJECT
public:
    explicit SimServer(SimLog &log, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    QString address() const;
    QString errorString() const { return m_server.errorString(); }
    // Whether a new connection finds DTR and RTS high (the default), as a port that ser2net
    // opens at connect does.
    void setLinesAtConnect(bool high) { m_linesAtConnect = high; }

private:
    void accept();
    void readClient();
    void clientGone();

    SimLog &m_log;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    Rfc2217ServerSession m_session;
    QByteArray m_frame;
    bool m_linesAtConnect = true;
};
