#pragma once

#include <QString>

namespace RomCmd {

// Linux: walks a sysfs tree from a device node's class entry to the USB device behind it.
class SysfsUsbLocation {
public:
    explicit SysfsUsbLocation(QString sysfsRoot);

    // `node` is the name under /dev (hidraw3); the HID device must sit on a USB interface.
    QString ofHidraw(const QString& node) const;
    // `node` is the name under /dev (ttyUSB0, ttyACM0).
    QString ofTty(const QString& node) const;

private:
    QString root;
};

}  // namespace RomCmd
