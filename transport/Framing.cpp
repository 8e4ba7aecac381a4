#include "transport/Framing.h"

#include "transport/ResultCode.h"

namespace RomCmd {
namespace Framing {

int ackStatusToResult(uint8_t ackByte) {
    switch (ackByte) {
        case kAckAccepted:
            return ResultOk;
        case kAckRejected:
            return ResultNak;
        case kAckAborted:
            return ResultAbort;
        default:
            return ResultFailure;
    }
}

void buildUartHeader(uint8_t* header, uint16_t payloadLength) {
    header[0] = kStartByte;
    header[1] = kPacketTag;
    header[2] = static_cast<uint8_t>(payloadLength & 0xFF);
    header[3] = static_cast<uint8_t>(payloadLength >> 8);
}

}  // namespace Framing

namespace {

struct Crc16Table {
    uint16_t entry[256];
};

// Each entry is the register after feeding one byte into a register of that byte shifted up.
constexpr Crc16Table makeCrc16Table() {
    Crc16Table table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
        table.entry[i] = crc;
    }
    return table;
}

constexpr Crc16Table kCrc16Table = makeCrc16Table();

constexpr uint16_t crc16Update(uint16_t crc, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>((crc << 8) ^ kCrc16Table.entry[((crc >> 8) ^ data[i]) & 0xFF]);
    }
    return crc;
}

constexpr uint8_t kCheckInput[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(crc16Update(0, kCheckInput, sizeof kCheckInput) == 0x31C3,
              "CRC-16/XMODEM check value");

}  // namespace

void Crc16Xmodem::update(const uint8_t* data, size_t length) {
    value_ = crc16Update(value_, data, length);
}

uint16_t Crc16Xmodem::compute(const uint8_t* data, size_t length) {
    Crc16Xmodem crc;
    crc.update(data, length);
    return crc.value();
}

}  // namespace RomCmd
