#pragma once

#include "settings/settingkey.h"

#include <QObject>
#include <QPointer>
#include <functional>

class Ft847Radio;
class QMenu;
class QWidget;
class RigctlListener;

// The Hamlib listener as the operator switches it from the window: on and off, and where it
// listens. The address is stored ([Host] Listen, empty when off), so a start from the desktop
// menu finds it as it was left.
class ListenerControl : public QObject
{
    Q_OBJECT
public:
    // rigctld's own port, where host programs look first.
    static inline const QString DefaultAddress = QStringLiteral("4532");
    using Save = std::function<void(const SettingKey &setting, const QString &value)>;

    ListenerControl(Ft847Radio &radio, Save save, QWidget *window);

    // Listens on `address`, letting in this computer and those `allow` names. Returns the
    // address listened on, or empty after `failed` said why.
    QString start(const QString &address, const QString &allow);
    void stop();

    bool isOn() const { return !m_listener.isNull(); }
    // "Hamlib listener on 127.0.0.1:4532: 2 programs connected", empty when off.
    QString status() const;
    // The switch and the address dialog, for a context menu of the window's.
    void addActions(QMenu *menu);

Q_SIGNALS:
    void changed();
    void failed(const QString &why);

private:
    void switchOn();
    void askAddress();
    void moveTo(const QString &address);
    QString allowList() const;

    Ft847Radio &m_radio;
    Save m_save;
    QWidget *m_window;
    QPointer<RigctlListener> m_listener;
    QString m_address; // as the operator wrote it, kept while off
    QString m_allow;   // given at start, null when not
};
