#include "hostlink/hostlink.h"
#include "tests/form1controls.h"
#include "tests/testsupport.h"

#include <QTest>
#include <windows.h>

// The utility's window on the real Windows desktop (the windows platform, not offscreen): the
// host message hook, the frame the panel widths are built on, and always-on-top.
class TestDesktopWin : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void hostMessageReachesItsOwnWindow();
    void hookKeepsTheWindowUnicode();
    void expandedPanelShowsTheSettingsBox();
    void onTopIsTheSystemsOwn();

private:
    std::shared_ptr<FakePortLog> m_log;
};

namespace {

HWND handleOf(const QWidget &window)
{
    return reinterpret_cast<HWND>(window.winId());
}

} // namespace

void TestDesktopWin::init()
{
    QCOMPARE(QGuiApplication::platformName(), "windows");
    testStore().reset();
    m_log = std::make_shared<FakePortLog>();
}

// Two windows, each hooked with its own routine: a message goes to the routine of the window it
// was sent to, and the host's SendMessageA returns after the routine ran.
void TestDesktopWin::hostMessageReachesItsOwnWindow()
{
    RegisterHostMessage();
    // Windows gives the name the same id in every program, as a host would register it.
    const UINT messageId = RegisterWindowMessageA(HostContract::MessageName);
    QVERIFY(messageId != 0);
    QWidget first;
    QWidget second;
    QList<int> heard;
    QVERIFY(HookHostMessages(&first, [&](const std::int32_t &command, const std::int32_t &state) {
        heard << 1 << command << state;
    }));
    QVERIFY(HookHostMessages(&second, [&](const std::int32_t &command, const std::int32_t &state) {
        heard << 2 << command << state;
    }));
    SendMessageA(handleOf(second), messageId, 0, 1);
    SendMessageA(handleOf(first), messageId, WPARAM(-1), LPARAM(-7));
    QCOMPARE(heard, QList<int>({2, 0, 1, 1, -1, -7}));
}

// The ANSI hooking calls would turn the window into an ANSI one: text outside the code page sent
// to it would arrive as "?".
void TestDesktopWin::hookKeepsTheWindowUnicode()
{
    Form1 form(fakePortFactory(m_log));
    form.Form_Load();
    const HWND window = handleOf(form);
    QVERIFY(IsWindowUnicode(window));
    const wchar_t text[] = L"A\u00e4\u65e5B";
    SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    wchar_t back[16] = {};
    GetWindowTextW(window, back, 16);
    QCOMPARE(QString::fromWCharArray(back), QString::fromWCharArray(text));
}

// The expanded panel's inner width reaches one frame width past the settings box, so the frame
// measured at start-up must be the system's real one, not a negative guess.
void TestDesktopWin::expandedPanelShowsTheSettingsBox()
{
    Form1 form(fakePortFactory(m_log));
    form.Form_Load();
    RECT outer{};
    RECT inner{};
    GetWindowRect(handleOf(form), &outer);
    GetClientRect(handleOf(form), &inner);
    const int frame = (outer.right - outer.left) - (inner.right - inner.left);
    QVERIFY2(frame > 0, qPrintable(QString::number(frame)));
    QCOMPARE(qRound(form.BorderWidth()), qRound(form.toTwips(frame)));
    QTest::mouseClick(Command1(form), Qt::LeftButton);
    QLineEdit *text1 = Text1(form);
    QVERIFY(form.width() >= text1->x() + text1->width());
}

void TestDesktopWin::onTopIsTheSystemsOwn()
{
    Form1 form(fakePortFactory(m_log));
    form.Form_Load();
    form.show();
    const auto topmost = [&] {
        return (GetWindowLongPtrW(handleOf(form), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    };
    QVERIFY(!topmost());
    QTest::mouseClick(Command1(form), Qt::LeftButton); // the options panel
    QVERIFY(Check2(form)->isEnabled());
    Check2(form)->click();
    QVERIFY(topmost());
    Check2(form)->click();
    QVERIFY(!topmost());
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "windows");
    TestDesktopWin test;
    return runTest(argc, argv, &test, true);
}

#include "test_desktop_win.moc"
