#include "app/doorcontrol.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>

DoorControl::DoorControl(Kind kind, Open open, Status status, Save save, QWidget *window)
    : QObject(window)
    , m_kind(std::move(kind))
    , m_open(std::move(open))
    , m_status(std::move(status))
    , m_save(std::move(save))
    , m_window(window)
{
}

QString DoorControl::start(const QString &address)
{
    QString why;
    if (open(address, &why))
        return m_where;
    Q_EMIT failed(why, QString());
    return QString();
}

bool DoorControl::open(const QString &address, QString *why)
{
    stop();
    m_address = address.trimmed();
    QObject *door = m_open(m_address, this, &m_where, why);
    if (!door) {
        QString said = m_kind.failedTitle;
        if (!said.isEmpty())
            said[0] = said[0].toLower();
        qWarning("zolvek-ptt: %s: %s", qUtf8Printable(said), qUtf8Printable(*why));
        Q_EMIT changed();
        return false;
    }
    m_door = door;
    Q_EMIT changed();
    return true;
}

// The door is deleted at once: whatever a program keyed through it is given back now.
void DoorControl::stop()
{
    if (!m_door)
        return;
    delete m_door.data();
    m_door = nullptr;
    Q_EMIT changed();
}

QString DoorControl::status() const
{
    return m_door ? m_status(*m_door, m_where) : QString();
}

void DoorControl::addActions(QMenu *menu)
{
    QAction *onOff = menu->addAction(m_kind.switchText);
    onOff->setObjectName(m_kind.name + QStringLiteral("Action"));
    onOff->setCheckable(true);
    onOff->setChecked(isOn());
    onOff->setToolTip(isOn() ? status() : m_kind.offTip);
    connect(onOff, &QAction::triggered, this, [this](bool on) {
        if (on) {
            moveTo(m_address.isEmpty() ? m_kind.defaultAddress : m_address);
        } else {
            stop();
            m_save(m_kind.setting, QString());
        }
    });
    QAction *where = menu->addAction(m_kind.addressText);
    where->setObjectName(m_kind.name + QStringLiteral("AddressAction"));
    connect(where, &QAction::triggered, this, &DoorControl::askAddress);
}

// Does not wait: the window goes on serving the host while the dialog is up.
void DoorControl::askAddress()
{
    auto *dialog = new QInputDialog(m_window);
    dialog->setObjectName(m_kind.name + QStringLiteral("AddressDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(m_kind.dialogTitle);
    dialog->setLabelText(m_kind.dialogLabel);
    dialog->setTextValue(m_address.isEmpty() ? m_kind.defaultAddress : m_address);
    connect(dialog, &QInputDialog::textValueSelected, this, &DoorControl::moveTo);
    dialog->open();
}

// The address is stored only once the door is open there; when the new one fails, the one that
// worked is taken back, so a typing slip never leaves programs without the radio.
void DoorControl::moveTo(const QString &address)
{
    // Taken back where it was (the very port, when it was any free one), as it was written.
    const QString previous = isOn() ? m_where : QString();
    const QString written = m_address;
    QString why;
    if (open(address, &why)) {
        m_save(m_kind.setting, m_address);
        return;
    }
    QString ignored;
    const bool kept = !previous.isEmpty() && open(previous, &ignored);
    if (kept)
        m_address = written;
    Q_EMIT failed(why, kept ? m_where : QString());
}
