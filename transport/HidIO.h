#pragma once

#include <QList>
#include <QStringList>
#include <QVariant>

#include "transport/DeviceIO.h"
#include "transport/UsbInfo.h"

struct hid_device_;

namespace RomCmd {

// USB-HID carrier: one packet per report, report ID 0x01, no CRC.
class HidIO : public DeviceIO {
public:
    explicit HidIO(const QVariant& deviceInfo);
    ~HidIO() override;

    int writePacket(const uint8_t* payload, uint16_t length) override;
    int readPacket(uint8_t* buffer, uint16_t* length) override;
    int readAck() override;
    int sendResponse(uint8_t code) override;

    // Paths of the attached HID devices with this vendor and product ID (0 matches any).
    static QStringList devicePaths(uint16_t vid, uint16_t pid);
    // The same devices with their IDs, serial numbers and USB port locations.
    static QList<UsbInfo> devices(uint16_t vid, uint16_t pid);

private:
    // hid_read_timeout waiting at most `timeout`; kInterrupted when a signal ended the wait.
    int readReport(uint8_t* report, size_t size);
    static constexpr int kInterrupted = -2;

    const UsbInfo info;
    hid_device_* device = nullptr;
};

}  // namespace RomCmd
