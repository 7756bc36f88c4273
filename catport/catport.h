#pragma once

#include "catport/catdevice.h"
#include "catport/catframes.h"
#include "ft847/ft847radio.h"

#include <QElapsedTimer>
#include <QObject>
#include <deque>

// The utility's serial FT-847: a port that programs which drive the radio over a serial line
// (OmniRig and the programs on it, SatPC32, Ham Radio Deluxe, Hamlib's own FT-847 backend) open
// instead of the radio's, while the utility keeps the radio's only port. Their frames reach the
// one radio in order, and reads are answered with the radio's bytes. Keying is by the lines, as
// the listener keys, and is that program's key: it ends when the program closes the port. A
// program's CAT OFF on leaving is not passed on, so the radio stays under CAT for the others.
class CatPort : public QObject
{
    Q_OBJECT
public:
    // Frames waiting for the radio; a program that writes more at once loses the rest.
    static constexpr std::size_t MaxPending = 64;

    explicit CatPort(Ft847Radio &radio, QObject *parent = nullptr);
    ~CatPort() override;

    // False, with the reason, when the port cannot be made or opened (see CatDevice).
    bool open(const QString &path, QString *why);
    void close();
    bool isOpen() const { return m_device.isOpen(); }
    QString path() const { return m_device.path(); }
    QString target() const { return m_device.target(); }

private:
    void received(const QByteArray &bytes);
    void next();
    void done(const QByteArray &frame, int code, const QByteArray &answer);
    void left();

    Ft847Radio &m_radio;
    CatDevice m_device;
    CatFrames m_frames;
    QElapsedTimer m_clock;
    std::deque<QByteArray> m_pending; // frames in the order written, one at the radio at a time
    bool m_busy = false;    // a frame is at the radio
    bool m_looping = false; // next() is running: an answer given at once does not recurse
    bool m_toldFlood = false;
};
