#include "hostlink/hostmessage_x11.h"
#include "tests/testsupport.h"

#include <QTest>
#include <cstring>

namespace {

constexpr xcb_atom_t HostAtom = 400;
constexpr xcb_window_t MainWindow = 0x1200007;

struct RawEvent
{
    alignas(xcb_client_message_event_t) char bytes[32] = {};
    xcb_generic_event_t *generic() { return reinterpret_cast<xcb_generic_event_t *>(bytes); }
    xcb_client_message_event_t *message()
    {
        return reinterpret_cast<xcb_client_message_event_t *>(bytes);
    }
};

} // namespace

class TestHostMessage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decoding_data();
    void decoding();
    void nothingDecodedWithoutRegisteredMessage();
};

void TestHostMessage::decoding_data()
{
    QTest::addColumn<int>("responseType");
    QTest::addColumn<uint>("type");
    QTest::addColumn<uint>("window");
    QTest::addColumn<int>("format");
    QTest::addColumn<quint32>("data0");
    QTest::addColumn<quint32>("data1");
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("state");
    const int cm = XCB_CLIENT_MESSAGE;
    QTest::newRow("transmit") << cm << uint(HostAtom) << uint(MainWindow) << 32 << 0u << 1u << true
                              << 0 << 1;
    QTest::newRow("receive") << cm << uint(HostAtom) << uint(MainWindow) << 32 << 0u << 0u << true
                             << 0 << 0;
    QTest::newRow("exit") << cm << uint(HostAtom) << uint(MainWindow) << 32 << 1u << 7u << true << 1
                          << 7;
    QTest::newRow("sent event bit")
        << (cm | 0x80) << uint(HostAtom) << uint(MainWindow) << 32 << 0u << 1u << true << 0 << 1;
    QTest::newRow("negative values") << cm << uint(HostAtom) << uint(MainWindow) << 32
                                     << 0xffffffffu << 0xfffffffeu << true << -1 << -2;
    QTest::newRow("largest values") << cm << uint(HostAtom) << uint(MainWindow) << 32 << 0x7fffffffu
                                    << 0x80000000u << true << 0x7fffffff << int(0x80000000);
    QTest::newRow("other message type")
        << cm << uint(HostAtom + 1) << uint(MainWindow) << 32 << 0u << 1u << false << 0 << 0;
    QTest::newRow("other window") << cm << uint(HostAtom) << uint(MainWindow + 1) << 32 << 0u << 1u
                                  << false << 0 << 0;
    QTest::newRow("format 8") << cm << uint(HostAtom) << uint(MainWindow) << 8 << 0u << 1u << false
                              << 0 << 0;
    QTest::newRow("not a client message") << int(XCB_PROPERTY_NOTIFY) << uint(HostAtom)
                                          << uint(MainWindow) << 32 << 0u << 1u << false << 0 << 0;
}

void TestHostMessage::decoding()
{
    QFETCH(int, responseType);
    QFETCH(uint, type);
    QFETCH(uint, window);
    QFETCH(int, format);
    QFETCH(quint32, data0);
    QFETCH(quint32, data1);
    QFETCH(bool, decoded);
    QFETCH(int, command);
    QFETCH(int, state);
    RawEvent event;
    event.message()->response_type = std::uint8_t(responseType);
    event.message()->format = std::uint8_t(format);
    event.message()->window = window;
    event.message()->type = type;
    event.message()->data.data32[0] = data0;
    event.message()->data.data32[1] = data1;
    const auto request = decodeHostMessage(event.generic(), HostAtom, MainWindow);
    QCOMPARE(request.has_value(), decoded);
    if (decoded) {
        QCOMPARE(request->command, command);
        QCOMPARE(request->state, state);
    }
}

void TestHostMessage::nothingDecodedWithoutRegisteredMessage()
{
    RawEvent event;
    event.message()->response_type = XCB_CLIENT_MESSAGE;
    event.message()->format = 32;
    event.message()->window = MainWindow;
    event.message()->type = XCB_ATOM_NONE;
    QVERIFY(!decodeHostMessage(event.generic(), XCB_ATOM_NONE, MainWindow));
    QVERIFY(!decodeHostMessage(nullptr, HostAtom, MainWindow));
}

ZOLVEK_TEST_MAIN(TestHostMessage, false)
#include "test_hostmessage.moc"
