#include "console/RomConsoleMode.h"

namespace RomCmd {

bool RomConsoleMode::cmdConfigMemory(const QStringList&) { return false; }
bool RomConsoleMode::cmdReadMemory(const QStringList&) { return false; }
bool RomConsoleMode::cmdWriteMemory(const QStringList&) { return false; }
bool RomConsoleMode::cmdVerifyChecksum(const QStringList&) { return false; }
bool RomConsoleMode::cmdEraseRegion(const QStringList&) { return false; }
bool RomConsoleMode::cmdEraseChip(const QStringList&) { return false; }
bool RomConsoleMode::cmdLoadImage(const QStringList&) { return false; }
uint32_t RomConsoleMode::parseNumber(const QString& text, bool* ok)
{
    uint32_t value = text.toUInt(ok, 10);
    return *ok ? value : text.toUInt(ok, 16);
}

}  // namespace RomCmd
