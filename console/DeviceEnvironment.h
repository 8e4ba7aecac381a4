#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace RomCmd {

struct SerialPortEntry {
    QString portName;        // as the system lists it, e.g. ttyUSB0
    QString systemLocation;  // e.g. /dev/ttyUSB0
};

// What the controller asks of the host about attached devices, and how it waits.
// Tests replace it to stage enumerations without hardware.
class DeviceEnvironment {
public:
    virtual ~DeviceEnvironment() = default;
    virtual QList<SerialPortEntry> serialPorts() const;
    virtual QStringList usbDevicePaths(uint16_t vid, uint16_t pid) const;
    virtual void sleepMs(unsigned long milliseconds) const;

    // True when `name` names this port: ttyUSB0 and /dev/ttyUSB0 are one port.
    static bool portMatches(const SerialPortEntry& entry, const QString& name);
};

}  // namespace RomCmd
