#pragma once

#include <QColor>
#include <QObject>
#include <chrono>
#include <cstdint>

class Ft847Radio;
class PttWindow;
class QEventLoop;
class QTimer;

// Switches the radio between transmit and receive. Transmit raises RTS then DTR and sends the
// transmit frame at once; receive lowers RTS then DTR, waits out the settling delay while the
// window keeps working, then sends the receive frame.
//
// Requests may arrive while a receive is settling (from the host or a click): a transmit takes
// effect at once and cancels the pending receive; another receive joins the wait in progress. A
// request that arrives during the wait returns at once; only the request that started the wait
// waits. The receive frame leaves when the delay ends, even while something else (a message
// box) keeps the waiting request from returning. Port failures never escape: every step is still
// tried, the window reports the failure, and the indicator shows red only for a transmit that
// reached the radio.
//
// The window is the operator's: its receive ends every hold on the key, whoever keyed. A key
// from another door (a Hamlib client) during the settling delay overtakes it as a transmit from
// here would, and the indicator follows the radio whoever keys it.
class PttSwitch : public QObject
{
    Q_OBJECT
public:
    static constexpr int SettlingDelayMs = 1200;
    // How long before the end of the delay the timer first fires, to be set again exactly.
    static constexpr int FinalApproachMs = 10;
    static inline const QColor Red = QColor(255, 0, 0);
    static inline const QColor Green = QColor(0, 255, 0);

    PttSwitch(Ft847Radio &radio, QTimer *timer1, PttWindow &window, QObject *parent = nullptr);
    ~PttSwitch() override;

    // command 0: state 1 transmit, state 0 receive; command 1: close the utility. Anything else
    // changes nothing.
    void ptt(const std::int32_t &command, const std::int32_t &state);
    // The same switch for front doors that answer their caller: true when it reached the radio
    // (for receive: the lines dropped and the receive frame went out, or the request joined a
    // wait in progress).
    bool switchTo(bool transmitting);
    // A click on the indicator: red switches to receive, anything else to transmit.
    void Label3_Click();

    std::int16_t DelayExpired() const { return m_DelayExpired; }
    // A receive is waiting out its delay (once the delay has ended, a new receive starts its own).
    bool settling() const { return m_loop != nullptr && m_DelayExpired != 1; }
    // How deeply requests have nested at most, for the window's health and for tests.
    int deepestNesting() const { return m_deepest; }

private:
    // Why the settling wait's event loop returned.
    enum LoopExit { Expired = 1, Cancelled = 2, Restarted = 3 };

    bool transmit();
    bool receive();
    void sendReceiveFrame();
    bool timer();
    void armSettlingTimer();
    void Timer1_Timer();
    void cancelSettling();
    void keyChanged(bool keyed);

    Ft847Radio &m_radio;
    QTimer *m_Timer1 = nullptr;
    PttWindow &m_window;
    std::int16_t m_DelayExpired = 0;
    std::chrono::steady_clock::time_point m_deadline;
    // When the last receive dropped the lines: what the settling log is measured from.
    std::chrono::steady_clock::time_point m_linesDropped;
    QEventLoop *m_loop = nullptr;
    bool m_cancelled = false;
    int m_depth = 0;
    bool m_frameFailed = false;
    bool m_releasing = false;
    int m_deepest = 0;
};
