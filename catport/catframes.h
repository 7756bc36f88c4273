#pragma once

#include <QByteArray>
#include <QList>

// The byte stream a program writes to a serial FT-847, cut into the radio's five-byte frames.
// A frame may come in pieces over several writes; bytes that make no frame the radio knows (a
// program out of step, line noise) are skipped one at a time until a frame lines up again, and
// a piece left waiting longer than a frame could take to arrive is dropped. A frame without
// arguments carries nothing but its opcode (so junk never keys, and a stream out of step is
// not taken for CAT-on frames); the release alone may carry anything.
class CatFrames
{
public:
    // A piece of a frame older than this is a program out of step, not a slow line: five bytes
    // at 4800 baud take 11.5 ms, at 1200 baud 46 ms.
    static constexpr qint64 StaleMs = 200;

    // Takes `bytes` that arrived at `nowMs` (any steady clock); returns the whole frames in order.
    QList<QByteArray> feed(const QByteArray &bytes, qint64 nowMs);
    // Drops what is held: the program that wrote it has gone.
    void clear() { m_held.clear(); }
    // Bytes skipped so far as not belonging to any frame.
    qint64 skipped() const { return m_skipped; }

    // True for five bytes that are a frame of the FT-847's, as the radio would take it.
    static bool isFrame(const QByteArray &five);

private:
    QByteArray m_held;
    qint64 m_lastByteMs = 0;
    qint64 m_skipped = 0;
};
