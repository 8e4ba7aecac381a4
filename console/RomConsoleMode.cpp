#include "console/RomConsoleMode.h"

namespace RomCmd {

// Placeholder controller until the run sequence lands.
RomConsoleMode::RomConsoleMode(QCommandLineParser&, QObject* parent)
    : QObject(parent), environment(std::make_shared<DeviceEnvironment>())
{
}
RomConsoleMode::~RomConsoleMode() = default;
void RomConsoleMode::run() {}
bool RomConsoleMode::runRomApiCommands() { return false; }
void RomConsoleMode::setEnvironment(std::shared_ptr<DeviceEnvironment> env) { environment = env; }

}  // namespace RomCmd
