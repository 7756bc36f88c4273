#pragma once

#include "tools/ft847-sim/rfc2217server.h"
#include "tools/ft847-sim/simlog.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <array>
#include <cstdint>

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
    // The radio as it starts: frequency in Hz and mode code, of every VFO.
    void setRadio(std::uint64_t hz, std::uint8_t mode) { m_vfos.fill({hz, mode}); }
    // What its RX status read says: the S-meter's dots (0-31) and whether the squelch is open.
    void setReceiver(int dots, bool squelchOpen)
    {
        m_dots = dots;
        m_squelchOpen = squelchOpen;
    }
    // An FT-847 made before the 8G05 production runs: it takes commands and answers no read.
    void setAnswersReads(bool answers) { m_answersReads = answers; }
    // Plain TCP, no Telnet (a serial port server's raw mode): the bytes are the radio's own.
    void setRaw(bool raw) { m_raw = raw; }
    // A frame that comes sooner than `ms` after the one before is missed by the radio (logged as
    // dropped); 0, the default, takes every frame.
    void setPacing(double ms) { m_pacingMs = ms; }

private:
    void accept();
    void readClient();
    void clientGone();
    void received(const QByteArray &frame, double complete);
    void act(const QByteArray &frame, double at);
    void answer(const QByteArray &bytes, double at);
    double wireSeconds(int bytes) const;

    SimLog &m_log;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    Rfc2217ServerSession m_session;
    QByteArray m_frame;
    bool m_linesAtConnect = true;
    struct Vfo
    {
        std::uint64_t hz = 14074000;
        std::uint8_t mode = 0x01;
    };
    std::array<Vfo, 3> m_vfos{}; // main, satellite receive, satellite transmit
    bool m_satellite = false;
    bool m_catPtt = false; // keyed by its CAT command, not by the lines
    int m_dots = 0;
    bool m_squelchOpen = false;
    bool m_raw = false;
    bool m_answersReads = true;
    double m_pacingMs = 0;
    double m_wireFree = 0;  // when the line into the radio is free for the next byte
    double m_lastFrame = 0; // when the last frame was complete
};
