#include "console/DeviceEnvironment.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include "romcmd/Interruption.h"
#include "romcmd/RomCmd.h"

namespace RomCmd {

QStringList DeviceEnvironment::usbDevicePaths(uint16_t vid, uint16_t pid) const {
    return RomCmd::usbDevicePaths(vid, pid);
}

void DeviceEnvironment::sleepMs(unsigned long milliseconds) const {
    // In slices, so an interruption never waits out a long pause.
    constexpr qint64 kSliceMs = 50;
    const QDeadlineTimer deadline{static_cast<qint64>(milliseconds)};
    while (!Interruption::requested() && !deadline.hasExpired()) {
        QThread::msleep(static_cast<unsigned long>(qMin(kSliceMs, deadline.remainingTime())));
    }
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
