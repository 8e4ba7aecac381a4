#pragma once

#include <cstddef>
#include <cstdint>

namespace RomCmd {

// The read and write bounds of the serial layer, on a millisecond clock. Kept apart from the
// waiting so that they can be checked to the millisecond.
namespace SerialDeadline {

constexpr int64_t kInterByteLimitMs = 1000;
constexpr int64_t kPerByteMs = 10;
// Bounds writes when reads have no time-out; the transports' default time-out.
constexpr int64_t kDefaultTimeoutMs = 10000;

// When a read of `count` bytes begun at `start` gives up, `got` bytes in, the last of them at
// `lastByteAt`: after 10 ms per requested byte plus t; before the first byte after t + 1000 ms
// whatever the count (a silent line); after one, more than 1000 ms without another. -1 for
// t == 0: the read waits for its full count.
constexpr int64_t read(uint32_t t, size_t count, int64_t start, size_t got, int64_t lastByteAt) {
    if (t == 0)
        return -1;
    const int64_t total = start + kPerByteMs * static_cast<int64_t>(count) + t;
    const int64_t quiet = got > 0 ? lastByteAt + kInterByteLimitMs : start + t + kInterByteLimitMs;
    return total < quiet ? total : quiet;
}

// A write of `count` bytes begun at `start` gives up after 10 ms per byte plus t (10000 ms
// for t == 0).
constexpr int64_t write(uint32_t t, size_t count, int64_t start) {
    return start + kPerByteMs * static_cast<int64_t>(count) + (t != 0 ? t : kDefaultTimeoutMs);
}

}  // namespace SerialDeadline

}  // namespace RomCmd
