#include <gtest/gtest.h>

#include <QSet>
#include <QVariant>
#include <memory>
#include <random>
#include <vector>

#include "HidDouble.h"
#include "PtyPeer.h"
#include "TransportTestUtil.h"
#include "tests/common/LogCapture.h"
#include "transport/HidIO.h"
#include "transport/SerialIO.h"

using namespace RomCmd;
using namespace RomCmd::Test;

namespace {

constexpr uint32_t kSeed = 0x7A12C0DE;

int declaredLength(std::mt19937& rng) {
    switch (rng() % 8) {
        case 0:
            return 1000 + int(rng() % 60);  // around the 1024-byte buffer
        case 1:
            return int(rng() % 65536);
        case 2:
            return 65535;
        default:
            return int(rng() % 40);
    }
}

// Random bytes mixed with packet fragments: headers with any length, payloads cut
// anywhere, right and wrong CRCs.
QByteArray randomUartStream(std::mt19937& rng, int* longestDeclared) {
    QByteArray stream;
    const int pieces = 1 + int(rng() % 8);
    for (int p = 0; p < pieces; ++p) {
        const int kind = int(rng() % 4);
        if (kind == 0) {
            const int count = int(rng() % 24);
            for (int i = 0; i < count; ++i)
                stream.append(char(rng() % 4 == 0 ? 0x5A : rng() & 0xFF));
            continue;
        }
        const int n = declaredLength(rng);
        *longestDeclared = std::max(*longestDeclared, n);
        QByteArray packet = uartPacket(patternBytes(std::min(n, 1200), int(rng() % 100)));
        if (n > 1200) {
            packet = QByteArray::fromHex("5aa5");
            packet.append(char(n & 0xFF)).append(char(n >> 8));
            packet.append(patternBytes(int(rng() % 1200)));
        }
        if (kind == 2)
            packet[int(rng() % packet.size())] = char(rng() & 0xFF);
        if (kind == 3)
            packet.truncate(int(rng() % (packet.size() + 1)));
        stream.append(packet);
    }
    return stream;
}

TEST(UartFuzz, RandomStreamsNeverOverrunOrHang) {
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    LogCapture log;
    const std::unique_ptr<SerialIO> port = openSerialIO(peer, 20);
    SerialIO& io = *port;
    ASSERT_EQ(io.status, 0);

    const QSet<int> allowed{0, 1, 4, 11, 12, 13, 14};
    std::mt19937 rng(kSeed);
    for (int round = 0; round < 60; ++round) {
        int longest = 0;
        QByteArray stream = randomUartStream(rng, &longest);
        // Zero bytes (never a start byte) so that every declared length can be satisfied
        // and no read waits out its per-byte allowance.
        stream.append(QByteArray(longest + 8, '\0'));
        peer.feedLater({{0, stream}});

        // A time-out while the feeder still writes only means a stretch of zero bytes
        // outlasted the start-byte search; the stream has run dry once it is done.
        int result = -1;
        for (int call = 0; call < 200 && (result != 4 || peer.feeding()); ++call) {
            std::vector<uint8_t> buffer(Framing::kPacketBufferSize);
            uint16_t length = 0xBEEF;
            result = io.readPacket(buffer.data(), &length);
            ASSERT_TRUE(allowed.contains(result)) << "round " << round << " result " << result;
            if (result == 0) {
                EXPECT_LE(length, Framing::kPacketBufferSize) << "round " << round;
            } else {
                EXPECT_EQ(length, 0xBEEF) << "round " << round;
            }
            peer.takeAll(0);
        }
        EXPECT_EQ(result, 4) << "round " << round << ": the stream never ran dry";
        peer.joinFeeder();
        peer.takeAll(0);
    }
}

// Well-formed packets of random sizes: each fitting one is delivered intact, each
// oversized one is rejected without losing step with the next.
TEST(UartFuzz, PacketSequenceStaysInStep) {
    PtyPeer peer;
    ASSERT_TRUE(peer.ok());
    LogCapture log;
    const std::unique_ptr<SerialIO> port = openSerialIO(peer, 2000);
    SerialIO& io = *port;
    ASSERT_EQ(io.status, 0);

    std::mt19937 rng(kSeed + 1);
    std::vector<QByteArray> payloads;
    QByteArray stream;
    for (int i = 0; i < 40; ++i) {
        const int n = declaredLength(rng);
        payloads.push_back(patternBytes(n, i));
        stream.append(uartPacket(payloads.back()));
    }
    peer.feedLater({{0, stream}});

    for (size_t i = 0; i < payloads.size(); ++i) {
        std::vector<uint8_t> buffer(Framing::kPacketBufferSize);
        uint16_t length = 0xBEEF;
        const QByteArray& payload = payloads[i];
        const int result = io.readPacket(buffer.data(), &length);
        if (payload.size() <= int(Framing::kPacketBufferSize)) {
            ASSERT_EQ(result, 0) << "packet " << i << " of " << payload.size() << " bytes";
            ASSERT_EQ(length, payload.size());
            EXPECT_EQ(hex(buffer.data(), length), hex(payload)) << "packet " << i;
            EXPECT_EQ(hex(peer.take(2, 2000)), "5aa1") << "packet " << i;
        } else {
            ASSERT_EQ(result, 13) << "packet " << i << " of " << payload.size() << " bytes";
            EXPECT_EQ(length, 0xBEEF);
            EXPECT_EQ(hex(peer.take(2, 2000)), "5aa2") << "packet " << i;
        }
    }
    peer.joinFeeder();
}

// Reports of every size with random contents: what readPacket delivers always comes
// from inside the report, and nothing is written past the caller's buffer.
TEST(HidFuzz, RandomReportsStayInsideTheReport) {
    HidDouble::reset();
    HidDouble::attach("/dev/hidraw0", 0x5E3A, 1);
    LogCapture log;
    UsbInfo info;
    info.devicePath = "/dev/hidraw0";
    HidIO io{QVariant::fromValue(info)};
    ASSERT_EQ(io.status, 0);

    const QSet<int> allowed{0, 12, 13};
    std::mt19937 rng(kSeed + 2);
    for (int round = 0; round < 3000; ++round) {
        const int size = 1 + int(rng() % 1100);
        QByteArray report(size, '\0');
        for (int i = 0; i < size; ++i)
            report[i] = char(rng() & 0xFF);
        if (size >= 4 && rng() % 2 == 0) {
            // A plausible length near what the report carries.
            const int n = std::max(0, size - 4 + int(rng() % 5) - 2);
            report[2] = char(n & 0xFF);
            report[3] = char(n >> 8);
        }
        HidDouble::queueReport(report);

        // Exactly the engine's buffer size, so the sanitizer sees any overrun.
        std::vector<uint8_t> buffer(Framing::kPacketBufferSize);
        uint16_t length = 0xBEEF;
        const int result = io.readPacket(buffer.data(), &length);
        ASSERT_TRUE(allowed.contains(result)) << "round " << round << " result " << result;
        const QByteArray delivered = report.left(int(Framing::kHidReportBufferSize));
        if (result == 0) {
            ASSERT_LE(int(length) + 4, delivered.size()) << "round " << round;
            EXPECT_EQ(hex(buffer.data(), length), hex(delivered.mid(4, length)))
                << "round " << round;
        } else {
            EXPECT_EQ(length, 0xBEEF) << "round " << round;
        }

        HidDouble::queueReport(report.left(int(rng() % 6)));
        const int ack = io.readAck();
        ASSERT_TRUE((ack >= 0 && ack <= 3) || ack == 9) << "round " << round << " ack " << ack;
    }
}

}  // namespace
