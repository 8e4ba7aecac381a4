#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "sim/WireClock.h"

namespace RomCmd {
namespace Test {
namespace {

using Sim::WireClock;

struct Booking {
    int64_t readyNs;
    size_t bytes;
};

struct WireCase {
    const char* name;
    uint32_t baud;
    std::vector<Booking> bookings;
    int64_t lastByteNs;  // when the last booked byte has crossed
};

void PrintTo(const WireCase& c, std::ostream* os) {
    *os << c.name;
}

class WireClockTest : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireClockTest, BytesCostExactlyTheirWireTime) {
    const WireCase& c = GetParam();
    const WireClock::Clock::time_point origin(std::chrono::seconds(1000));
    WireClock clock(c.baud);
    WireClock::Clock::time_point last;
    for (const Booking& b : c.bookings) {
        last = clock.book(origin + std::chrono::nanoseconds(b.readyNs), b.bytes);
    }
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::nanoseconds>(last - origin).count(),
              c.lastByteNs);
}

INSTANTIATE_TEST_SUITE_P(
    Pacing, WireClockTest,
    ::testing::Values(
        // 3333.3 ns a byte: rounding each byte on its own would lose a nanosecond.
        WireCase{"SingleBytesAddUpToOneWrite", 3000000, {{0, 1}, {0, 1}, {0, 1}}, 10000},
        // A frame handed over while the line is still busy waits for it.
        WireCase{"BusyLineQueues", 921600, {{0, 518}, {1000, 2}}, 5642361},
        // A line idle for a second does not let the next byte through early.
        WireCase{"IdleLineEarnsNoCredit", 9600, {{0, 1}, {1000000000, 1}}, 1001041666}),
    [](const ::testing::TestParamInfo<WireCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace Test
}  // namespace RomCmd
