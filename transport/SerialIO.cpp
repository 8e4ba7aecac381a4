#include "transport/SerialIO.h"

#include "transport/ResultCode.h"

namespace RomCmd {

SerialIO::SerialIO(const QVariant& deviceInfo)
{
    const SerialPortInfo info = deviceInfo.value<SerialPortInfo>();
    portName = info.portName;
    baudRate = info.baudRate;
    dataBits = info.dataBits;
    parity = info.parity;
    stopBits = info.stopBits;
    flowControl = info.flowControl;
    reservedFlag = info.reservedFlag;
    status = ResultOpenFailed;
}
SerialIO::~SerialIO() = default;
int SerialIO::writePacket(const uint8_t*, uint16_t) { return status = ResultOpenFailed; }
int SerialIO::readPacket(uint8_t*, uint16_t*) { return status = ResultOpenFailed; }
void SerialIO::setTimeout(int milliseconds) { timeout = milliseconds; }
int SerialIO::readAck() { return status = ResultOpenFailed; }
int SerialIO::sendResponse(uint8_t) { return status = ResultOpenFailed; }

}  // namespace RomCmd
