#pragma once

#include <QPoint>

// Where the end-to-end tests click and look in the real utility's window: control centres in
// window pixels, the layout's twips at 96 dpi. scripts/lib/zolvekcontract.py reads them from here.
namespace ScreenPoints {
inline const QPoint Indicator(39, 32);
inline const QPoint MoreButton(39, 84);
inline const QPoint PortList(145, 26);
inline const QPoint SettingsBox(180, 65);
inline const QPoint MinimizedBox(130, 88);
inline const QPoint OnTopBox(214, 88);
} // namespace ScreenPoints
