// qt-relay-floor: the least time any Qt program on this display can take for the utility's
// transmit path. A bare QWindow whose native event filter turns every host message it gets
// straight into one 5-byte frame to the virtual radio: no widgets, no queued call, no line
// changes, no settling delay. Started by zolvek-bench only.
//   qt-relay-floor HOST PORT TITLE
#include "settings/hostcontract.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QTcpSocket>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {

class Relay : public QAbstractNativeEventFilter
{
public:
    Relay(QTcpSocket &radio, xcb_atom_t message)
        : m_radio(radio)
        , m_message(message)
    {
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE
            || reinterpret_cast<const xcb_client_message_event_t *>(event)->type != m_message)
            return false;
        // The radio's transmit frame for a transmit request, its receive frame for any other.
        const auto *request = reinterpret_cast<const xcb_client_message_event_t *>(event);
        const char frame[5] = {request->data.data32[1] == 1 ? '\x01' : '\x03', 0, 0, 0, 7};
        m_radio.write(frame, sizeof frame);
        return true;
    }

private:
    QTcpSocket &m_radio;
    xcb_atom_t m_message;
};

xcb_atom_t hostMessageAtom()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return XCB_NONE;
    const char *name = HostContract::MessageName;
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        x11->connection(),
        xcb_intern_atom(x11->connection(), 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: qt-relay-floor HOST PORT TITLE\n");
        return 2;
    }
    QTcpSocket radio;
    radio.connectToHost(QString::fromLocal8Bit(argv[1]), quint16(QByteArray(argv[2]).toUInt()),
                        QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!radio.waitForConnected(2000)) {
        std::fprintf(stderr, "qt-relay-floor: cannot reach the radio\n");
        return 1;
    }
    radio.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // The radio's own negotiation is of no interest here.
    QObject::connect(&radio, &QTcpSocket::readyRead, &radio, [&radio] { radio.readAll(); });
    QObject::connect(&radio, &QTcpSocket::disconnected, &app, &QCoreApplication::quit);

    const xcb_atom_t message = hostMessageAtom();
    if (message == XCB_NONE) {
        std::fprintf(stderr, "qt-relay-floor: needs an X display\n");
        return 1;
    }
    Relay relay(radio, message);
    app.installNativeEventFilter(&relay);
    QWindow window;
    window.setTitle(QString::fromLocal8Bit(argv[3]));
    window.resize(100, 50);
    window.show();
    return app.exec();
}
