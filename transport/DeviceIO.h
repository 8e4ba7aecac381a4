#pragma once

#include <QObject>
#include <cstdint>

namespace RomCmd {

// The carrier-independent transport: frames one host packet, reads one device
// packet. Each operation returns a result code and leaves it in `status`.
class DeviceIO : public QObject {
public:
    DeviceIO() : QObject(nullptr) {}
    ~DeviceIO() override = default;

    // Sends one host packet and reads the device's acknowledgement.
    virtual int writePacket(const uint8_t* payload, uint16_t length) = 0;
    // Reads one device packet into `buffer` (at least 1024 bytes) and answers it.
    virtual int readPacket(uint8_t* buffer, uint16_t* length) = 0;
    virtual void setTimeout(int milliseconds) { timeout = milliseconds; }
    virtual int readAck() = 0;
    virtual int sendResponse(uint8_t code) = 0;

    int timeout = 10000;
    int status = 0;
};

}  // namespace RomCmd
