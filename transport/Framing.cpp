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

// entry[k][i]: the register after feeding byte i followed by k zero bytes into a cleared
// register. Eight bytes then cost eight look-ups and no dependency between them, which
// makes the CRC about three times faster than a byte at a time.
struct Crc16Tables {
    uint16_t entry[8][256];
};

constexpr uint16_t crc16Step(uint16_t crc, uint8_t byte, const uint16_t* table) {
    return static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ byte) & 0xFF]);
}

constexpr Crc16Tables makeCrc16Tables() {
    Crc16Tables tables{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
        tables.entry[0][i] = crc;
    }
    for (int k = 1; k < 8; ++k) {
        for (int i = 0; i < 256; ++i)
            tables.entry[k][i] = crc16Step(tables.entry[k - 1][i], 0, tables.entry[0]);
    }
    return tables;
}

constexpr Crc16Tables kCrc16Tables = makeCrc16Tables();

constexpr uint16_t crc16Update(uint16_t crc, const uint8_t* data, size_t length) {
    const auto& t = kCrc16Tables.entry;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        crc = static_cast<uint16_t>(t[7][((crc >> 8) ^ data[i]) & 0xFF] ^
                                    t[6][(crc ^ data[i + 1]) & 0xFF] ^ t[5][data[i + 2]] ^
                                    t[4][data[i + 3]] ^ t[3][data[i + 4]] ^ t[2][data[i + 5]] ^
                                    t[1][data[i + 6]] ^ t[0][data[i + 7]]);
    }
    for (; i < length; ++i)
        crc = crc16Step(crc, data[i], t[0]);
    return crc;
}

constexpr uint8_t kCheckInput[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(crc16Update(0, kCheckInput, sizeof kCheckInput) == 0x31C3,
              "CRC-16/XMODEM check value");
// Eight-byte steps from a register that is not clear, between single steps.
constexpr uint8_t kLongerInput[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9',
                                    '1', '2', '3', '4', '5', '6', '7', '8'};
static_assert(crc16Update(crc16Update(0, kLongerInput, 3), kLongerInput + 3, 14) == 0x3F8D,
              "CRC-16/XMODEM of a longer input");

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
