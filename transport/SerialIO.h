#pragma once

#include <QVariant>
#include <memory>
#include <vector>

#include "transport/DeviceIO.h"
#include "transport/SerialPort.h"
#include "transport/SerialPortInfo.h"

namespace RomCmd {

// UART carrier: 5A A5 framing with CRC-16/XMODEM over a blocking serial port.
class SerialIO : public DeviceIO {
public:
    explicit SerialIO(const QVariant& deviceInfo);
    ~SerialIO() override;

    int writePacket(const uint8_t* payload, uint16_t length) override;
    int readPacket(uint8_t* buffer, uint16_t* length) override;
    void setTimeout(int milliseconds) override;
    int readAck() override;
    int sendResponse(uint8_t code) override;

private:
    bool findStartByte();
    int discardOversizedPacket(uint16_t length);
    int failure(int code, const char* message);

    const SerialPortInfo info;
    SerialPort port;
    std::vector<uint8_t> frame;  // kept between packets, so sending allocates nothing
};

}  // namespace RomCmd
