#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QVariant>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "PtyPeer.h"
#include "TransportTestUtil.h"
#include "tests/common/LogCapture.h"
#include "transport/SerialDeadline.h"
#include "transport/SerialIO.h"

using namespace RomCmd;
using namespace RomCmd::Test;

namespace {

// Lower bounds are exact to the millisecond; upper bounds leave room for a loaded machine,
// yet less than 300 ms, so a bound 300 ms too long fails. The arithmetic itself is checked
// exactly below.
constexpr qint64 kSlackMs = 250;

struct DeadlineCase {
    const char* label;
    uint32_t timeoutMs;
    size_t count;
    size_t got;
    int64_t lastByteAt;
    int64_t expected;  // with the read begun at 1000
};

class SerialReadDeadline : public ::testing::TestWithParam<DeadlineCase> {};

TEST_P(SerialReadDeadline, IsExact) {
    const DeadlineCase& c = GetParam();
    EXPECT_EQ(SerialDeadline::read(c.timeoutMs, c.count, 1000, c.got, c.lastByteAt), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialReadDeadline,
    ::testing::Values(DeadlineCase{"NoTimeOut", 0, 1, 0, 1000, -1},
                      // 10 ms for the byte plus the time-out.
                      DeadlineCase{"OneByte", 150, 1, 0, 1000, 1160},
                      DeadlineCase{"TotalBeforeTheGap", 100, 50, 3, 1400, 1600},
                      // Nothing at all: the time-out plus 1000 ms, not 10 ms per byte.
                      DeadlineCase{"SilentLongRead", 200, 2050, 0, 1000, 2200},
                      // After a byte, 1000 ms without another end the read.
                      DeadlineCase{"GapAfterAByte", 8000, 10, 1, 1500, 2500},
                      DeadlineCase{"EachByteRenewsTheGap", 8000, 10, 5, 4000, 5000}),
    [](const ::testing::TestParamInfo<DeadlineCase>& info) {
        return std::string(info.param.label);
    });

TEST(SerialWriteDeadline, IsExact) {
    EXPECT_EQ(SerialDeadline::write(100, 4, 1000), 1140);
    // Without a read time-out, the transports' default one.
    EXPECT_EQ(SerialDeadline::write(0, 4, 1000), 11040);
}

class SerialTiming : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.ok()) << "no pseudo-terminal available"; }

    std::unique_ptr<SerialIO> openPort(int timeoutMs) { return openSerialIO(peer, timeoutMs); }

    PtyPeer peer;
    LogCapture log;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(Framing::kPacketBufferSize);
    uint16_t length = 0;
};

// A read that gets nothing ends after 10 ms per requested byte plus the time-out, and a
// silent line ends even a long one within the time-out plus one second.
struct TotalBoundCase {
    const char* label;
    int timeoutMs;
    const char* deviceHex;
    int expected;
    qint64 boundMs;
};

class SerialTotalBound : public SerialTiming,
                         public ::testing::WithParamInterface<TotalBoundCase> {};

TEST_P(SerialTotalBound, SilentReadEndsAtTheBound) {
    const TotalBoundCase& c = GetParam();
    auto io = openPort(c.timeoutMs);
    ASSERT_EQ(io->status, 0);
    ASSERT_TRUE(peer.feed(QByteArray::fromHex(c.deviceHex)));

    const qint64 start = monotonicMs();
    const int result = c.expected == 9 ? io->readAck() : io->readPacket(buffer.data(), &length);
    const qint64 elapsed = monotonicMs() - start;

    EXPECT_EQ(result, c.expected);
    EXPECT_GE(elapsed, c.boundMs - 1);
    EXPECT_LT(elapsed, c.boundMs + kSlackMs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialTotalBound,
    ::testing::Values(TotalBoundCase{"AckByte", 150, "", 9, 10 + 150},
                      TotalBoundCase{"StartByte", 200, "", 4, 10 + 200},
                      // Header complete, then nothing of the 50-byte payload.
                      TotalBoundCase{"Payload", 100, "5aa53200", 13, 10 * 50 + 100},
                      TotalBoundCase{"Crc", 300, "5aa50000", 14, 10 * 2 + 300},
                      // A 2048-byte payload that never comes: not 10 * 2050 + 200.
                      TotalBoundCase{"SilentAfterLongHeader", 200, "5aa50008", 13, 200 + 1000}),
    [](const ::testing::TestParamInfo<TotalBoundCase>& info) {
        return std::string(info.param.label);
    });

// After the first byte, a gap of more than 1000 ms ends the read long before the total bound.
TEST_F(SerialTiming, GapAfterFirstByteEndsRead) {
    auto io = openPort(8000);
    ASSERT_EQ(io->status, 0);
    ASSERT_TRUE(
        peer.feed(QByteArray::fromHex("5aa50a00"
                                      "0102")));

    const qint64 start = monotonicMs();
    EXPECT_EQ(io->readPacket(buffer.data(), &length), 13);
    const qint64 elapsed = monotonicMs() - start;
    EXPECT_GE(elapsed, 1000);
    EXPECT_LT(elapsed, 1000 + kSlackMs);
}

// Gaps below 1000 ms inside one read do not end it.
TEST_F(SerialTiming, ShorterGapsKeepReading) {
    auto io = openPort(8000);
    ASSERT_EQ(io->status, 0);
    const QByteArray packet = uartPacket("xyz");
    // Taken before the feeder starts, whose delays run from its own start.
    const qint64 start = monotonicMs();
    peer.feedLater({{0, packet.left(5)}, {400, packet.mid(5, 1)}, {400, packet.mid(6)}});
    EXPECT_EQ(io->readPacket(buffer.data(), &length), 0) << log.dump().toStdString();
    EXPECT_GE(monotonicMs() - start, 800);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(hex(buffer.data(), 3), "78797a");
}

// With time-out 0 a read waits for its full count however slowly it comes; with a
// short time-out the same stream fails.
struct SlowStreamCase {
    const char* label;
    int timeoutMs;
    int expected;
};

class SerialSlowStream : public SerialTiming,
                         public ::testing::WithParamInterface<SlowStreamCase> {};

TEST_P(SerialSlowStream, ZeroTimeOutWaitsForFullCount) {
    const SlowStreamCase& c = GetParam();
    auto io = openPort(c.timeoutMs);
    ASSERT_EQ(io->status, 0);
    const QByteArray packet = uartPacket("uv");
    // Header at once, then the payload bytes 1200 ms apart, beyond the inter-byte limit.
    const qint64 start = monotonicMs();
    peer.feedLater({{0, packet.left(4)}, {1200, packet.mid(4, 1)}, {1200, packet.mid(5)}});
    const int result = io->readPacket(buffer.data(), &length);
    const qint64 elapsed = monotonicMs() - start;
    EXPECT_EQ(result, c.expected) << log.dump().toStdString();
    if (c.expected == 0) {
        EXPECT_GE(elapsed, 2400);
        EXPECT_EQ(hex(buffer.data(), 2), "7576");
        EXPECT_EQ(hex(peer.take(3, 1000)), "5aa1");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SerialSlowStream,
                         ::testing::Values(SlowStreamCase{"NoTimeOut", 0, 0},
                                           SlowStreamCase{"ShortTimeOut", 50, 13}),
                         [](const ::testing::TestParamInfo<SlowStreamCase>& info) {
                             return std::string(info.param.label);
                         });

// A device that keeps sending bytes other than the start byte gets one time-out for the
// whole search, not one per byte: when the noise stops 900 ms into a search of 1000 ms, the
// search ends 100 ms later, not a full time-out later.
TEST_F(SerialTiming, StartByteSearchHasOneDeadline) {
    auto io = openPort(1000);
    ASSERT_EQ(io->status, 0);
    std::atomic<bool> stop{false};
    std::thread noise([this, &stop] {
        const qint64 end = monotonicMs() + 900;
        while (!stop && monotonicMs() < end) {
            peer.feed(QByteArray(1, '\0'), 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const qint64 start = monotonicMs();
    const int result = io->readPacket(buffer.data(), &length);
    const qint64 elapsed = monotonicMs() - start;
    stop = true;
    noise.join();
    EXPECT_EQ(result, 4);
    EXPECT_GE(elapsed, 1000);
    // The last read's 10 ms for its byte.
    EXPECT_LT(elapsed, 1000 + 10 + kSlackMs);
    EXPECT_EQ(log.messages(QtCriticalMsg), QStringList{"Read timeout!"});
}

// A line that takes nothing more (the far end stopped reading) fails the write after the
// time-out plus 10 ms per byte, with the status of the step.
TEST_F(SerialTiming, WriteToStalledLineEndsAtTheBound) {
    auto io = openPort(100);
    ASSERT_EQ(io->status, 0);
    // Fill the line through the test's own end of it; the device end reads nothing.
    const int own = peer.slaveFd();
    ASSERT_EQ(::fcntl(own, F_SETFL, ::fcntl(own, F_GETFL) | O_NONBLOCK), 0);
    // The terminal moves bytes on behind the scenes: full means still full after a pause.
    const QByteArray filler(4096, 'x');
    bool full = false;
    for (int round = 0; round < 50 && !full; ++round) {
        while (::write(own, filler.constData(), size_t(filler.size())) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        full = ::write(own, filler.constData(), 1) < 0 && errno == EAGAIN;
    }
    ASSERT_TRUE(full) << "the line never filled up";

    const qint64 start = monotonicMs();
    const QByteArray payload("abc");
    EXPECT_EQ(io->writePacket(reinterpret_cast<const uint8_t*>(payload.constData()), 3), 6);
    const qint64 elapsed = monotonicMs() - start;
    EXPECT_GE(elapsed, 100 + 10 * 4);
    EXPECT_LT(elapsed, 100 + 10 * 4 + kSlackMs);
    EXPECT_EQ(log.messages(QtCriticalMsg), QStringList{"Write header error!"});
}

// A new time-out applies to the open port at once.
TEST_F(SerialTiming, SetTimeoutAppliesToOpenPort) {
    auto io = openPort(10000);
    ASSERT_EQ(io->status, 0);
    EXPECT_EQ(io->timeout, 10000);
    io->setTimeout(120);
    EXPECT_EQ(io->timeout, 120);
    const qint64 start = monotonicMs();
    EXPECT_EQ(io->readAck(), 9);
    const qint64 elapsed = monotonicMs() - start;
    EXPECT_GE(elapsed, 130 - 1);
    EXPECT_LT(elapsed, 130 + kSlackMs);
}

}  // namespace
