#include <gtest/gtest.h>

#include <poll.h>

#include <QVariant>
#include <climits>
#include <memory>
#include <vector>

#include "PtyPeer.h"
#include "ReadFault.h"
#include "TransportTestUtil.h"
#include "WriteFault.h"
#include "tests/common/LogCapture.h"
#include "transport/SerialIO.h"

using namespace RomCmd;
using namespace RomCmd::Test;

namespace {

constexpr int kShortTimeoutMs = 150;
constexpr uint16_t kUntouchedLength = 0xBEEF;

class SerialFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.ok()) << "no pseudo-terminal available"; }
    void TearDown() override {
        disarmWriteFault();
        disarmEmptyReads();
    }

    std::unique_ptr<SerialIO> openPort(int timeoutMs = kShortTimeoutMs) {
        return openSerialIO(peer, timeoutMs);
    }

    PtyPeer peer;
    LogCapture log;
};

// ---- writePacket: bytes on the wire and every acknowledgement outcome ----

struct AckCase {
    const char* name;
    QByteArray payload;
    const char* deviceHex;  // what the device sends after the packet
    int expected;
    QStringList critical;
    int followUpAck;  // result of a further readAck, -1 to skip
};

class SerialAck : public SerialFixture, public ::testing::WithParamInterface<AckCase> {};

TEST_P(SerialAck, WritesFramedPacketAndMapsAcknowledgement) {
    const AckCase& c = GetParam();
    auto io = openPort();
    ASSERT_EQ(io->status, 0) << log.dump().toStdString();
    ASSERT_TRUE(peer.feed(QByteArray::fromHex(c.deviceHex)));

    const int result = io->writePacket(reinterpret_cast<const uint8_t*>(c.payload.constData()),
                                       static_cast<uint16_t>(c.payload.size()));

    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(io->status, c.expected);
    const QByteArray expectedWire = uartPacket(c.payload);
    EXPECT_EQ(hex(peer.take(expectedWire.size() + 1, 1000)), hex(expectedWire));
    EXPECT_EQ(log.messages(QtCriticalMsg), c.critical);
    if (c.followUpAck >= 0) {
        EXPECT_EQ(io->readAck(), c.followUpAck);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialAck,
    ::testing::Values(
        AckCase{"EmptyAccepted", QByteArray(), "5aa1", 0, {}, -1},
        AckCase{"AbcRejected", QByteArray("abc"), "5aa2", 1, {}, -1},
        AckCase{"DigitsAborted", QByteArray("123456789"), "5aa3", 2, {}, -1},
        AckCase{"StatusZeroIsNoAck", QByteArray("abc"), "5a00", 3, {}, -1},
        AckCase{"Status7FIsNoAck", QByteArray("abc"), "5a7f", 3, {}, -1},
        // The byte after a wrong start byte stays in the line for the next reader.
        AckCase{"WrongStartByteReadsOneByte", QByteArray("abc"), "415aa1", 3, {}, 0},
        AckCase{"SilentDevice", QByteArray("abc"), "", 9, {"Read ack error!"}, -1},
        AckCase{"StatusByteMissing", QByteArray("abc"), "5a", 10, {"Read ack error!"}, -1}),
    [](const ::testing::TestParamInfo<AckCase>& info) { return std::string(info.param.name); });

TEST(UartFraming, CrcAndPacketVectors) {
    const QByteArray digits("123456789");
    EXPECT_EQ(Crc16Xmodem::compute(reinterpret_cast<const uint8_t*>(digits.constData()), 9),
              0x31C3);
    struct {
        QByteArray payload;
        const char* wire;
    } const vectors[] = {
        {QByteArray(), "5aa50000fc4b"},
        {QByteArray("abc"), "5aa50300616263f4c8"},
        {digits, "5aa509003132333435363738395c4c"},
    };
    for (const auto& v : vectors)
        EXPECT_EQ(hex(uartPacket(v.payload)), v.wire);
}

// ---- readPacket: every outcome of one device packet ----

struct ReadCase {
    const char* name;
    const char* deviceHex;
    int expected;
    int expectedLength;  // -1: the length output must stay untouched
    const char* payloadHex;
    const char* answerHex;  // the host response on the wire, "" for none
    QStringList critical;
};

class SerialRead : public SerialFixture, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(SerialRead, ReadsAndAnswersDevicePacket) {
    const ReadCase& c = GetParam();
    auto io = openPort();
    ASSERT_EQ(io->status, 0) << log.dump().toStdString();
    ASSERT_TRUE(peer.feed(QByteArray::fromHex(c.deviceHex)));

    std::vector<uint8_t> buffer(Framing::kPacketBufferSize, 0xEE);
    uint16_t length = kUntouchedLength;
    const int result = io->readPacket(buffer.data(), &length);

    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(io->status, c.expected);
    EXPECT_EQ(length, c.expectedLength < 0 ? kUntouchedLength : c.expectedLength);
    if (c.expectedLength > 0) {
        EXPECT_EQ(hex(buffer.data(), c.expectedLength), c.payloadHex);
    }
    const QByteArray answer = QByteArray::fromHex(c.answerHex);
    EXPECT_EQ(hex(peer.take(answer.size() + 1, answer.isEmpty() ? 300 : 1000)), hex(answer));
    EXPECT_EQ(log.messages(QtCriticalMsg), c.critical);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialRead,
    ::testing::Values(
        ReadCase{"EmptyPayload", "5aa50000fc4b", 0, 0, "", "5aa1", {}},
        ReadCase{"GarbageBeforeStart", "00ff5aa50000fc4b", 0, 0, "", "5aa1", {}},
        ReadCase{"Abc", "5aa50300616263f4c8", 0, 3, "616263", "5aa1", {}},
        ReadCase{"BadCrcRejected", "5aa50300616263f4c9", 1, -1, "", "5aa2", {}},
        ReadCase{"WrongTagNotAnswered", "5aa40000fc4b", 11, -1, "", "", {"Read payload error!"}},
        ReadCase{"TagMissing", "5a", 11, -1, "", "", {"Read payload error!"}},
        ReadCase{"SilentDevice", "", 4, -1, "", "", {"Read timeout!"}},
        ReadCase{"GarbageOnly", "0102a5", 4, -1, "", "", {"Read timeout!"}},
        ReadCase{"ShortLength", "5aa503", 12, -1, "", "", {"Read payload length error!"}},
        ReadCase{"ShortPayload", "5aa5030061", 13, -1, "", "", {"Read payload buffer error!"}},
        ReadCase{"ShortCrc", "5aa50300616263f4", 14, -1, "", "", {"Read crc error!"}}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

// ---- declared payload lengths around the 1024-byte buffer ----

struct LengthCase {
    int declared;
    bool fits;
};

class SerialDeclaredLength : public SerialFixture,
                             public ::testing::WithParamInterface<LengthCase> {};

TEST_P(SerialDeclaredLength, NeverOverrunsBufferAndStaysInStep) {
    const LengthCase& c = GetParam();
    auto io = openPort(2000);
    ASSERT_EQ(io->status, 0);
    const QByteArray payload = patternBytes(c.declared);
    peer.feedLater({{0, uartPacket(payload) + uartPacket("abc")}});

    // Exactly the buffer size the engine provides, so the sanitizer sees any overrun.
    std::vector<uint8_t> buffer(Framing::kPacketBufferSize);
    uint16_t length = kUntouchedLength;
    const int first = io->readPacket(buffer.data(), &length);
    if (c.fits) {
        EXPECT_EQ(first, 0);
        EXPECT_EQ(length, c.declared);
        EXPECT_EQ(hex(buffer.data(), c.declared), hex(payload));
        EXPECT_EQ(hex(peer.take(3, 1000)), "5aa1");
        EXPECT_TRUE(log.messages(QtCriticalMsg).isEmpty()) << log.dump().toStdString();
    } else {
        EXPECT_EQ(first, 13);
        EXPECT_EQ(io->status, 13);
        EXPECT_EQ(length, kUntouchedLength);
        EXPECT_EQ(hex(peer.take(3, 1000)), "5aa2");
        EXPECT_EQ(log.messages(QtCriticalMsg),
                  QStringList{QString("Read payload buffer error!  length:  %1").arg(c.declared)});
    }

    length = kUntouchedLength;
    EXPECT_EQ(io->readPacket(buffer.data(), &length), 0);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(hex(buffer.data(), 3), "616263");
    EXPECT_EQ(hex(peer.take(3, 1000)), "5aa1");
}

INSTANTIATE_TEST_SUITE_P(Lengths, SerialDeclaredLength,
                         ::testing::Values(LengthCase{0, true}, LengthCase{1020, true},
                                           LengthCase{1021, true}, LengthCase{1024, true},
                                           LengthCase{1025, false}, LengthCase{4096, false},
                                           LengthCase{65535, false}),
                         [](const ::testing::TestParamInfo<LengthCase>& info) {
                             return "Length" + std::to_string(info.param.declared);
                         });

// ---- write failures: the line refuses the header, the payload, the CRC or the response ----

// The frame goes out in one write: where the line stopped taking it names the failed part.
struct WriteFaultCase {
    const char* name;
    size_t acceptedBytes;
    int expected;
    const char* wireHex;  // what reached the device before the failure
    const char* critical;
};

class SerialWriteFault : public SerialFixture,
                         public ::testing::WithParamInterface<WriteFaultCase> {};

TEST_P(SerialWriteFault, ReportsTheFailedStep) {
    const WriteFaultCase& c = GetParam();
    auto io = openPort();
    ASSERT_EQ(io->status, 0);
    ASSERT_TRUE(peer.feed(QByteArray::fromHex("5aa1")));
    armWriteLimit(peer.slaveDevice(), c.acceptedBytes);

    const QByteArray payload("abc");
    const int result = io->writePacket(reinterpret_cast<const uint8_t*>(payload.constData()), 3);
    disarmWriteFault();

    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(io->status, c.expected);
    EXPECT_EQ(hex(peer.takeAll(200)), c.wireHex);
    EXPECT_EQ(log.messages(QtCriticalMsg), QStringList{c.critical});
    // The acknowledgement was never read, so it is still waiting in the line.
    EXPECT_EQ(io->readAck(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialWriteFault,
    ::testing::Values(WriteFaultCase{"Header", 0, 6, "", "Write header error!"},
                      WriteFaultCase{"HeaderCut", 3, 6, "5aa503", "Write header error!"},
                      WriteFaultCase{"Payload", 4, 7, "5aa50300", "Write payload error!"},
                      WriteFaultCase{"Crc", 7, 8, "5aa50300616263", "Write crc16 error!"},
                      WriteFaultCase{"CrcCut", 8, 8, "5aa50300616263f4", "Write crc16 error!"}),
    [](const ::testing::TestParamInfo<WriteFaultCase>& info) {
        return std::string(info.param.name);
    });

struct ResponseFaultCase {
    const char* name;
    const char* deviceHex;
    int expected;
    const char* critical;
};

class SerialResponseFault : public SerialFixture,
                            public ::testing::WithParamInterface<ResponseFaultCase> {};

TEST_P(SerialResponseFault, ReadPacketReportsTheAnswerFailure) {
    const ResponseFaultCase& c = GetParam();
    auto io = openPort();
    ASSERT_EQ(io->status, 0);
    ASSERT_TRUE(peer.feed(QByteArray::fromHex(c.deviceHex)));
    armWriteFault(peer.slaveDevice(), 1);

    std::vector<uint8_t> buffer(Framing::kPacketBufferSize);
    uint16_t length = kUntouchedLength;
    EXPECT_EQ(io->readPacket(buffer.data(), &length), c.expected);
    EXPECT_EQ(io->status, c.expected);
    EXPECT_EQ(log.messages(QtCriticalMsg), QStringList{c.critical});
    EXPECT_EQ(hex(peer.takeAll(200)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialResponseFault,
    ::testing::Values(
        ResponseFaultCase{"GoodPacket", "5aa50000fc4b", 15, "Send response failed! resp:  161"},
        // A rejected packet stays a NAK even when the rejection could not be sent.
        ResponseFaultCase{"BadCrc", "5aa50000fc4c", 1, "Send response failed! resp:  162"}),
    [](const ::testing::TestParamInfo<ResponseFaultCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(SerialFixture, SendResponseWritesTheTwoBytes) {
    auto io = openPort();
    ASSERT_EQ(io->status, 0);
    for (const uint8_t code : {uint8_t(0xA1), uint8_t(0xA2)}) {
        EXPECT_EQ(io->sendResponse(code), 0);
        EXPECT_EQ(io->status, 0);
        EXPECT_EQ(hex(peer.take(3, 1000)), hex(QByteArray("\x5a", 1) + char(code)));
    }
    EXPECT_TRUE(log.messages(QtCriticalMsg).isEmpty());
}

// The device end goes away: every operation fails promptly with its own code.
TEST_F(SerialFixture, HungUpLineFailsWithoutWaiting) {
    auto io = openPort(60000);
    ASSERT_EQ(io->status, 0);
    peer.closeMaster();

    const qint64 start = monotonicMs();
    const QByteArray payload("abc");
    EXPECT_EQ(io->writePacket(reinterpret_cast<const uint8_t*>(payload.constData()), 3), 6);
    std::vector<uint8_t> buffer(Framing::kPacketBufferSize);
    uint16_t length = kUntouchedLength;
    EXPECT_EQ(io->readPacket(buffer.data(), &length), 4);
    EXPECT_EQ(io->readAck(), 9);
    EXPECT_EQ(io->sendResponse(0xA1), 15);
    EXPECT_LT(monotonicMs() - start, 10000);
    EXPECT_EQ(log.messages(QtCriticalMsg),
              (QStringList{"Write header error!", "Read timeout!", "Read ack error!",
                           "Send response failed! resp:  161"}));
}

// A terminal can report input a moment before it can be read; an empty read then is no
// hang-up, and the acknowledgement that follows still counts.
TEST_F(SerialFixture, EmptyReadAfterReadablePollIsNoHangUp) {
    auto io = openPort();
    ASSERT_EQ(io->status, 0);
    ASSERT_TRUE(peer.feed(QByteArray::fromHex("5aa1")));
    armEmptyReads(peer.slaveDevice(), 3);
    EXPECT_EQ(io->readAck(), 0);
    EXPECT_TRUE(log.messages(QtCriticalMsg).isEmpty()) << log.dump().toStdString();
}

// Bytes left in the line by an earlier run are not this run's acknowledgement.
TEST_F(SerialFixture, OpeningDiscardsWaitingInput) {
    ASSERT_TRUE(peer.feed(QByteArray::fromHex("5aa1")));
    pollfd waiting{peer.slaveFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 5000), 1) << "the stale bytes never reached the line";
    auto io = openPort();
    ASSERT_EQ(io->status, 0);
    ASSERT_TRUE(peer.feed(QByteArray::fromHex("5aa2")));
    EXPECT_EQ(io->writePacket(nullptr, 0), 1);
}

// A time-out near INT_MAX must not overflow into poll's "wait for ever".
TEST_F(SerialFixture, TimeOutNearIntMaxKeepsEveryWaitFinite) {
    auto io = openPort(INT_MAX - 10);
    ASSERT_EQ(io->status, 0);
    ASSERT_TRUE(peer.feed(QByteArray::fromHex("5aa1")));
    watchPollWaits(peer.slaveDevice());
    EXPECT_EQ(io->readAck(), 0);
    EXPECT_GE(shortestPollWait(), 0);
}

}  // namespace
