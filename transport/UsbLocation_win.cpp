#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// initguid.h first: devpkey.h then defines the property keys instead of declaring them.
#include <initguid.h>

#include <cfgmgr32.h>
#include <devpkey.h>

#include <string>
#include <vector>

#include "transport/UsbLocation.h"

namespace RomCmd {

namespace {

// \\?\hid#vid_5e3a&pid_0001#7&1a2b3c&0&0000#{guid} is the device interface of the device
// instance HID\VID_5E3A&PID_0001\7&1A2B3C&0&0000.
QString instanceIdOfPath(const QString& path) {
    const QString prefix = QStringLiteral("\\\\?\\");
    const int guid = path.lastIndexOf(QLatin1Char('#'));
    if (!path.startsWith(prefix) || guid <= prefix.size()) {
        return QString();
    }
    return path.mid(prefix.size(), guid - prefix.size())
        .replace(QLatin1Char('#'), QLatin1Char('\\'));
}

QString instanceId(DEVINST node) {
    std::vector<wchar_t> id(MAX_DEVICE_ID_LEN + 1, L'\0');
    if (CM_Get_Device_IDW(node, id.data(), MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return QString();
    }
    return QString::fromWCharArray(id.data());
}

// The first of the device's location paths, such as PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3).
QString locationPath(DEVINST node) {
    DEVPROPTYPE type = 0;
    ULONG size = 0;
    if (CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_LocationPaths, &type, nullptr, &size, 0) !=
            CR_BUFFER_SMALL ||
        type != DEVPROP_TYPE_STRING_LIST) {
        return QString();
    }
    std::vector<wchar_t> paths(size / sizeof(wchar_t) + 2, L'\0');
    if (CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_LocationPaths, &type,
                                 reinterpret_cast<PBYTE>(paths.data()), &size, 0) != CR_SUCCESS) {
        return QString();
    }
    return QString::fromWCharArray(paths.data());
}

}  // namespace

QString UsbLocation::ofHidDevice(const QString& path) {
    const QString hid = instanceIdOfPath(path);
    if (!hid.startsWith(QLatin1String("HID\\"), Qt::CaseInsensitive)) {
        return QString();
    }
    std::wstring id = hid.toStdWString();
    DEVINST node = 0;
    if (CM_Locate_DevNodeW(&node, &id[0], CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) {
        return QString();
    }
    // The HID device's parent is the USB device, or on a composite device one of its
    // interfaces (&MI_nn) whose parent is. Bluetooth HID has a BTHENUM parent: no location.
    for (int level = 0; level < 2; ++level) {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            return QString();
        }
        const QString parentId = instanceId(parent);
        if (!parentId.startsWith(QLatin1String("USB\\"), Qt::CaseInsensitive)) {
            return QString();
        }
        if (!parentId.contains(QLatin1String("&MI_"), Qt::CaseInsensitive)) {
            const QString location = locationPath(parent);
            return location.isEmpty() ? parentId : location;
        }
        node = parent;
    }
    return QString();
}

// The serial port enumeration gives no device instance to start from.
QString UsbLocation::ofSerialPort(const QString&) {
    return QString();
}

}  // namespace RomCmd
