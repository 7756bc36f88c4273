#include "app/clicklabel.h"
#include "app/doorcontrol.h"
#include "app/form1.h"
#include "app/indicator.h"
#include "app/listcombobox.h"
#include "app/portmenu.h"
#include "serial/portfailure.h"
#include "serial/resumenext.h"
#include "settings/options.h"
#include "settings/settingsstore.h"

// Setting up from the window, without a text editor: what a COM port stands for, and the
// Hamlib listener. Each menu is made when asked for, so it shows the devices present now.

void Form1::showPortMenu(const QPoint &at)
{
    // The COM number selected in the list; a port the list does not show is the one in use.
    const int port = m_Combo1->ListIndex() >= 0 ? m_Combo1->ListIndex() + 1 : m_comport.CommPort();
    auto *menu = new PortMenu(port, portMapping(port), serialDevices(), this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &PortMenu::mapped, this,
            [this, port](const QString &device) { mapPort(port, device); });
    connect(menu, &PortMenu::networkWanted, this, [this, port] {
        PortMenu::askNetworkAddress(
            this, port, portMapping(port),
            [this, port](const QString &typed) { mapNetworkRadio(port, typed); });
    });
    for (DoorControl *door : {m_listener, m_catPort, m_flrig}) {
        menu->addSeparator();
        door->addActions(menu);
    }
    menu->popup(m_Combo1->mapToGlobal(at));
}

void Form1::mapNetworkRadio(int port, const QString &typed)
{
    const QString address = PortMenu::networkAddress(typed);
    if (!address.isEmpty()) {
        mapPort(port, address);
        return;
    }
    // Asked again with what was typed, to be mended rather than typed anew.
    PortMenu::askNetworkAddress(
        this, port, QStringLiteral("rfc2217://") + typed,
        [this, port](const QString &again) { mapNetworkRadio(port, again); });
    showNotice(QStringLiteral("NetworkRadioRefusedBox"),
               QStringLiteral("Not a network radio address"),
               QStringLiteral("\"%1\" is not HOST:PORT (for example 192.168.1.20:2217); COM%2 is "
                              "left as it was.")
                   .arg(typed.left(80))
                   .arg(port));
}

QString Form1::portMapping(int port) const
{
    return m_unsavedMappings.value(port, GetSetting(Options::PortMapping(port), QString()));
}

void Form1::showIndicatorMenu(const QPoint &at)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("IndicatorMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (DoorControl *door : {m_listener, m_catPort, m_flrig}) {
        if (door != m_listener)
            menu->addSeparator();
        door->addActions(menu);
    }
    menu->popup(m_Label3->mapToGlobal(at));
}

// Stored at once; the port in use is reopened on the new device, the lines dropped first so the
// radio is in receive whatever it was doing, and its CAT interface turned on as at every open.
void Form1::mapPort(int port, const QString &device)
{
    const bool stored = device.isEmpty() ? DeleteSetting(Options::PortMapping(port))
                                         : SaveSetting(Options::PortMapping(port), device);
    if (stored) {
        m_unsavedMappings.remove(port);
    } else {
        m_unsavedMappings.insert(port, device);
        reportSaveFailure();
    }
    if (port != m_comport.CommPort())
        return;
    ResumeNext step;
    reopenPort(step, [] {});
    logPortFailures("mapping a port", step.errors());
    if (step.failed())
        showMessage(PortErrorText, step.errors());
}

void Form1::showPortState(const QStringList &why)
{
    const bool open = m_comport.PortOpen();
    if (open)
        m_portTrouble.clear();
    else if (!why.isEmpty())
        m_portTrouble = why.first().left(200);
    m_Shape1->setPortOpen(open);
    showIndicatorTip();
}

// What the indicator means, then anything that keeps it from meaning it, then the doors.
void Form1::showIndicatorTip()
{
    QString tip = IndicatorTip;
    if (!m_comport.PortOpen()) {
        const QString device = m_comport.device();
        tip += QStringLiteral("\nNo port open: COM%1 (%2)")
                   .arg(m_comport.CommPort())
                   .arg(device.isEmpty() ? QStringLiteral("no device") : device.left(80));
        if (!m_portTrouble.isEmpty())
            tip += QStringLiteral(": ") + m_portTrouble;
        tip +=
            m_comport.retrying()
                ? QStringLiteral("\nRetrying every %1 s.").arg(CommControl::RetryIntervalMs / 1000)
                : QStringLiteral("\nNot retried: choose the port again once the radio is "
                                 "there.");
    }
    for (const DoorControl *door : {m_listener, m_catPort, m_flrig})
        if (const QString status = door->status(); !status.isEmpty())
            tip += QLatin1Char('\n') + status;
    m_Label3->setToolTip(tip);
}
