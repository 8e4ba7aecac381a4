#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

#include "console/DeviceEnvironment.h"

namespace RomCmd {

namespace {

const QString kDevicePrefix = QStringLiteral("\\\\.\\");
// Where serial drivers publish their ports: one value per port, its data the port name.
const wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kNameChars = 256;

}  // namespace

// Qt SerialPort is not built for Windows, so the tool reads the system's list itself.
QList<SerialPortEntry> DeviceEnvironment::serialPorts() const {
    QList<SerialPortEntry> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return ports;
    }
    std::vector<wchar_t> valueName(kNameChars);
    std::vector<wchar_t> data(kNameChars);
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = kNameChars;
        DWORD dataBytes = DWORD(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LONG result =
            ::RegEnumValueW(key, index, valueName.data(), &nameChars, nullptr, &type,
                            reinterpret_cast<BYTE*>(data.data()), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        // A value too long for a port name is no port of ours; the next one may be.
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        // The stored text need not end in a null.
        QString name = QString::fromWCharArray(data.data(), int(dataBytes / sizeof(wchar_t)));
        while (name.endsWith(QChar(0))) {
            name.chop(1);
        }
        if (!name.isEmpty()) {
            ports.append({name, portPath(name)});
        }
    }
    ::RegCloseKey(key);
    return ports;
}

// A device such as COM12 exists while the system has a DOS device name for it; asking so
// does not open it, so a port another program holds counts too.
bool DeviceEnvironment::isCharacterDevice(const QString& path) const {
    if (!path.startsWith(kDevicePrefix) || path.size() == kDevicePrefix.size()) {
        return false;
    }
    const std::wstring name = path.mid(kDevicePrefix.size()).toStdWString();
    std::vector<wchar_t> target(MAX_PATH);
    return ::QueryDosDeviceW(name.c_str(), target.data(), DWORD(target.size())) != 0 ||
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace RomCmd
