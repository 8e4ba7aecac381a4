#pragma once

#include <QString>
#include <cstdint>

namespace RomCmd {

// Identifiers and addresses in messages and reports: 0x and eight lower-case digits.
inline QString hex8(uint32_t value) {
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

}  // namespace RomCmd
