#pragma once

#include <QList>
#include <QString>

// A serial device present on this computer, as a COM port can be mapped to it.
struct SerialDevice
{
    QString path;        // what [Ports] stores: a stable name where the system has one
    QString description; // what the operator recognises: the adapter's name and its device
};

// The serial devices present, adapters with a stable name first. On Linux `root` is the device
// folder (/dev, or a test's folder laid out like it): /dev/serial/by-id/* with the adapter's
// name, then the ttyUSB* and ttyACM* that no by-id name stands for; a by-id name whose device
// has gone is left out. On Windows `root` is unused and the list is the system's COM ports
// with their friendly names. The system console is never offered.
QList<SerialDevice> serialDevices(const QString &root = QString());
