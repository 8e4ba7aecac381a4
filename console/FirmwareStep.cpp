#include "console/RomConsoleMode.h"

namespace RomCmd {

bool RomConsoleMode::cmdLoadBlfw(const QStringList&) { return false; }
void RomConsoleMode::runFirmwareStep() {}
bool RomConsoleMode::loadFirmwareOnce() { return false; }
bool RomConsoleMode::isDevicePresent(bool) { return false; }

}  // namespace RomCmd
