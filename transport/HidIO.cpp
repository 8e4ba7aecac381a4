#include "transport/HidIO.h"

#include "transport/ResultCode.h"

namespace RomCmd {

HidIO::HidIO(const QVariant& deviceInfo)
{
    const UsbInfo info = deviceInfo.value<UsbInfo>();
    devicePath = info.devicePath;
    reservedText = info.reservedText;
    pid = info.pid;
    vid = info.vid;
    reservedValue = info.reservedValue;
    reservedFlag = info.reservedFlag;
    status = ResultOpenFailed;
}
HidIO::~HidIO() = default;
int HidIO::writePacket(const uint8_t*, uint16_t) { return ResultOpenFailed; }
int HidIO::readPacket(uint8_t*, uint16_t*) { return ResultOpenFailed; }
int HidIO::readAck() { return ResultOpenFailed; }
int HidIO::sendResponse(uint8_t) { return ResultOpenFailed; }
QStringList HidIO::devicePaths(uint16_t, uint16_t) { return {}; }

}  // namespace RomCmd
