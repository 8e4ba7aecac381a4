#pragma once

#include <QString>

namespace RomCmd {

// The boot-loader firmware of a SoC series in the bl_fw folder beside the tool, as -f and
// load-blfw name it: a series ("tv5100") and a selector (1 for the signed build).
QString firmwareFolder(const QString& series);
QString firmwareFile(const QString& series, const QString& selector);

}  // namespace RomCmd
