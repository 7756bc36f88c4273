#pragma once

#include "tools/ft847-sim/rfc2217server.h"
#include "tools/monotonic.h"

#include <QString>
#include <cstdint>
#include <cstdio>

// The virtual radio's log on standard output, flushed per line: readable text, or one JSON
// object a line for programs. Times are CLOCK_MONOTONIC seconds, comparable across processes.
class SimLog
{
public:
    explicit SimLog(bool json, std::FILE *out = stdout);

    void listening(const QString &address);
    void connected(const QString &peer);
    void refused(const QString &peer);
    void disconnected();
    // `at` is when the bytes that caused the event arrived; the log line may be written later.
    void settings(const SimPortState &state, double at = monotonicSeconds());
    void lines(const SimPortState &state, double at = monotonicSeconds());
    void frame(const QByteArray &frame, const QString &name, double at = monotonicSeconds());
    // A frame the radio missed: it came `gapMs` after the one before, sooner than it takes one.
    void dropped(const QByteArray &frame, double gapMs, double at = monotonicSeconds());
    // The radio's own state changed: a VFO's ("main", "sat rx", "sat tx") frequency in Hz or
    // mode by name ("usb"...), or its satellite mode.
    void frequency(std::uint64_t hz, const QString &vfo, double at = monotonicSeconds());
    void mode(const QString &name, const QString &vfo, double at = monotonicSeconds());
    void satellite(bool on, double at = monotonicSeconds());
    // A local device opened, closed or hung up ("open", "close", "hangup"), and why.
    void device(const QString &event, const QString &cause, double at = monotonicSeconds());

private:
    void write(const QString &line);
    static QString stamp(double at = monotonicSeconds());

    bool m_json = false;
    std::FILE *m_out = nullptr;
};
