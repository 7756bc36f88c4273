#pragma once

#include "settings/settingkey.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QMenu;
class QWidget;

// One door to the radio (the Hamlib listener, the serial FT-847 port, flrig's XML-RPC) as the
// operator switches it from the window: on and off, and where it is. Where it is, is stored
// (empty when off), so a start from the desktop menu finds it as it was left.
class DoorControl : public QObject
{
    Q_OBJECT
public:
    struct Kind
    {
        QString name; // the menu items and dialog are <name>Action, <name>AddressAction...
        QString switchText;
        QString addressText;
        QString dialogTitle;
        QString dialogLabel;
        QString offTip;
        QString failedTitle;  // "No rigctl listener"
        QString failedEffect; // what programs lose, for the notice
        QString defaultAddress;
        SettingKey setting;
    };
    // Opens the door at `address`, a child of `parent`: the door, with where it is now; or
    // null, with the reason.
    using Open = std::function<QObject *(const QString &address, QObject *parent, QString *where,
                                         QString *why)>;
    // "Hamlib listener on 127.0.0.1:4532: 2 programs connected".
    using Status = std::function<QString(QObject &door, const QString &where)>;
    using Save = std::function<void(const SettingKey &setting, const QString &value)>;

    DoorControl(Kind kind, Open open, Status status, Save save, QWidget *window);

    // Opens the door at `address`; returns where it is, or empty after `failed` said why.
    QString start(const QString &address);
    void stop();

    bool isOn() const { return !m_door.isNull(); }
    const Kind &kind() const { return m_kind; }
    // Empty when off.
    QString status() const;
    // The switch and the address dialog, for a context menu of the window's.
    void addActions(QMenu *menu);

Q_SIGNALS:
    void changed();
    // Not opened, for `why`; `kept` is where the door still is when the one that worked was taken
    // back, else empty.
    void failed(const QString &why, const QString &kept);

private:
    void askAddress();
    void moveTo(const QString &address);
    bool open(const QString &address, QString *why);

    Kind m_kind;
    Open m_open;
    Status m_status;
    Save m_save;
    QWidget *m_window;
    QPointer<QObject> m_door;
    QString m_address; // as the operator wrote it, kept while off
    QString m_where;
};
