#include "console/RomConsoleMode.h"

namespace RomCmd {

bool RomConsoleMode::selectSerialDevice(const QStringList&) { return false; }
bool RomConsoleMode::selectUsbDevice(const QStringList&) { return false; }
bool RomConsoleMode::autoDetectUsbDevice(uint32_t, uint32_t) { return false; }

}  // namespace RomCmd
