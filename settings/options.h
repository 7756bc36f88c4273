#pragma once

#include <QString>

// Names under which the utility keeps its options in the per-user store.
namespace Options {
inline const QString App = QStringLiteral("KELD");
inline const QString ComSection = QStringLiteral("Com");
inline const QString WinSection = QStringLiteral("Win");
inline const QString PortsSection = QStringLiteral("Ports");
inline const QString HostSection = QStringLiteral("Host");
inline const QString ListenKey = QStringLiteral("Listen"); // rigctl listener, off when empty
inline const QString ComPortKey = QStringLiteral("ComPort");
inline const QString SettingsKey = QStringLiteral("Settings");
inline const QString MinKey = QStringLiteral("Min");
inline const QString TopKey = QStringLiteral("Top");
// The line settings a first run starts with.
inline const QString DefaultSettings = QStringLiteral("4800,n,8,2");
} // namespace Options
