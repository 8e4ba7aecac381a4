#include "console/RomConsoleMode.h"

namespace RomCmd {

bool RomConsoleMode::runImageCommand(const QString&) { return false; }
bool RomConsoleMode::cmdCreateImage(const QStringList&) { return false; }

}  // namespace RomCmd
