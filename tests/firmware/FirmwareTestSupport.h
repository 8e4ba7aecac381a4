#pragma once

#include <QPair>
#include <QString>
#include <functional>
#include <vector>

#include "console/DeviceEnvironment.h"
#include "console/RomConsoleMode.h"
#include "tests/common/LogCapture.h"
#include "tests/common/QtPrinters.h"
#include "tests/common/ToolParser.h"

namespace RomCmd {
namespace Test {

// Presence answers come from a script; sleeps are recorded and slept at most realSleepCapMs.
class FakeEnvironment : public DeviceEnvironment {
public:
    QList<SerialPortEntry> serialPorts() const override;
    QList<UsbInfo> usbDevices(uint16_t vid, uint16_t pid) const override;
    void sleepMs(unsigned long milliseconds) const override;
    bool isCharacterDevice(const QString& path) const override;

    // Called once per listing; true lists the device, false leaves it out.
    std::function<bool(int call)> present = [](int) { return true; };
    SerialPortEntry port{"ttyFAKE0", "/dev/ttyFAKE0"};
    QString usbPath = "fakehid0";
    // When set, the USB listing by listing number instead of usbPath and otherhid7.
    std::function<QList<UsbInfo>(int call)> usbListing;
    unsigned long realSleepCapMs = 0;
    QStringList characterDevices;  // paths that exist as character devices

    mutable int listings = 0;
    mutable std::vector<unsigned long> sleeps;
    mutable std::vector<QPair<uint16_t, uint16_t>> usbQueries;
};

}  // namespace Test
}  // namespace RomCmd
