#include "console/RomConsoleMode.h"

namespace RomCmd {

bool RomConsoleMode::cmdQueryRte(const QStringList&) { return false; }
bool RomConsoleMode::cmdConfigRte(const QStringList&) { return false; }
bool RomConsoleMode::cmdReset(const QStringList&) { return false; }
QString RomConsoleMode::statusText(int status) { return RomCmd::resultMessage(status); }

}  // namespace RomCmd
