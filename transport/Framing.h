#pragma once

#include <cstddef>
#include <cstdint>

namespace RomCmd {
namespace Framing {

constexpr uint8_t kStartByte = 0x5A;
constexpr uint8_t kPacketTag = 0xA5;
constexpr uint8_t kHidReportId = 0x01;

// Acknowledgement status bytes (device to host) and host response codes.
constexpr uint8_t kAckAccepted = 0xA1;
constexpr uint8_t kAckRejected = 0xA2;
constexpr uint8_t kAckAborted = 0xA3;
constexpr uint8_t kResponseOk = 0xA1;
constexpr uint8_t kResponseCrcError = 0xA2;

constexpr size_t kHeaderSize = 4;  // start/report id, tag, 16-bit length
constexpr size_t kCrcSize = 2;
constexpr size_t kPacketBufferSize = 1024;  // device packets are read into this much
constexpr size_t kHidReportBufferSize = 1024;
constexpr size_t kHidMaxPayload = kHidReportBufferSize - kHeaderSize;  // 1020
constexpr size_t kHidAckSize = 4;

// Maps an acknowledgement status byte to its result code (0, 1, 2 or 3).
int ackStatusToResult(uint8_t ackByte);

// Writes the 4-byte UART header for a payload of the given length.
void buildUartHeader(uint8_t* header, uint16_t payloadLength);

}  // namespace Framing

// CRC-16/XMODEM: poly 0x1021, init 0x0000, not reflected, no final XOR.
// Fed incrementally: the UART header as on the wire, then the payload.
class Crc16Xmodem {
public:
    void reset() { value_ = 0; }
    void update(const uint8_t* data, size_t length);
    uint16_t value() const { return value_; }

    static uint16_t compute(const uint8_t* data, size_t length);

private:
    uint16_t value_ = 0;
};

}  // namespace RomCmd
