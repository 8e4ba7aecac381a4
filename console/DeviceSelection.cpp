#include <QTextStream>
#include <QVector>
#include <QtDebug>
#include <algorithm>

#include "console/CommandParameters.h"
#include "console/ExitStatus.h"
#include "console/RomConsoleMode.h"
#include "romcmd/DeviceType.h"

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

// Neither collides with a device path: /dev/hidrawN on Linux, \\?\hid#... on Windows.
const QLatin1String kPortPrefix("port:");
const QLatin1String kSerialPrefix("serial:");

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

// One -u field that begins with 0x or is a decimal number names a product ID, not a path.
bool isProductIdField(const QString& field, int* base) {
    const bool hexadecimal = field.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    bool decimal = false;
    field.toUInt(&decimal, 10);
    *base = hexadecimal ? 16 : 10;
    return hexadecimal || decimal;
}

void listUsbPaths(const QList<UsbInfo>& devices) {
    qCritical() << kMultipleUsbDevices;
    for (const UsbInfo& device : devices) {
        qInfo().noquote() << device.devicePath;
    }
}

// One listing field: "-" when unknown, and never a blank that would split it for awk.
QString listed(const QString& text) {
    if (text.isEmpty()) {
        return QStringLiteral("-");
    }
    QString field = text;
    for (QChar& c : field) {
        if (c.isSpace() || !c.isPrint()) {
            c = QLatin1Char('_');
        }
    }
    return field;
}

QString listedIds(int vid, int pid) {
    if (vid < 0 || pid < 0) {
        return QStringLiteral("-");
    }
    return QStringLiteral("%1:%2")
        .arg(vid, 4, 16, QLatin1Char('0'))
        .arg(pid, 4, 16, QLatin1Char('0'));
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
    // A serial number may hold a comma: after a prefix the whole text counts.
    const QString text = fields.join(QLatin1Char(','));
    if (text.startsWith(kPortPrefix) || text.startsWith(kSerialPrefix)) {
        return selectUsbDeviceBy(text);
    }
    if (fields.size() == 2) {
        uint32_t vid = 0;
        uint32_t pid = 0;
        if (!usbIdFrom(fields.at(0), 16, "Vid is not a number!", &vid) ||
            !usbIdFrom(fields.at(1), 16, "Pid is not a number!", &pid)) {
            return false;
        }
        usbInfo.vid = int32_t(vid);
        usbInfo.pid = int32_t(pid);
        const QList<UsbInfo> devices = environment->usbDevices(uint16_t(vid), uint16_t(pid));
        if (devices.size() > 1) {
            listUsbPaths(devices);
            return false;
        }
        if (devices.size() == 1) {
            takeUsbDevice(devices.first(), devices);
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
        int base = 10;
        if (isProductIdField(field, &base)) {
            // A bad product ID must not fall back to an enumeration of every device.
            uint32_t pid = 0;
            if (!usbIdFrom(field, base, "Pid is not a number!", &pid)) {
                return false;
            }
            usbInfo.pid = int32_t(pid);
            usbInfo.vid = int32_t(kDefaultVid);
        } else {
            usbInfo.devicePath = field;
        }
        // A path given by the user is the transport's to open, whether listed or not; listed,
        // it brings the identity the firmware step follows.
        if (!usbInfo.devicePath.isEmpty()) {
            takeUsbDevice(usbInfo, environment->usbDevices(0, 0));
            return true;
        }
        return autoDetectUsbDevice(uint32_t(usbInfo.vid), uint32_t(usbInfo.pid));
    }
    qCritical() << "Paramter number is incorrect!";
    return false;
}

bool RomConsoleMode::autoDetectUsbDevice(uint32_t vid, uint32_t pid) {
    // The enumeration looks at the low 16 bits only.
    const QList<UsbInfo> devices = environment->usbDevices(uint16_t(vid), uint16_t(pid));
    if (devices.size() >= 2) {
        listUsbPaths(devices);
        return false;
    }
    if (devices.size() == 1) {
        qInfo() << "Detect one usb device: " << devices.first().devicePath
                << " and connect it automatically!";
        takeUsbDevice(devices.first(), devices);
        return true;
    }
    qCritical() << kNoUsbDevice;
    return false;
}

bool RomConsoleMode::selectUsbDeviceBy(const QString& text) {
    const bool byPort = text.startsWith(kPortPrefix);
    const QString wanted = text.mid(byPort ? kPortPrefix.size() : kSerialPrefix.size());
    const QList<UsbInfo> attached = environment->usbDevices(kDefaultVid, 0);
    QList<UsbInfo> matches;
    for (const UsbInfo& device : attached) {
        const QString& value = byPort ? device.location : device.serialNumber;
        if (!wanted.isEmpty() && (value == wanted || listed(value) == wanted)) {
            matches.append(device);
        }
    }
    if (matches.size() > 1) {
        listUsbPaths(matches);
        return false;
    }
    if (matches.isEmpty()) {
        qCritical() << kNoUsbDevice;
        return false;
    }
    takeUsbDevice(matches.first(), attached);
    return true;
}

void RomConsoleMode::takeUsbDevice(const UsbInfo& device, const QList<UsbInfo>& attached) {
    usbInfo.devicePath = device.devicePath;
    usbInfo.serialNumber.clear();
    usbInfo.location.clear();
    for (const UsbInfo& entry : attached) {
        if (entry.devicePath == device.devicePath) {
            usbInfo.serialNumber = entry.serialNumber;
            usbInfo.location = entry.location;
            break;
        }
    }
    // A serial number that several boards share (cheap adapters do) tells nothing apart.
    const auto unique = [&attached](QString UsbInfo::*field, const QString& value) {
        return !value.isEmpty() &&
               std::count_if(attached.begin(), attached.end(),
                             [&](const UsbInfo& entry) { return entry.*field == value; }) == 1;
    };
    if (unique(&UsbInfo::serialNumber, usbInfo.serialNumber)) {
        usbIdentity = UsbIdentity::SerialNumber;
    } else if (unique(&UsbInfo::location, usbInfo.location)) {
        usbIdentity = UsbIdentity::Location;
    } else {
        usbIdentity = UsbIdentity::Path;
    }
}

QStringList RomConsoleMode::deviceListing(uint16_t vid, uint16_t pid) const {
    QList<QStringList> rows{{"KIND", "DEVICE", "VID:PID", "SERIAL", "LOCATION"}};
    for (const SerialPortEntry& port : environment->serialPorts()) {
        rows.append(
            {"uart", listed(port.systemLocation.isEmpty() ? port.portName : port.systemLocation),
             listedIds(port.vid, port.pid), listed(port.serialNumber), listed(port.location)});
    }
    for (const UsbInfo& device : environment->usbDevices(vid, pid)) {
        rows.append({"hid", listed(device.devicePath), listedIds(device.vid, device.pid),
                     listed(device.serialNumber), listed(device.location)});
    }
    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList& row : rows) {
        for (int i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row.at(i).size());
        }
    }
    QStringList lines;
    for (const QStringList& row : rows) {
        QString line;
        for (int i = 0; i + 1 < row.size(); ++i) {
            line += row.at(i).leftJustified(widths[i] + 2);
        }
        lines.append(line + row.last());
    }
    return lines;
}

int RomConsoleMode::printDeviceListing() {
    uint32_t vid = kDefaultVid;
    uint32_t pid = 0;
    // -u IDs narrow the HID part; a path, port or serial number does not.
    const QStringList fields = deviceParam.split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (deviceType == kUsbDevice && fields.size() == 2) {
        if (!usbIdFrom(fields.at(0), 16, "Vid is not a number!", &vid) ||
            !usbIdFrom(fields.at(1), 16, "Pid is not a number!", &pid)) {
            return ExitNoDevice;
        }
    } else if (deviceType == kUsbDevice && fields.size() == 1 && !fields.first().isEmpty()) {
        const QString& field = fields.first();
        int base = 10;
        if (isProductIdField(field, &base) &&
            !usbIdFrom(field, base, "Pid is not a number!", &pid)) {
            return ExitNoDevice;
        }
    }
    const QStringList lines = deviceListing(uint16_t(vid), uint16_t(pid));
    QTextStream out(stdout);
    for (const QString& line : lines) {
        out << line << '\n';
    }
    out.flush();
    return lines.size() > 1 ? ExitSuccess : ExitNoDevice;
}

}  // namespace RomCmd
