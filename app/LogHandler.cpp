#include "app/LogHandler.h"

namespace RomCmd {

void LogHandler::install() {}

}  // namespace RomCmd
