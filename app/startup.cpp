#include "app/clicklabel.h"
#include "app/form1.h"
#include "app/indicator.h"
#include "app/listcombobox.h"
#include "app/valuecheckbox.h"
#include "ft847/frames.h"
#include "ft847/ft847radio.h"
#include "hostlink/hostlink.h"
#include "serial/portfailure.h"
#include "serial/resumenext.h"
#include "settings/options.h"
#include "settings/settingsstore.h"
#include "settings/storelocation.h"
#include "settings/textconv.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcStartup, "zolvek.startup", QtInfoMsg)

// Nothing that fails here stops the window from coming up: a failing step is skipped, and the
// controls and the port keep the values they had.
void Form1::Form_Load()
{
    ResumeNext step;
    const auto storedComPort = [] {
        return GetSetting(Options::ComPort, QStringLiteral("1"));
    };

    // The host is heard from the very start, before any option is loaded.
    step([&] { RegisterHostMessage(); });
    bool linked = false;
    step([&] {
        linked = HookHostMessages(this, [this](const std::int32_t &command,
                                               const std::int32_t &state) { ptt(command, state); });
    });

    step([&] { m_Text1->setText(GetSetting(Options::Settings, Options::DefaultSettings)); });
    step([&] { m_Combo1->setListIndex(roundToInt16(textToDouble(storedComPort()) - 1.0)); });
    // The port number comes from the store again, not from the list, so a number the list does
    // not show (COM7) still reaches the port.
    step([&] { m_comport.setCommPort(textToInt16(storedComPort())); });
    step([&] { m_comport.setSettings(m_Text1->text()); });

    step([&] { m_Check1->setValue(textToInt16(GetSetting(Options::Min, QStringLiteral("0")))); });
    if (step.condition([&] { return m_Check1->Value() != 0; }))
        step([&] { setWindowState(windowState() | Qt::WindowMinimized); });
    step([&] { m_Check2->setValue(textToInt16(GetSetting(Options::Top, QStringLiteral("0")))); });

    step([&] { ApplyTopmost(); });

    step([&] { m_BorderWidth = Width() - ScaleWidth(); });
    step([&] { setWidth(collapsedWidth()); });
    // The transparent label takes the indicator's clicks and shows its tool tip.
    step([&] { m_Label3->setGeometry(m_Shape1->geometry()); });

    m_FormReady = true;

    // Opened with the lines low and the radio's CAT interface on; the receive frame follows.
    ResumeNext radio;
    m_radio->openPort(radio);
    const QStringList openFailure = radio.errors();
    m_radio->send(Frames::Receive, radio);

    // Written for whoever started the utility from a terminal.
    for (const QString &error : step.errors())
        qCInfo(lcStartup, "skipped a start-up step: %s", qUtf8Printable(error));
    logPortFailures("start-up", radio.errors());
    // A radio that cannot be reached must not look ready behind a green indicator: said once,
    // without holding anything up.
    if (!openFailure.isEmpty())
        reportPortError(openFailure);
    // Known before the operator changes anything: a change would last only this run.
    if (!storeWriteRefusal(Options::App).isEmpty())
        reportSaveFailure();
    // On a desktop without the link, host programs would find nothing to talk to: say so once.
    const QString platform = QGuiApplication::platformName();
    if (!linked && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal")) {
        const QString why =
            QStringLiteral("Host programs cannot switch the radio on this desktop (%1): the "
                           "host message needs X11. Start the utility with QT_QPA_PLATFORM=xcb "
                           "(XWayland).")
                .arg(platform);
        qWarning("zolvek-ptt: no host link: %s", qUtf8Printable(why));
        showNotice(QStringLiteral("HostLinkBox"), QStringLiteral("No host link"), why);
    }
}
