#include "tests/firmware/FirmwareTestSupport.h"

#include <QThread>
#include <algorithm>

namespace RomCmd {
namespace Test {

QList<SerialPortEntry> FakeEnvironment::serialPorts() const {
    QList<SerialPortEntry> ports{{"ttyS0", "/dev/ttyS0"}};
    if (present(listings++)) {
        ports.append(port);
    }
    return ports;
}

QStringList FakeEnvironment::usbDevicePaths(uint16_t vid, uint16_t pid) const {
    usbQueries.push_back({vid, pid});
    QStringList paths{"otherhid7"};
    if (present(listings++)) {
        paths.append(usbPath);
    }
    return paths;
}

void FakeEnvironment::sleepMs(unsigned long milliseconds) const {
    sleeps.push_back(milliseconds);
    if (realSleepCapMs > 0) {
        QThread::msleep(std::min(milliseconds, realSleepCapMs));
    }
}

bool FakeEnvironment::isCharacterDevice(const QString& path) const {
    return characterDevices.contains(path);
}

}  // namespace Test
}  // namespace RomCmd
