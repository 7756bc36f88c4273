#include "app/listenercontrol.h"

#include "rigctl/rigctllistener.h"
#include "settings/options.h"
#include "settings/settingsstore.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>

ListenerControl::ListenerControl(Ft847Radio &radio, Save save, QWidget *window)
    : QObject(window)
    , m_radio(radio)
    , m_save(std::move(save))
    , m_window(window)
{
}

QString ListenerControl::start(const QString &address, const QString &allow)
{
    stop();
    m_address = address.trimmed();
    if (!allow.isNull())
        m_allow = allow;
    auto *listener = new RigctlListener(m_radio, this);
    QString why;
    if (!listener->listen(m_address, allowList(), &why)) {
        delete listener;
        qWarning("zolvek-ptt: no rigctl listener: %s", qUtf8Printable(why));
        Q_EMIT failed(why);
        Q_EMIT changed();
        return QString();
    }
    m_listener = listener;
    connect(listener, &RigctlListener::clientsChanged, this, &ListenerControl::changed);
    Q_EMIT changed();
    return listener->address();
}

void ListenerControl::stop()
{
    if (!m_listener)
        return;
    m_listener->close();
    m_listener->deleteLater();
    m_listener = nullptr;
    Q_EMIT changed();
}

QString ListenerControl::allowList() const
{
    return m_allow.isNull() ? GetSetting(Options::ListenAllow, QString()) : m_allow;
}

QString ListenerControl::status() const
{
    if (!m_listener)
        return QString();
    const int clients = m_listener->clientCount();
    const QString connected = clients == 0   ? QStringLiteral("no program connected")
                              : clients == 1 ? QStringLiteral("1 program connected")
                                             : QStringLiteral("%1 programs connected").arg(clients);
    return QStringLiteral("Hamlib listener on %1: %2").arg(m_listener->address(), connected);
}

void ListenerControl::addActions(QMenu *menu)
{
    QAction *onOff = menu->addAction(QStringLiteral("&Hamlib listener (rigctl)"));
    onOff->setObjectName(QStringLiteral("ListenAction"));
    onOff->setCheckable(true);
    onOff->setChecked(isOn());
    onOff->setToolTip(isOn() ? status()
                             : QStringLiteral("Off: host programs can key the radio "
                                              "by the window message only"));
    connect(onOff, &QAction::triggered, this, [this](bool on) {
        if (on)
            switchOn();
        else {
            stop();
            m_save(Options::Listen, QString());
        }
    });
    QAction *where = menu->addAction(QStringLiteral("Listener &address..."));
    where->setObjectName(QStringLiteral("ListenAddressAction"));
    connect(where, &QAction::triggered, this, &ListenerControl::askAddress);
}

void ListenerControl::switchOn()
{
    moveTo(m_address.isEmpty() ? DefaultAddress : m_address);
}

// Does not wait: the window goes on serving the host while the dialog is up.
void ListenerControl::askAddress()
{
    auto *dialog = new QInputDialog(m_window);
    dialog->setObjectName(QStringLiteral("ListenAddressDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Hamlib listener"));
    dialog->setLabelText(QStringLiteral(
        "Serve Hamlib NET rigctl (as rigctld does) on:\nPORT for this computer only (4532 is "
        "rigctld's), or HOST:PORT / [IPV6]:PORT\n(other computers also need [Host] ListenAllow)."));
    dialog->setTextValue(m_address.isEmpty() ? DefaultAddress : m_address);
    connect(dialog, &QInputDialog::textValueSelected, this, &ListenerControl::moveTo);
    dialog->open();
}

// The address is stored only once it is listened on; when the new one fails, the one that
// worked is taken back, so a typing slip never leaves host programs without the radio.
void ListenerControl::moveTo(const QString &address)
{
    const QString previous = isOn() ? m_address : QString();
    if (!start(address, QString()).isEmpty()) {
        m_save(Options::Listen, m_address);
        return;
    }
    if (!previous.isEmpty())
        start(previous, QString());
}
