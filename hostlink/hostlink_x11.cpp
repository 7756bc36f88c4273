#include "hostlink/hostlink.h"

#include "hostlink/hostmessage_x11.h"
#include "hostlink/xconnection_x11.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

namespace {

// The atom the X server gave the message name; 0 until registered.
xcb_atom_t PttMessageId = 0;

// Sees every event of the X connection; every event but the host's own goes on to Qt untouched.
class HostMessageFilter : public QAbstractNativeEventFilter
{
public:
    HostMessageFilter(QWidget *window, HostRequestHandler handler)
        : m_window(window)
        , m_handler(std::move(handler))
    {
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t" || !m_window)
            return false;
        // The window's id is taken when a message comes, not at start-up: asking for it
        // earlier would create the window before its first state (minimized) is known.
        const auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto request =
            decodeHostMessage(event, PttMessageId, xcb_window_t(m_window->winId()));
        if (request) {
            // Handled from the window's own event loop, not from inside the X event
            // dispatch: a return to receive keeps that loop turning for its settling delay.
            QMetaObject::invokeMethod(
                m_window,
                [handler = m_handler, request = *request] {
                    handler(request.command, request.state);
                },
                Qt::QueuedConnection);
            // Qt itself has no use for the message and would only warn about it.
            return true;
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    HostRequestHandler m_handler;
};

} // namespace

void RegisterHostMessage()
{
    xcb_connection_t *connection = qtXConnection();
    if (!connection)
        return;
    PttMessageId = internAtom(connection, HostContract::MessageName);
}

bool HookHostMessages(QWidget *window, HostRequestHandler handler)
{
    if (!qtXConnection() || PttMessageId == 0)
        return false;
    auto *filter = new HostMessageFilter(window, std::move(handler));
    qGuiApp->installNativeEventFilter(filter);
    QObject::connect(window, &QObject::destroyed, qGuiApp, [filter] {
        qGuiApp->removeNativeEventFilter(filter);
        delete filter;
    });
    return true;
}
