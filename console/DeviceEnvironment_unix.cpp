#include <sys/stat.h>

#include <QFile>
#include <QSerialPortInfo>

#include "console/DeviceEnvironment.h"
#include "transport/UsbLocation.h"

namespace RomCmd {

QList<SerialPortEntry> DeviceEnvironment::serialPorts() const {
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry entry{info.portName(), info.systemLocation()};
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            entry.vid = info.vendorIdentifier();
            entry.pid = info.productIdentifier();
        }
        entry.serialNumber = info.serialNumber();
        entry.location = UsbLocation::ofSerialPort(info.systemLocation());
        ports.append(entry);
    }
    return ports;
}

bool DeviceEnvironment::isCharacterDevice(const QString& path) const {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}

}  // namespace RomCmd
