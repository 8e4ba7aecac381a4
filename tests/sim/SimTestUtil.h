#pragma once

#include <QByteArray>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/SimDevice.h"

namespace RomCmd {
namespace Test {

// Command payload: code, count, flags, 0, then the parameter words little-endian.
inline std::vector<uint8_t> command(uint8_t code, uint8_t flags,
                                    std::initializer_list<uint32_t> params,
                                    int countOverride = -1) {
    std::vector<uint8_t> p = {
        code, uint8_t(countOverride >= 0 ? countOverride : int(params.size())), flags, 0};
    for (uint32_t v : params) {
        p.insert(p.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    return p;
}

inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

inline uint32_t responseStatus(const Sim::Outcome& o) {
    return o.respond && o.response.size() >= 8 ? le32(o.response, 4) : 0xFFFFFFFFu;
}

inline std::string hexOf(const std::vector<uint8_t>& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())).toHex().toStdString();
}

}  // namespace Test
}  // namespace RomCmd
