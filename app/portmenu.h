#pragma once

#include "serial/serialdevices.h"

#include <QMenu>
#include <functional>

// The port list's context menu: what COM`port` stands for. The serial devices present, a radio
// reached over the network (RFC 2217) and the platform's own device; the one in use is ticked,
// and a mapped device that is not present now is still shown, so the operator sees why the port
// fails.
class PortMenu : public QMenu
{
    Q_OBJECT
public:
    PortMenu(int port, const QString &mapping, const QList<SerialDevice> &devices,
             QWidget *parent = nullptr);

    // Reads "HOST:PORT" (or rfc2217://HOST:PORT) as the address [Ports] stores; empty when it
    // is not one.
    static QString networkAddress(const QString &text);
    // Asks for the address of COM`port`'s network radio in a dialog of `window`'s that does not
    // wait (the window goes on serving the host); `typed` gets what the operator wrote.
    static void askNetworkAddress(QWidget *window, int port, const QString &mapping,
                                  std::function<void(const QString &typed)> typed);

Q_SIGNALS:
    // The operator chose what the port stands for: a device or address, empty for the default.
    void mapped(const QString &device);
    void networkWanted();
};
