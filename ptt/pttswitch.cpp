#include "ptt/pttswitch.h"

#include "ptt/frames.h"
#include "ptt/pttwindow.h"
#include "serial/commcontrol.h"
#include "serial/porterror.h"
#include "serial/portfailure.h"
#include "serial/resumenext.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>
#include <chrono>

// Quiet unless asked for (QT_LOGGING_RULES="zolvek.ptt.debug=true").
Q_LOGGING_CATEGORY(lcPtt, "zolvek.ptt", QtInfoMsg)

PttSwitch::PttSwitch(CommControl &port, QTimer *timer1, PttWindow &window, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_Timer1(timer1)
    , m_window(window)
{
    // The receive frame should leave as close to the end of the delay as the system allows.
    m_Timer1->setTimerType(Qt::PreciseTimer);
    m_Timer1->setSingleShot(true);
    connect(m_Timer1, &QTimer::timeout, this, &PttSwitch::Timer1_Timer);
    m_transmitTimer = new QTimer(this);
    m_transmitTimer->setObjectName(QStringLiteral("TransmitTimer"));
    m_transmitTimer->setSingleShot(true);
    connect(m_transmitTimer, &QTimer::timeout, this, &PttSwitch::transmitTooLong);
}

void PttSwitch::setTransmitTimeout(int seconds)
{
    m_transmitTimeout = qBound(0, seconds, MaxTransmitTimeout);
    if (m_transmitTimeout == 0)
        m_transmitTimer->stop();
}

// Starts the count of a transmit anew.
void PttSwitch::keyed(Door door)
{
    m_keyedBy = door;
    if (m_transmitTimeout > 0)
        m_transmitTimer->start(m_transmitTimeout * 1000);
}

// A host that crashed or hung with the radio keyed must not leave it transmitting: the receive
// goes the way of the door that keyed it (the window's with its settling delay and frame).
void PttSwitch::transmitTooLong()
{
    if (!linesHigh())
        return;
    const bool window = m_keyedBy == Door::Window;
    qCWarning(lcPtt, "transmit timed out after %d s (keyed by %s): back to receive",
              m_transmitTimeout, window ? "the window or its host" : "a rigctl client");
    Q_EMIT transmitTimedOut(m_transmitTimeout);
    if (window)
        switchTo(false);
    else
        setLines(false);
}

// For whoever watches the utility's health (QT_LOGGING_RULES="zolvek.ptt.debug=true").
PttSwitch::~PttSwitch()
{
    qCDebug(lcPtt, "deepest nesting of requests: %d", m_deepest);
}

void PttSwitch::ptt(const std::int32_t &command, const std::int32_t &state)
{
    if (command == 0 && (state == 0 || state == 1)) {
        switchTo(state == 1);
    } else if (command == 1) {
        cancelSettling();
        m_window.unload();
    }
}

bool PttSwitch::switchTo(bool transmitting)
{
    struct Depth
    {
        PttSwitch &self;
        explicit Depth(PttSwitch &s)
            : self(s)
        {
            self.m_deepest = qMax(self.m_deepest, ++self.m_depth);
        }
        ~Depth() { --self.m_depth; }
    } depth(*this);
    return transmitting ? transmit() : receive();
}

bool PttSwitch::transmit()
{
    ++m_transmits;
    // A receive still settling is overtaken: its frame must not follow this one.
    cancelSettling();
    ResumeNext step;
    // Both lines and the frame reach a network port in one packet.
    m_port.holdOutput();
    step([&] { m_port.setRTSEnable(true); });
    step([&] { m_port.setDTREnable(true); });
    step([&] { m_port.Output(Frames::Transmit); });
    Q_EMIT modeFrameSent();
    step([&] { m_port.releaseOutput(); });
    if (!step.failed()) {
        m_window.setIndicatorColor(Red);
        keyed(Door::Window);
        return true;
    }
    // Half a transmit is worse than none: drop the lines again so the radio is not left keyed
    // by a request that did not get through.
    step([&] { m_port.setRTSEnable(false); });
    step([&] { m_port.setDTREnable(false); });
    m_window.setIndicatorColor(Green);
    logPortFailures("transmit", step.errors());
    m_window.reportPortError(step.errors());
    return false;
}

bool PttSwitch::linesHigh() const
{
    return m_port.PortOpen() && (m_port.RTSEnable() || m_port.DTREnable());
}

bool PttSwitch::setLines(bool transmitting)
{
    if (transmitting)
        ++m_transmits;
    const bool both = m_port.RTSEnable() && m_port.DTREnable();
    const bool none = !m_port.RTSEnable() && !m_port.DTREnable();
    if (m_port.PortOpen() && (transmitting ? both : none)) {
        if (transmitting)
            keyed(Door::Rigctl);
        return true;
    }
    if (transmitting)
        cancelSettling();
    ResumeNext step;
    // The port object keeps line states while closed; a closed port has keyed nothing.
    step([&] {
        if (!m_port.PortOpen())
            throw PortError(PortError::PortNotOpen,
                            QStringLiteral("COM%1 is not open").arg(m_port.CommPort()));
    });
    m_port.holdOutput();
    step([&] { m_port.setRTSEnable(transmitting); });
    step([&] { m_port.setDTREnable(transmitting); });
    step([&] { m_port.releaseOutput(); });
    if (step.failed() && transmitting) {
        // As for any transmit: not left half keyed.
        step([&] { m_port.setRTSEnable(false); });
        step([&] { m_port.setDTREnable(false); });
    }
    m_window.setIndicatorColor(transmitting && !step.failed() ? Red : Green);
    if (!transmitting || step.failed())
        m_transmitTimer->stop();
    else
        keyed(Door::Rigctl);
    if (!step.failed())
        return true;
    logPortFailures(transmitting ? "keying" : "releasing", step.errors());
    m_window.reportPortError(step.errors());
    return false;
}

bool PttSwitch::receive()
{
    m_transmitTimer->stop();
    ResumeNext step;
    // Both lines drop in one packet, as they rose.
    m_port.holdOutput();
    step([&] { m_port.setRTSEnable(false); });
    step([&] { m_port.setDTREnable(false); });
    step([&] { m_port.releaseOutput(); });
    m_linesDropped = std::chrono::steady_clock::now();
    logPortFailures("receive", step.errors());
    if (settling()) {
        // Joins the wait in progress, whose end sends the one receive frame. A wait that a
        // transmit has just overtaken, but that has not yet returned, starts again from now:
        // the lines have only just dropped.
        if (m_cancelled) {
            m_cancelled = false;
            armSettlingTimer();
            m_loop->exit(Restarted);
        }
        if (step.failed())
            m_window.reportPortError(step.errors());
        return !step.failed();
    }
    // The receive frame leaves from the end of the delay itself (Timer1_Timer); this request
    // returns once its wait is over, so a host that waits for "receive" hears of it only then.
    m_frameFailed = false;
    const bool waited = timer();
    if (waited && step.failed())
        m_window.reportPortError(step.errors());
    return !step.failed() && !m_frameFailed;
}

void PttSwitch::sendReceiveFrame()
{
    // How long the radio really settled, for whoever watches the utility's timing: taken as the
    // frame leaves, so the time spent writing it is not counted as settling.
    const std::chrono::duration<double, std::milli> settled =
        std::chrono::steady_clock::now() - m_linesDropped;
    ResumeNext step;
    step([&] { m_port.Output(Frames::Receive); });
    Q_EMIT modeFrameSent();
    qCDebug(lcPtt, "receive frame %.3f ms after the lines dropped", settled.count());
    m_window.setIndicatorColor(Green);
    logPortFailures("receive frame", step.errors());
    m_frameFailed = step.failed();
    if (step.failed())
        m_window.reportPortError(step.errors());
}

// The settling delay. The event loop keeps running (and sleeping) while it lasts; returns false
// when the wait was cancelled instead of running out.
bool PttSwitch::timer()
{
    // An earlier wait that has ended, but whose request is still held up under something on top
    // of it (a message box), does not count for this one.
    m_DelayExpired = 0;
    armSettlingTimer();
    m_cancelled = false;
    QEventLoop loop;
    m_loop = &loop;
    bool expired = m_DelayExpired == 1;
    while (!expired) {
        const int reason = loop.exec();
        expired = m_DelayExpired == 1;
        // Anything but a restart ends the wait: a transmit, or the application closing.
        if (m_cancelled || reason != Restarted)
            break;
    }
    m_loop = nullptr;
    m_Timer1->stop();
    m_Timer1->setInterval(0);
    expired = expired && !m_cancelled;
    m_DelayExpired = 0;
    m_cancelled = false;
    return expired;
}

// The system lets a long wait run late by up to a thousandth of its length, and the event loop
// rounds to whole milliseconds: 1200 ms could become 1203. So the timer is set to end a little
// early, set again for what is left, and the last fraction of a millisecond is waited out here.
void PttSwitch::armSettlingTimer()
{
    m_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SettlingDelayMs);
    m_Timer1->setInterval(SettlingDelayMs - FinalApproachMs);
    m_Timer1->start();
}

void PttSwitch::Timer1_Timer()
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_deadline - std::chrono::steady_clock::now());
    if (left.count() >= 2) {
        m_Timer1->start(int(left.count()) - 1);
        return;
    }
    while (std::chrono::steady_clock::now() < m_deadline) {
    }
    m_DelayExpired = 1;
    m_Timer1->stop();
    if (!m_loop)
        return;
    // Whatever runs on top of the wait (a message box, another nested loop) keeps its loop from
    // returning; the radio hears the end of the delay now all the same.
    if (!m_cancelled)
        sendReceiveFrame();
    m_loop->exit(Expired);
}

void PttSwitch::cancelSettling()
{
    if (!m_loop)
        return;
    m_cancelled = true;
    m_Timer1->stop();
    m_loop->exit(Cancelled);
}

void PttSwitch::Label3_Click()
{
    const std::int32_t command = 0;
    const std::int32_t state = m_window.indicatorColor() == Red ? 0 : 1;
    ptt(command, state);
}
