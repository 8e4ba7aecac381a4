#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace RomCmd {
namespace Sim {

// One direction of a paced 8N1 line: when it is free again. Bytes are booked back to back
// from that time, or from the moment they become ready when the line was idle, so a waiter
// that sleeps until the returned times never adds its own wake-up lateness to later bytes.
class WireClock {
public:
    using Clock = std::chrono::steady_clock;

    explicit WireClock(uint32_t baud) : baud(baud) {}

    // Books `bytes` starting no earlier than `ready`; returns when the last one has crossed.
    Clock::time_point book(Clock::time_point ready, size_t bytes);
    Clock::time_point freeAt() const { return free; }
    // Wire time of `bytes`, rounded down to whole nanoseconds.
    Clock::duration span(size_t bytes) const;

private:
    uint32_t baud;
    Clock::time_point free{};
    uint64_t carry = 0;  // fraction of a nanosecond, in units of 1/baud ns
};

}  // namespace Sim
}  // namespace RomCmd
