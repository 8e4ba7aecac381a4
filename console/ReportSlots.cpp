#include "console/RomConsoleMode.h"

namespace RomCmd {

void RomConsoleMode::slotRTEQueried(int, QVariant) {}
void RomConsoleMode::slotMemoryReadProgress(uint32_t, uint32_t, const uint8_t*, uint32_t, uint32_t,
                                            uint32_t)
{
}
void RomConsoleMode::slotMemory2FileReadProgress(int, int) {}
void RomConsoleMode::slotMemoryWriteProgress(int, int) {}
void RomConsoleMode::slotFile2MemoryWriteProgress(int, int) {}
void RomConsoleMode::slotImageLoadProgress(int, int) {}
QString RomConsoleMode::formatSize(uint64_t bytes) { return QString::number(bytes); }

}  // namespace RomCmd
