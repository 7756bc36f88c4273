#include "serial/serialdevices.h"

#include <QHash>
#include <QRegularExpression>
#include <windows.h>
// After windows.h.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>

namespace {

// COM5 -> "USB Serial Port (COM5)", from the device manager's own names.
QHash<QString, QString> friendlyNames()
{
    QHash<QString, QString> names;
    const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return names;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
        wchar_t port[64] = {};
        const HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        DWORD size = sizeof(port) - sizeof(wchar_t);
        const LONG read = RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                           reinterpret_cast<BYTE *>(port), &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS)
            continue;
        wchar_t friendly[256] = {};
        if (SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE *>(friendly),
                                              sizeof(friendly) - sizeof(wchar_t), nullptr))
            names.insert(QString::fromWCharArray(port).toUpper(), QString::fromWCharArray(friendly));
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

int portNumber(const QString &name)
{
    return QStringView(name).mid(3).toInt();
}

} // namespace

// The COM ports the system has are the values of SERIALCOMM, whatever their drivers.
QList<SerialDevice> serialDevices(const QString &)
{
    QStringList ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key)
        == ERROR_SUCCESS) {
        static const QRegularExpression comName(QStringLiteral("^COM[0-9]+$"));
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            wchar_t value[64] = {};
            DWORD nameLength = 256;
            DWORD size = sizeof(value) - sizeof(wchar_t);
            DWORD type = 0;
            if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                              reinterpret_cast<BYTE *>(value), &size)
                != ERROR_SUCCESS)
                break;
            const QString port = QString::fromWCharArray(value).trimmed().toUpper();
            if (type == REG_SZ && comName.match(port).hasMatch() && !ports.contains(port))
                ports << port;
        }
        RegCloseKey(key);
    }
    std::sort(ports.begin(), ports.end(),
              [](const QString &a, const QString &b) { return portNumber(a) < portNumber(b); });
    const QHash<QString, QString> names = friendlyNames();
    QList<SerialDevice> devices;
    for (const QString &port : std::as_const(ports))
        devices.append({QStringLiteral("\\\\.\\") + port, names.value(port, port)});
    return devices;
}
