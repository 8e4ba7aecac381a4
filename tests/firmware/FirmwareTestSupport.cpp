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

QList<UsbInfo> FakeEnvironment::usbDevices(uint16_t vid, uint16_t pid) const {
    usbQueries.push_back({vid, pid});
    if (usbListing) {
        return usbListing(listings++);
    }
    QStringList paths{"otherhid7"};
    if (present(listings++)) {
        paths.append(usbPath);
    }
    QList<UsbInfo> devices;
    for (const QString& path : paths) {
        UsbInfo device;
        device.devicePath = path;
        devices.append(device);
    }
    return devices;
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
