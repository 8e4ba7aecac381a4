#include <sys/stat.h>

#include <QFile>
#include <QSerialPortInfo>

#include "console/DeviceEnvironment.h"

namespace RomCmd {

QList<SerialPortEntry> DeviceEnvironment::serialPorts() const {
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        ports.append({info.portName(), info.systemLocation()});
    }
    return ports;
}

QString DeviceEnvironment::portPath(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('/'))) {
        return name;
    }
    return QStringLiteral("/dev/") + name;
}

bool DeviceEnvironment::isCharacterDevice(const QString& path) const {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}

}  // namespace RomCmd
