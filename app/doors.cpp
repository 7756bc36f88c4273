#include "app/doorcontrol.h"
#include "app/form1.h"
#include "catport/catport.h"
#include "flrig/flrigserver.h"
#include "rigctl/rigctllistener.h"
#include "settings/options.h"
#include "settings/settingsstore.h"

// The doors other programs reach the one radio by: each made here, switched from the window's
// menus, and said in the indicator's tool tip while open.

namespace {

QString programs(int count)
{
    return count == 0   ? QStringLiteral("no program connected")
           : count == 1 ? QStringLiteral("1 program connected")
                        : QStringLiteral("%1 programs connected").arg(count);
}

} // namespace

void Form1::makeDoors()
{
    const auto save = [this](const SettingKey &setting, const QString &value) {
        saveOption(setting, value);
    };
    const auto allow = [this] {
        return m_allow.isNull() ? GetSetting(Options::ListenAllow, QString()) : m_allow;
    };

    DoorControl::Kind listener{
        QStringLiteral("Listen"),
        QStringLiteral("&Hamlib listener (rigctl)"),
        QStringLiteral("Listener &address..."),
        QStringLiteral("Hamlib listener"),
        QStringLiteral("Serve Hamlib NET rigctl (as rigctld does) on:\nPORT for this computer "
                       "only (4532 is rigctld's), or HOST:PORT / [IPV6]:PORT\n(other computers "
                       "also need [Host] ListenAllow)."),
        QStringLiteral("Off: host programs can key the radio by the window message only"),
        QStringLiteral("No rigctl listener"),
        QStringLiteral("Host programs that use Hamlib NET rigctl cannot key the radio; the "
                       "window message still works."),
        QStringLiteral("4532"), // rigctld's own port, where host programs look first
        Options::Listen};
    m_listener = new DoorControl(
        listener,
        [this, allow](const QString &address, QObject *parent, QString *where,
                      QString *why) -> QObject * {
            auto *door = new RigctlListener(*m_radio, parent);
            if (!door->listen(address, allow(), why)) {
                delete door;
                return nullptr;
            }
            connect(door, &RigctlListener::clientsChanged, this, &Form1::showIndicatorTip);
            *where = door->address();
            return door;
        },
        [](QObject &door, const QString &where) {
            return QStringLiteral("Hamlib listener on %1: %2")
                .arg(where, programs(static_cast<RigctlListener &>(door).clientCount()));
        },
        save, this);

    DoorControl::Kind catPort{
        QStringLiteral("CatPort"),
        QStringLiteral("&Serial FT-847 port"),
        QStringLiteral("Serial port &path..."),
        QStringLiteral("Serial FT-847 port"),
        CatDevice::askText(),
        QStringLiteral("Off: programs that drive an FT-847 over a serial port cannot reach the "
                       "radio"),
        QStringLiteral("No serial FT-847 port"),
        QStringLiteral("Programs that drive an FT-847 over a serial port cannot reach the "
                       "radio; the window message still works."),
        CatDevice::defaultPath(),
        Options::CatPort};
    m_catPort = new DoorControl(
        catPort,
        [this](const QString &path, QObject *parent, QString *where, QString *why) -> QObject * {
            auto *door = new CatPort(*m_radio, parent);
            if (!door->open(path, why)) {
                delete door;
                return nullptr;
            }
            *where = door->path();
            return door;
        },
        [](QObject &door, const QString &where) {
            const QString target = static_cast<CatPort &>(door).target();
            return target.isEmpty()
                       ? QStringLiteral("Serial FT-847 port on %1").arg(where)
                       : QStringLiteral("Serial FT-847 port at %1 (%2)").arg(where, target);
        },
        save, this);

    DoorControl::Kind flrig{
        QStringLiteral("Flrig"),
        QStringLiteral("&flrig XML-RPC"),
        QStringLiteral("flrig &address..."),
        QStringLiteral("flrig XML-RPC"),
        QStringLiteral("Serve flrig's XML-RPC (for fldigi, WSJT-X with Rig FLRig...) on:\nPORT "
                       "for this computer only (12345 is flrig's), or HOST:PORT / "
                       "[IPV6]:PORT\n(other computers also need [Host] ListenAllow)."),
        QStringLiteral("Off: programs that use flrig cannot reach the radio"),
        QStringLiteral("No flrig XML-RPC"),
        QStringLiteral("Programs that use flrig's XML-RPC cannot reach the radio; the window "
                       "message still works."),
        QStringLiteral("12345"),
        Options::Flrig};
    m_flrig = new DoorControl(
        flrig,
        [this, allow](const QString &address, QObject *parent, QString *where,
                      QString *why) -> QObject * {
            auto *door = new FlrigServer(*m_radio, parent);
            if (!door->listen(address, allow(), why)) {
                delete door;
                return nullptr;
            }
            connect(door, &FlrigServer::clientsChanged, this, &Form1::showIndicatorTip);
            *where = door->address();
            return door;
        },
        [](QObject &door, const QString &where) {
            return QStringLiteral("flrig XML-RPC on %1: %2")
                .arg(where, programs(static_cast<FlrigServer &>(door).clientCount()));
        },
        save, this);

    for (DoorControl *door : {m_listener, m_catPort, m_flrig}) {
        connect(door, &DoorControl::changed, this, &Form1::showIndicatorTip);
        connect(door, &DoorControl::failed, this,
                [this, door](const QString &why, const QString &kept) {
                    // A slip in a new address leaves the door where it was: said so, not that
                    // programs have lost it.
                    const QString effect =
                        kept.isEmpty() ? door->kind().failedEffect
                                       : QStringLiteral("It stays on %1, as before.").arg(kept);
                    showNotice(door->kind().name + QStringLiteral("FailedBox"),
                               door->kind().failedTitle, why + QLatin1Char('\n') + effect);
                });
    }
}
