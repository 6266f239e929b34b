#include "qserialportinfo.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cwchar>
#include <vector>

#ifndef NOMINMAX // libstdc++ of MinGW-w64 defines it already
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

namespace {

const QRegularExpression &comName()
{
    static const QRegularExpression re(QStringLiteral("^COM[0-9]+$"),
                                       QRegularExpression::CaseInsensitiveOption);
    return re;
}

QString wide(const wchar_t *text)
{
    return QString::fromWCharArray(text);
}

// What the drivers of serial ports have registered: every port Device Manager shows.
QStringList registryPorts()
{
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD valueNameSize = 256;
        wchar_t data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, valueName, &valueNameSize, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        names << wide(data).left(int(dataSize / sizeof(wchar_t))).section(QChar(0), 0, 0);
    }
    RegCloseKey(key);
    return names;
}

// COM names defined without a driver's registration (mapped ones, and Wine's links).
QStringList dosDevicePorts()
{
    QStringList names;
    std::vector<wchar_t> buffer(65536);
    const DWORD length = QueryDosDeviceW(nullptr, buffer.data(), DWORD(buffer.size()));
    for (const wchar_t *p = buffer.data(); p < buffer.data() + length && *p; p += wcslen(p) + 1) {
        const QString name = wide(p);
        if (comName().match(name).hasMatch())
            names << name;
    }
    return names;
}

QString deviceProperty(HDEVINFO set, SP_DEVINFO_DATA *device, DWORD property)
{
    wchar_t text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                           reinterpret_cast<BYTE *>(text), sizeof text - 2,
                                           nullptr))
        return {};
    return wide(text);
}

// "USB\VID_0403&PID_6001\A50285BI": the USB identities and the serial number, where there are.
void parseInstanceId(const QString &id, quint16 &vid, bool &hasVid, quint16 &pid, bool &hasPid,
                     QString &serial)
{
    static const QRegularExpression re(
        QStringLiteral("VID_([0-9A-F]{4}).*PID_([0-9A-F]{4})(?:[^\\\\]*\\\\([^\\\\&]+)$)?"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = re.match(id);
    if (!match.hasMatch())
        return;
    vid = match.captured(1).toUShort(&hasVid, 16);
    pid = match.captured(2).toUShort(&hasPid, 16);
    serial = match.captured(3);
}

} // namespace

QSerialPortInfo::QSerialPortInfo(const QString &name)
{
    const auto ports = availablePorts();
    for (const QSerialPortInfo &port : ports) {
        if (port.m_portName.compare(name, Qt::CaseInsensitive) == 0 ||
            port.m_systemLocation.compare(name, Qt::CaseInsensitive) == 0) {
            *this = port;
            return;
        }
    }
}

QList<QSerialPortInfo> QSerialPortInfo::availablePorts()
{
    QList<QSerialPortInfo> ports;
    QSet<QString> seen;
    const auto add = [&](const QString &name) -> QSerialPortInfo * {
        if (name.isEmpty() || seen.contains(name.toUpper()))
            return nullptr;
        seen.insert(name.toUpper());
        QSerialPortInfo info;
        info.m_portName = name;
        info.m_systemLocation = QLatin1String("\\\\.\\") + name;
        ports << info;
        return &ports.last();
    };

    // Ports with a device behind them: their names as Device Manager shows them.
    const HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
            QString name;
            if (HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                                KEY_QUERY_VALUE);
                key != INVALID_HANDLE_VALUE) {
                wchar_t value[64] = {};
                DWORD size = sizeof value - 2;
                DWORD type = 0;
                if (RegQueryValueExW(key, L"PortName", nullptr, &type,
                                     reinterpret_cast<BYTE *>(value), &size) == ERROR_SUCCESS &&
                    type == REG_SZ)
                    name = wide(value);
                RegCloseKey(key);
            }
            if (!comName().match(name).hasMatch())
                continue; // a printer port
            QSerialPortInfo *info = add(name);
            if (!info)
                continue;
            info->m_description = deviceProperty(set, &device, SPDRP_DEVICEDESC);
            info->m_manufacturer = deviceProperty(set, &device, SPDRP_MFG);
            wchar_t id[512] = {};
            if (SetupDiGetDeviceInstanceIdW(set, &device, id, 511, nullptr))
                parseInstanceId(wide(id), info->m_vendorIdentifier, info->m_hasVendorIdentifier,
                                info->m_productIdentifier, info->m_hasProductIdentifier,
                                info->m_serialNumber);
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    for (const QString &name : registryPorts())
        add(name);
    for (const QString &name : dosDevicePorts())
        add(name);

    std::sort(ports.begin(), ports.end(), [](const QSerialPortInfo &a, const QSerialPortInfo &b) {
        return a.m_portName.mid(3).toInt() < b.m_portName.mid(3).toInt();
    });
    return ports;
}
