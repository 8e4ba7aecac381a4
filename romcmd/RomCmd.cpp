#include "romcmd/RomCmd.h"

#include "romcmd/CommandTables.h"
#include "transport/HidIO.h"
#include "transport/ResultCode.h"

namespace RomCmd {

// Placeholder engine: every command fails until the engine lands.
RomCmd::RomCmd(const QVariant&, int type) : QObject(nullptr), deviceType(type) {}
RomCmd::RomCmd(std::unique_ptr<DeviceIO> transport, int type, const QString& deviceId)
    : QObject(nullptr), io(std::move(transport)), deviceType(type), id(deviceId)
{
}
RomCmd::~RomCmd() = default;
void RomCmd::setCommandTimeout(uint32_t) {}
int RomCmd::queryRte(uint32_t, uint32_t) { return ResultFailure; }
int RomCmd::configRte(const uint8_t*, int) { return ResultFailure; }
int RomCmd::configMemory(uint32_t, uint32_t) { return ResultFailure; }
int RomCmd::eraseRegion(uint32_t, uint32_t, uint32_t, uint64_t) { return ResultFailure; }
int RomCmd::eraseAll(uint32_t, uint64_t) { return ResultFailure; }
int RomCmd::resetDevice(uint32_t) { return ResultFailure; }
int RomCmd::readMemory(uint32_t, uint32_t, uint32_t, bool) { return ResultFailure; }
int RomCmd::readMemoryToFile(uint32_t, uint32_t, uint32_t, const QString&) { return ResultFailure; }
int RomCmd::writeMemory(uint32_t, uint32_t, const uint8_t*, uint32_t) { return ResultFailure; }
int RomCmd::writeMemoryByFile(uint32_t, uint32_t, const QString&) { return ResultFailure; }
int RomCmd::loadImage(const QString&) { return ResultFailure; }
int RomCmd::verifyChecksum(uint32_t, uint32_t, const uint8_t*, uint32_t) { return ResultFailure; }
int RomCmd::verifyChecksumByFile(uint32_t, uint32_t, const QString&, uint64_t) { return ResultFailure; }
QString RomCmd::statusMessage(int status) { return lookupStatusMessage(status); }
QString RomCmd::resultMessage(int code) { return lookupResultMessage(code); }
QStringList RomCmd::usbDevicePaths(uint16_t vid, uint16_t pid) { return HidIO::devicePaths(vid, pid); }
int RomCmd::checkResponse(int writeResult) { return writeResult; }
int RomCmd::finish(const char*, int result) { return result; }

}  // namespace RomCmd
