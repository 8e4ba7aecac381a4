#include "transport/Framing.h"

#include "transport/ResultCode.h"

namespace RomCmd {
namespace Framing {

int ackStatusToResult(uint8_t ackByte)
{
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

void buildUartHeader(uint8_t* header, uint16_t payloadLength)
{
    header[0] = kStartByte;
    header[1] = kPacketTag;
    header[2] = static_cast<uint8_t>(payloadLength & 0xFF);
    header[3] = static_cast<uint8_t>(payloadLength >> 8);
}

}  // namespace Framing

void Crc16Xmodem::update(const uint8_t* data, size_t length)
{
    uint16_t crc = value_;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
    }
    value_ = crc;
}

uint16_t Crc16Xmodem::compute(const uint8_t* data, size_t length)
{
    Crc16Xmodem crc;
    crc.update(data, length);
    return crc.value();
}

}  // namespace RomCmd
