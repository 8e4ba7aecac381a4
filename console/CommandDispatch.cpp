#include "console/RomConsoleMode.h"

namespace RomCmd {

bool RomConsoleMode::dispatchCommand(const QString&) { return false; }
QStringList RomConsoleMode::splitTokens(const QString& command)
{
    return command.split(' ', Qt::SkipEmptyParts);
}

}  // namespace RomCmd
