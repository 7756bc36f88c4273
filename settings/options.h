#pragma once

#include "settings/settingkey.h"

#include <QString>

// Names under which the utility keeps its options in the per-user store.
namespace Options {
inline const QString App = QStringLiteral("KELD");
inline const QString ComSection = QStringLiteral("Com");
inline const QString WinSection = QStringLiteral("Win");
inline const QString PortsSection = QStringLiteral("Ports");
inline const QString HostSection = QStringLiteral("Host");
inline const QString PttSection = QStringLiteral("Ptt");

inline const SettingKey ComPort{App, ComSection, QStringLiteral("ComPort")};
inline const SettingKey Settings{App, ComSection, QStringLiteral("Settings")};
inline const SettingKey Min{App, WinSection, QStringLiteral("Min")};
inline const SettingKey Top{App, WinSection, QStringLiteral("Top")};
// Where the window was left, "X,Y" of its inside (below the title bar) on the desktop.
inline const SettingKey Position{App, WinSection, QStringLiteral("Position")};
inline const SettingKey Listen{App, HostSection, QStringLiteral("Listen")}; // rigctl, off if empty
// Who besides this computer may connect to the rigctl listener: ADDR[/BITS],...
inline const SettingKey ListenAllow{App, HostSection, QStringLiteral("ListenAllow")};
// The serial FT-847 port programs open: a path (Linux) or COM name (Windows); off if empty.
inline const SettingKey CatPort{App, HostSection, QStringLiteral("CatPort")};
// Where flrig's XML-RPC is served (PORT, HOST:PORT); off if empty.
inline const SettingKey Flrig{App, HostSection, QStringLiteral("Flrig")};
// Seconds after which a transmit is ended by itself; off when absent or 0. Read only.
inline const SettingKey TransmitTimeout{App, PttSection, QStringLiteral("TransmitTimeout")};
// The device or address COM`port` stands for; absent for the platform's own device. Set from the
// port list's menu or by hand.
inline SettingKey PortMapping(int port)
{
    return {App, PortsSection, QStringLiteral("COM%1").arg(port)};
}

// The line settings a first run starts with.
inline const QString DefaultSettings = QStringLiteral("4800,n,8,2");
} // namespace Options
