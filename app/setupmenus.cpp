#include "app/clicklabel.h"
#include "app/form1.h"
#include "app/listcombobox.h"
#include "app/doorcontrol.h"
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
    auto *menu = new PortMenu(port, GetSetting(Options::PortMapping(port), QString()),
                              serialDevices(), this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &PortMenu::mapped, this,
            [this, port](const QString &device) { mapPort(port, device); });
    connect(menu, &PortMenu::networkWanted, this, [this, port] {
        PortMenu::askNetworkAddress(
            this, port, GetSetting(Options::PortMapping(port), QString()),
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
    if (!stored)
        reportSaveFailure();
    if (port != m_comport.CommPort())
        return;
    ResumeNext step;
    reopenPort(step, [] {});
    logPortFailures("mapping a port", step.errors());
    if (step.failed())
        showMessage(PortErrorText, step.errors());
}

void Form1::showDoorState()
{
    QString tip = IndicatorTip;
    for (const DoorControl *door : {m_listener, m_catPort, m_flrig})
        if (const QString status = door->status(); !status.isEmpty())
            tip += QLatin1Char('\n') + status;
    m_Label3->setToolTip(tip);
}
