#include "sim/WireClock.h"

namespace RomCmd {
namespace Sim {

namespace {

// Start bit, 8 data bits, stop bit.
constexpr uint64_t kBitsPerByte = 10;
constexpr uint64_t kNsPerSecond = 1000000000;

}  // namespace

WireClock::Clock::time_point WireClock::book(Clock::time_point ready, size_t bytes) {
    if (ready > free) {
        // An idle line earns no credit for later bytes.
        free = ready;
        carry = 0;
    }
    // Exact in units of 1/baud ns, so a stream of single bytes costs what one write of
    // them all costs.
    const uint64_t units = uint64_t(bytes) * kBitsPerByte * kNsPerSecond + carry;
    free += std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(units / baud));
    carry = units % baud;
    return free;
}

WireClock::Clock::duration WireClock::span(size_t bytes) const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(uint64_t(bytes) * kBitsPerByte * kNsPerSecond / baud));
}

}  // namespace Sim
}  // namespace RomCmd
