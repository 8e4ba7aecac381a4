#pragma once

#include <cstdint>
#include <vector>

#include "transport/DeviceIO.h"

namespace RomCmd {
namespace Test {

struct Exchange {
    int write = -1;
    int read = -1;
    std::vector<uint8_t> response;
};

// One host packet and, when the device accepted or aborted it, the device's answer.
inline Exchange roundTrip(DeviceIO& io, const std::vector<uint8_t>& payload) {
    Exchange e;
    e.write = io.writePacket(payload.data(), uint16_t(payload.size()));
    if (e.write == 0 || e.write == 2) {
        uint8_t buffer[1024];
        uint16_t length = 0;
        e.read = io.readPacket(buffer, &length);
        if (e.read == 0) {
            e.response.assign(buffer, buffer + length);
        }
    }
    return e;
}

}  // namespace Test
}  // namespace RomCmd
