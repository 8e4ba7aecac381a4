#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "transport/UsbInfo.h"

namespace RomCmd {

struct SerialPortEntry {
    QString portName;        // as the system lists it, e.g. ttyUSB0
    QString systemLocation;  // e.g. /dev/ttyUSB0
    // Of the USB adapter behind the port, where the system says: -1 and empty when unknown.
    int vid = -1;
    int pid = -1;
    QString serialNumber{};
    QString location{};
};

// What the controller asks of the host about attached devices, and how it waits.
// Tests replace it to stage enumerations without hardware.
class DeviceEnvironment {
public:
    virtual ~DeviceEnvironment() = default;
    virtual QList<SerialPortEntry> serialPorts() const;
    // Attached HID devices with this vendor and product ID (0 matches any), in listing order.
    virtual QList<UsbInfo> usbDevices(uint16_t vid, uint16_t pid) const;
    virtual void sleepMs(unsigned long milliseconds) const;
    // True when `path` exists and is a character device (symbolic links followed); on
    // Windows, when the device it names exists.
    virtual bool isCharacterDevice(const QString& path) const;

    // True when `name` names this port: ttyUSB0 and /dev/ttyUSB0 are one port, and so is a
    // symbolic link such as /dev/serial/by-id/... that leads to it.
    static bool portMatches(const SerialPortEntry& entry, const QString& name);
    // Where the serial transport opens a port of this name.
    static QString portPath(const QString& name);
};

}  // namespace RomCmd
