#include "hostlink/pttswitch.h"

#include "ft847/frames.h"
#include "ft847/ft847radio.h"
#include "hostlink/pttwindow.h"
#include "serial/portfailure.h"
#include "serial/resumenext.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>
#include <chrono>

// Quiet unless asked for (QT_LOGGING_RULES="zolvek.ptt.debug=true").
Q_LOGGING_CATEGORY(lcPtt, "zolvek.ptt", QtInfoMsg)

PttSwitch::PttSwitch(Ft847Radio &radio, QTimer *timer1, PttWindow &window, QObject *parent)
    : QObject(parent)
    , m_radio(radio)
    , m_Timer1(timer1)
    , m_window(window)
{
    // The receive frame should leave as close to the end of the delay as the system allows.
    m_Timer1->setTimerType(Qt::PreciseTimer);
    m_Timer1->setSingleShot(true);
    connect(m_Timer1, &QTimer::timeout, this, &PttSwitch::Timer1_Timer);
    connect(&m_radio, &Ft847Radio::keyChanged, this, &PttSwitch::keyChanged);
    connect(&m_radio, &Ft847Radio::portFailed, this,
            [this](const QStringList &why) { m_window.reportPortError(why); });
    // A transmit of the window's that ran too long ends as the window ends one: the settling
    // delay, then the receive frame.
    connect(&m_radio, &Ft847Radio::transmitTimedOut, this, [this] {
        if (m_radio.holds(this))
            switchTo(false);
    });
}

// Another door keyed or released the radio: the indicator follows, and a key overtakes a
// receive that is settling.
void PttSwitch::keyChanged(bool keyed)
{
    if (m_releasing)
        return;
    if (keyed) {
        cancelSettling();
        m_window.setIndicatorColor(Red);
    } else if (!settling()) {
        m_window.setIndicatorColor(Green);
    }
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
    // A receive still settling is overtaken: its frame must not follow this one.
    cancelSettling();
    ResumeNext step;
    m_radio.key(this, step, Frames::Transmit);
    if (!step.failed()) {
        m_window.setIndicatorColor(Red);
        return true;
    }
    m_window.setIndicatorColor(Green);
    logPortFailures("transmit", step.errors());
    m_window.reportPortError(step.errors());
    return false;
}

bool PttSwitch::receive()
{
    ResumeNext step;
    // The operator's receive ends every hold on the key; the indicator turns green with the frame.
    m_releasing = true;
    m_radio.releaseAll(step);
    m_releasing = false;
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
    m_radio.send(Frames::Receive, step);
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
