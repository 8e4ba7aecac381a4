#include "console/DeviceEnvironment.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QThread>

#include "romcmd/RomCmd.h"
#include "transport/HidIO.h"
#include "transport/Interruption.h"
#include "transport/SerialPort.h"
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

QList<UsbInfo> DeviceEnvironment::usbDevices(uint16_t vid, uint16_t pid) const {
    return HidIO::devices(vid, pid);
}

void DeviceEnvironment::sleepMs(unsigned long milliseconds) const {
    // In slices, so an interruption never waits out a long pause.
    constexpr qint64 kSliceMs = 50;
    const QDeadlineTimer deadline{static_cast<qint64>(milliseconds)};
    while (!Interruption::requested() && !deadline.hasExpired()) {
        QThread::msleep(static_cast<unsigned long>(qMin(kSliceMs, deadline.remainingTime())));
    }
}

QString DeviceEnvironment::portPath(const QString& name) {
    return QString::fromStdString(SerialPort::systemPath(name.toUtf8().toStdString()));
}

bool DeviceEnvironment::portMatches(const SerialPortEntry& entry, const QString& name) {
    if (name.isEmpty()) {
        return false;
    }
    if (entry.portName == name || entry.systemLocation == name) {
        return true;
    }
    const QString wanted = QFileInfo(portPath(name)).canonicalFilePath();
    const QString listed =
        entry.systemLocation.isEmpty() ? portPath(entry.portName) : entry.systemLocation;
    return !wanted.isEmpty() && wanted == QFileInfo(listed).canonicalFilePath();
}

}  // namespace RomCmd
