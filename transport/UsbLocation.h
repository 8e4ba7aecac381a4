#pragma once

#include <QString>

namespace RomCmd {

// The USB port a device sits in, as the platform names it: on Linux the USB device's sysfs
// name (1-2.3), on Windows its location path. Empty when the device is not on the USB or the
// platform does not say; never a guess.
class UsbLocation {
public:
    // `path` as the HID layer lists it (/dev/hidraw3, \\?\hid#...).
    static QString ofHidDevice(const QString& path);
    // `systemLocation` as the serial port enumeration lists it (/dev/ttyUSB0, \\.\COM3).
    static QString ofSerialPort(const QString& systemLocation);
};

}  // namespace RomCmd
