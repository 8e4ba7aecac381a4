#include <QFileInfo>
#include <QRegularExpression>
#include <utility>

#include "transport/SysfsUsbLocation.h"
#include "transport/UsbLocation.h"

namespace RomCmd {

namespace {

// A USB device is named bus-port[.port...], each of its interfaces device:configuration.interface.
const QRegularExpression kUsbInterface(QStringLiteral("^(\\d+-\\d+(?:\\.\\d+)*):\\d+\\.\\d+$"));
// A HID device is named bus:vendor:product.instance; bus 0003 is the USB, 0005 Bluetooth.
const QRegularExpression kUsbHidDevice(
    QStringLiteral("^0003:[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}\\.[0-9A-Fa-f]+$"));

// The USB device whose interface the folder at `path` is; empty when it is none.
QString usbDeviceOfInterface(const QString& path) {
    const QFileInfo interface(path);
    const QRegularExpressionMatch match = kUsbInterface.match(interface.fileName());
    if (!match.hasMatch()) {
        return QString();
    }
    const QString device = match.captured(1);
    return QFileInfo(interface.absolutePath()).fileName() == device ? device : QString();
}

// Where a class entry's device link leads; empty without one.
QString deviceFolder(const QString& root, const QString& className, const QString& node) {
    if (node.isEmpty() || node.startsWith(QLatin1Char('.'))) {
        return QString();
    }
    return QFileInfo(root + "/class/" + className + '/' + node + "/device").canonicalFilePath();
}

}  // namespace

SysfsUsbLocation::SysfsUsbLocation(QString sysfsRoot) : root(std::move(sysfsRoot)) {}

QString SysfsUsbLocation::ofHidraw(const QString& node) const {
    const QString hid = deviceFolder(root, QStringLiteral("hidraw"), node);
    // A Bluetooth keyboard's HID device also lies below a USB interface (its adapter's).
    if (hid.isEmpty() || !kUsbHidDevice.match(QFileInfo(hid).fileName()).hasMatch()) {
        return QString();
    }
    return usbDeviceOfInterface(QFileInfo(hid).absolutePath());
}

QString SysfsUsbLocation::ofTty(const QString& node) const {
    const QString device = deviceFolder(root, QStringLiteral("tty"), node);
    if (device.isEmpty()) {
        return QString();
    }
    // ttyACM's device is the interface itself, ttyUSB's a port below the interface.
    const QString own = usbDeviceOfInterface(device);
    return own.isEmpty() ? usbDeviceOfInterface(QFileInfo(device).absolutePath()) : own;
}

namespace {

// The virtual device lays out a tree of its own for its devices.
SysfsUsbLocation systemTree() {
    return SysfsUsbLocation(qEnvironmentVariable("TARVO_SYSFS_ROOT", QStringLiteral("/sys")));
}

}  // namespace

QString UsbLocation::ofHidDevice(const QString& path) {
    return systemTree().ofHidraw(QFileInfo(path).fileName());
}

QString UsbLocation::ofSerialPort(const QString& systemLocation) {
    return systemTree().ofTty(QFileInfo(systemLocation).fileName());
}

}  // namespace RomCmd
