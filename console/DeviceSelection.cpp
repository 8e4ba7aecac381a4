#include <QtDebug>

#include "console/CommandParameters.h"
#include "console/RomConsoleMode.h"

namespace RomCmd {

namespace {

constexpr uint32_t kDefaultVid = 0x5E3A;

const char* const kMultipleUsbDevices =
    "There are multiple devices whose vid and pid are the same! Please select device path to "
    "connect:";
const char* const kNoUsbDevice =
    "Can not find correct usb device! Please input the parameter with correct vid and pid or "
    "device path!";

constexpr uint32_t kMaxUsbId = 0xFFFF;

// A USB ID in the given base (16 also takes a 0x or 0X prefix). Anything wider than 16 bits
// is refused: cut down it would name another device, 0x10000 even every device.
bool usbIdFrom(const QString& field, int base, const char* notNumberText, uint32_t* id) {
    bool ok = false;
    const uint32_t value = field.toUInt(&ok, base);
    if (!ok || value > kMaxUsbId) {
        qCritical() << notNumberText;
        return false;
    }
    *id = value;
    return true;
}

void listUsbPaths(const QStringList& paths) {
    qCritical() << kMultipleUsbDevices;
    for (const QString& path : paths) {
        qInfo().noquote() << path;
    }
}

}  // namespace

bool RomConsoleMode::selectSerialDevice(const QStringList& fields) {
    if (fields.size() == 1 && !fields.first().isEmpty()) {
        serialParam.portName = fields.first();
        return true;
    }
    if (fields.size() == 1) {
        const QList<SerialPortEntry> ports = environment->serialPorts();
        if (ports.isEmpty()) {
            qCritical() << "Can not find the valid serial port!";
            return false;
        }
        if (ports.size() == 1) {
            const SerialPortEntry& port = ports.first();
            qInfo() << "Detect one serial port: " << port.portName
                    << " and connect it automatically!";
            // The listed name is not openable on its own on every platform; its location is.
            serialParam.portName =
                port.systemLocation.isEmpty() ? port.portName : port.systemLocation;
            return true;
        }
        qInfo() << "Detect multiple serial ports, please input a serial port name in '-p' "
                   "parameters:";
        for (const SerialPortEntry& port : ports) {
            qInfo() << port.portName;
        }
        return false;
    }
    if (fields.size() == 2) {
        serialParam.portName = fields.at(0);
        uint32_t baudRate = 0;
        if (!tokenToUInt(fields.at(1), 10, "Baud Rate is not a number!", &baudRate)) {
            return false;
        }
        serialParam.baudRate = int32_t(baudRate);
        return true;
    }
    qCritical() << "Paramter number is incorrect!";
    return false;
}

bool RomConsoleMode::selectUsbDevice(const QStringList& fields) {
    if (fields.size() == 2) {
        uint32_t vid = 0;
        uint32_t pid = 0;
        if (!usbIdFrom(fields.at(0), 16, "Vid is not a number!", &vid) ||
            !usbIdFrom(fields.at(1), 16, "Pid is not a number!", &pid)) {
            return false;
        }
        usbInfo.vid = int32_t(vid);
        usbInfo.pid = int32_t(pid);
        const QStringList paths = environment->usbDevicePaths(uint16_t(vid), uint16_t(pid));
        if (paths.size() > 1) {
            listUsbPaths(paths);
            return false;
        }
        if (paths.size() == 1) {
            usbInfo.devicePath = paths.first();
            return true;
        }
        qCritical() << kNoUsbDevice;
        return false;
    }
    if (fields.size() == 1 && fields.first().isEmpty()) {
        return autoDetectUsbDevice(kDefaultVid, 0);
    }
    if (fields.size() == 1) {
        const QString& field = fields.first();
        const bool hexadecimal = field.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
        bool decimal = false;
        field.toUInt(&decimal, 10);
        if (hexadecimal || decimal) {
            // A bad product ID must not fall back to an enumeration of every device.
            uint32_t pid = 0;
            if (!usbIdFrom(field, hexadecimal ? 16 : 10, "Pid is not a number!", &pid)) {
                return false;
            }
            usbInfo.pid = int32_t(pid);
            usbInfo.vid = int32_t(kDefaultVid);
        } else {
            usbInfo.devicePath = field;
        }
        // A path given by the user is the transport's to open; it is not enumerated here.
        if (!usbInfo.devicePath.isEmpty()) {
            return true;
        }
        return autoDetectUsbDevice(uint32_t(usbInfo.vid), uint32_t(usbInfo.pid));
    }
    qCritical() << "Paramter number is incorrect!";
    return false;
}

bool RomConsoleMode::autoDetectUsbDevice(uint32_t vid, uint32_t pid) {
    // The enumeration looks at the low 16 bits only.
    const QStringList paths = environment->usbDevicePaths(uint16_t(vid), uint16_t(pid));
    if (paths.size() >= 2) {
        listUsbPaths(paths);
        return false;
    }
    if (paths.size() == 1) {
        qInfo() << "Detect one usb device: " << paths.first() << " and connect it automatically!";
        usbInfo.devicePath = paths.first();
        return true;
    }
    qCritical() << kNoUsbDevice;
    return false;
}

}  // namespace RomCmd
