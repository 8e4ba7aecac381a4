// Control commands of the engine against a recording transport double.
#include <gtest/gtest.h>

#include <QVariant>
#include <functional>
#include <memory>

#include "romcmd/RomCmd.h"
#include "tests/common/LogCapture.h"
#include "tests/romcmd/FakeDeviceIO.h"
#include "transport/SerialPortInfo.h"

namespace RomCmd {
namespace Test {
namespace {

Rig makeRig(const QList<FakeDeviceIO::Reply>& replies, const QList<int>& writeResults = {}) {
    return makeEngineRig(1, QStringLiteral("COM7"), replies, writeResults);
}

SerialInfParam consoleRecord() {
    SerialInfParam record{};
    record.words = 3;
    record.periphMask = 1;
    record.speed = 115200;
    return record;
}

// ---- exact command payloads ----

struct PayloadCase {
    const char* name;
    std::function<int(RomCmd&)> run;
    QList<FakeDeviceIO::Reply> replies;
    QStringList expectedHex;
};

class CommandPayload : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(CommandPayload, SendsExactBytesAndSucceeds) {
    const PayloadCase& c = GetParam();
    Rig rig = makeRig(c.replies);
    EXPECT_EQ(c.run(*rig.engine), 0);
    EXPECT_EQ(rig.io->writtenHex(), c.expectedHex);
    EXPECT_TRUE(rig.io->replies.isEmpty()) << "every scripted reply is consumed";
}

INSTANTIATE_TEST_SUITE_P(
    Engine, CommandPayload,
    ::testing::Values(PayloadCase{"QueryRteItem0",
                                  [](RomCmd& e) { return e.queryRte(0, 0); },
                                  {response(0, QByteArray(16, '\0'))},
                                  {"0101000000000000"}},
                      PayloadCase{"QueryRteItem4",
                                  [](RomCmd& e) { return e.queryRte(4, 0x20000); },
                                  {response(0, QByteArray(32, '\0'))},
                                  {"010200000400000000000200"}},
                      PayloadCase{"QueryRteItem5IgnoresArg",
                                  [](RomCmd& e) { return e.queryRte(5, 7); },
                                  {response(0, le32(0x5FF))},
                                  {"0101000005000000"}},
                      PayloadCase{"ConfigRte",
                                  [](RomCmd& e) {
                                      const SerialInfParam record = consoleRecord();
                                      return e.configRte(reinterpret_cast<const uint8_t*>(&record),
                                                         12);
                                  },
                                  {response(0)},
                                  {"0204000001000000030000000100000000c20100"}},
                      PayloadCase{"ConfigMemory",
                                  [](RomCmd& e) { return e.configMemory(1, 0x2000); },
                                  {response(0)},
                                  {"030202000100000000200000"}},
                      PayloadCase{"EraseRegion",
                                  [](RomCmd& e) { return e.eraseRegion(1, 0x80001000, 0x2000, 0); },
                                  {response(0)},
                                  {"0704000000000000010000000010008000200000"}},
                      PayloadCase{"EraseAll",
                                  [](RomCmd& e) { return e.eraseAll(0x10, 0); },
                                  {response(0)},
                                  {"070200000100000010000000"}},
                      PayloadCase{"Reset",
                                  [](RomCmd& e) { return e.resetDevice(0); },
                                  {response(0)},
                                  {"0801000000000000"}},
                      PayloadCase{"ResetType2",
                                  [](RomCmd& e) { return e.resetDevice(2); },
                                  {response(0)},
                                  {"0801000002000000"}},
                      PayloadCase{"ReadMemoryZeroLength",
                                  [](RomCmd& e) { return e.readMemory(1, 0x80000000, 0, true); },
                                  {response(0)},
                                  {"05030000000000800000000001000000"}},
                      // SHA-256 of "abc" (FIPS 180-4 example) sits in bytes 24 to 55.
                      PayloadCase{
                          "VerifyChecksumAbc",
                          [](RomCmd& e) {
                              const uint8_t abc[] = {'a', 'b', 'c'};
                              return e.verifyChecksum(1, 0x100, abc, 3);
                          },
                          {response(0)},
                          {"0a0d0000000100000300000001000000010000002000000"
                           "0ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}}),
    [](const ::testing::TestParamInfo<PayloadCase>& info) { return info.param.name; });

// ---- ROM status to result ----

struct StatusCase {
    uint32_t romStatus;
    int commandResult;  // configMemory, reset and the other checked commands
    int queryResult;    // queryRte has no "disallowed" result
    const char* message;
};

class StatusMapping : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusMapping, CheckedCommandMapsStatusAndReportsIt) {
    const StatusCase& c = GetParam();
    LogCapture capture;
    Rig rig = makeRig({response(c.romStatus)});
    QStringList signalled;
    QObject::connect(rig.engine.get(), &RomCmd::signalAddLogs,
                     [&](const QString& text, LogLevel level) {
                         signalled << QString::number(level) + ':' + text;
                     });
    EXPECT_EQ(rig.engine->configMemory(1, 0), c.commandResult);
    const QString text = QString("ROM response failed! status: %1 message: %2")
                             .arg(QString::number(c.romStatus), QString::fromUtf8(c.message));
    EXPECT_EQ(signalled, QStringList{"3:" + text});
    EXPECT_EQ(LogCapture::matching("critical", "ROM response failed!"),
              QStringList{"Id:  \"COM7\"   \"" + text + "\""});
}

TEST_P(StatusMapping, QueryRteMapsStatusWithoutSignal) {
    const StatusCase& c = GetParam();
    LogCapture capture;
    Rig rig = makeRig({response(c.romStatus, QByteArray(16, '\x11'))});
    int queried = 0;
    int addLogs = 0;
    QObject::connect(rig.engine.get(), &RomCmd::signalRTEQueried, [&] { ++queried; });
    QObject::connect(rig.engine.get(), &RomCmd::signalAddLogs, [&] { ++addLogs; });
    EXPECT_EQ(rig.engine->queryRte(0, 0), c.queryResult);
    EXPECT_EQ(queried, 0);
    EXPECT_EQ(addLogs, 1);
    EXPECT_EQ(LogCapture::matching("critical", "ROM response failed!").size(), 1);
    EXPECT_TRUE(LogCapture::matching("critical", "ROM response failed!")
                    .value(0)
                    .startsWith("id:  \"COM7\""))
        << "query-rte keeps its lower-case id label";
}

INSTANTIATE_TEST_SUITE_P(
    Engine, StatusMapping,
    ::testing::Values(StatusCase{1, 18, 18, "failure"}, StatusCase{2, 18, 18, "invalid argument"},
                      StatusCase{3, 18, 18, "unknown error message"},
                      StatusCase{4, 17, 17, "timeout"},
                      StatusCase{1001000, 18, 18, "unsupport memory command"},
                      StatusCase{1001012, 17, 17, "unknown error message"},
                      StatusCase{1001013, 17, 17, "checksum mismatch"},
                      StatusCase{1001014, 19, 17,
                                 "write memory is disallowed. Please check whether life cycle is "
                                 "secure nor write command is locked by ROM!"},
                      StatusCase{1002000, 18, 18, "command is not supported"},
                      StatusCase{0xFFFFFFFFu, 17, 17, "unknown error message"}));

// ---- transport results around the response ----

struct ExchangeCase {
    const char* name;
    QList<int> writeResults;
    QList<FakeDeviceIO::Reply> replies;
    int expected;
    int expectedReads;
};

class ExchangeOutcome : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(ExchangeOutcome, ResetEndsWithTransportOrRomResult) {
    const ExchangeCase& c = GetParam();
    LogCapture capture;
    Rig rig = makeRig(c.replies, c.writeResults);
    EXPECT_EQ(rig.engine->resetDevice(1), c.expected);
    EXPECT_EQ(rig.io->reads, c.expectedReads);
    const QString message = RomCmd::resultMessage(c.expected);
    EXPECT_EQ(LogCapture::matching("info", "Cmd 'Reset' finished!"),
              QStringList{QString("Id:  \"COM7\" \r\n Cmd 'Reset' finished! Status:  %1  message:  "
                                  "\"%2\"")
                              .arg(c.expected)
                              .arg(message)});
}

INSTANTIATE_TEST_SUITE_P(
    Engine, ExchangeOutcome,
    ::testing::Values(ExchangeCase{"Accepted", {0}, {response(0)}, 0, 1},
                      ExchangeCase{"NakReadsNothing", {1}, {response(0)}, 1, 0},
                      ExchangeCase{"AbortThenSuccess", {2}, {response(0)}, 0, 1},
                      ExchangeCase{"AbortThenError", {2}, {response(1001004)}, 17, 1},
                      ExchangeCase{"AckFailure", {3}, {response(0)}, 3, 0},
                      ExchangeCase{"WriteHeaderFailed", {6}, {response(0)}, 6, 0},
                      ExchangeCase{"ResponseTimeout", {0}, {}, 4, 1},
                      ExchangeCase{"ResponseBadCrc", {0}, {failure(1)}, 1, 1},
                      ExchangeCase{"ResponseWithoutStatus", {0}, {{0, QByteArray(7, '\0')}}, 3, 1}),
    [](const ::testing::TestParamInfo<ExchangeCase>& info) { return info.param.name; });

// ---- erase time-out ----

struct EraseTimeoutCase {
    const char* name;
    uint32_t commandTimeout;  // 0: none set
    uint64_t eraseTimeout;
    int writeResult;
    int expectedDuringErase;
    QList<int> expectedCalls;  // setTimeout calls after construction and command time-out
};

class EraseTimeout : public ::testing::TestWithParam<EraseTimeoutCase> {};

TEST_P(EraseTimeout, RaisesOnlyWhenLongerAndAlwaysRestores) {
    const EraseTimeoutCase& c = GetParam();
    LogCapture capture;
    for (int variant = 0; variant < 2; ++variant) {
        Rig rig = makeRig({response(0)}, {c.writeResult});
        rig.engine->setCommandTimeout(c.commandTimeout);
        rig.io->timeoutCalls.clear();
        const int before = rig.io->timeout;
        if (variant == 0) {
            rig.engine->eraseAll(1, c.eraseTimeout);
        } else {
            rig.engine->eraseRegion(1, 0, 4096, c.eraseTimeout);
        }
        ASSERT_EQ(rig.io->timeoutAtWrite.size(), 1);
        EXPECT_EQ(rig.io->timeoutAtWrite[0], c.expectedDuringErase) << "variant " << variant;
        EXPECT_EQ(rig.io->timeoutCalls, c.expectedCalls) << "variant " << variant;
        EXPECT_EQ(rig.io->timeout, before) << "variant " << variant;
    }
    const bool raised = !c.expectedCalls.isEmpty();
    EXPECT_EQ(LogCapture::matching("info", "set erase time out:").size(), raised ? 2 : 0);
    if (raised) {
        EXPECT_EQ(LogCapture::matching("info", "set erase time out:").value(0),
                  QString("set erase time out:  %1 ms").arg(c.eraseTimeout));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Engine, EraseTimeout,
    ::testing::Values(
        EraseTimeoutCase{"LongerIsRaisedThenRestored", 0, 80000, 0, 80000, {80000, 10000}},
        EraseTimeoutCase{"RestoredAfterFailure", 0, 80000, 4, 80000, {80000, 10000}},
        EraseTimeoutCase{"FixedCommandTimeoutWins", 5000, 80000, 0, 5000, {}},
        EraseTimeoutCase{"ShorterLeftAlone", 0, 5000, 0, 10000, {}},
        EraseTimeoutCase{"EqualLeftAlone", 0, 10000, 0, 10000, {}},
        EraseTimeoutCase{
            "HugeIsBoundedNotNegative", 0, 0x1FFFFFFFFull, 0, 0x7FFFFFFF, {0x7FFFFFFF, 10000}}),
    [](const ::testing::TestParamInfo<EraseTimeoutCase>& info) { return info.param.name; });

TEST(CommandTimeout, ZeroKeepsTransportDefaultAndOtherValuesReachIt) {
    const struct {
        uint32_t value;
        int expectedTimeout;
        QList<int> expectedCalls;
    } cases[] = {{0, 10000, {}}, {2500, 2500, {2500}}, {0xFFFFFFFFu, 0x7FFFFFFF, {0x7FFFFFFF}}};
    for (const auto& c : cases) {
        Rig rig = makeRig({});
        rig.engine->setCommandTimeout(c.value);
        EXPECT_EQ(rig.io->timeout, c.expectedTimeout) << c.value;
        EXPECT_EQ(rig.io->timeoutCalls, c.expectedCalls) << c.value;
    }
}

// ---- query-rte records ----

TEST(QueryRte, RecordsTravelInTheirVariantTypes) {
    const QByteArray data = pattern(40, 3);
    const struct {
        uint32_t item;
        int userType;
        int bytes;
    } cases[] = {
        {0, qMetaTypeId<RomParamInfo>(), 16},    {1, qMetaTypeId<SerialInfParam>(), 24},
        {2, qMetaTypeId<CmdStatusInfo>(), 24},   {3, qMetaTypeId<BootStatusInfo>(), 12},
        {4, qMetaTypeId<MemoryAttribute>(), 32}, {5, int(QMetaType::UInt), 4},
    };
    for (const auto& c : cases) {
        Rig rig = makeRig({response(0, data)});
        QList<int> ids;
        QVariant received;
        QObject::connect(rig.engine.get(), &RomCmd::signalRTEQueried,
                         [&](int rteId, const QVariant& variant) {
                             ids << rteId;
                             received = variant;
                         });
        EXPECT_EQ(rig.engine->queryRte(c.item, 1), 0) << c.item;
        EXPECT_EQ(ids, QList<int>{int(c.item)});
        ASSERT_EQ(received.userType(), c.userType) << c.item;
        QByteArray bytes(reinterpret_cast<const char*>(received.constData()), c.bytes);
        if (c.item == 5) {
            bytes = le32(received.toUInt());
        }
        EXPECT_EQ(bytes.toHex(), data.left(c.bytes).toHex()) << c.item;
    }
}

TEST(QueryRte, FieldsDecodeLittleEndian) {
    Rig rig = makeRig({response(0, QByteArray::fromHex("03020166"
                                                       "00000000"
                                                       "0a000000"
                                                       "03010080"))});
    RomParamInfo info{};
    QObject::connect(rig.engine.get(), &RomCmd::signalRTEQueried,
                     [&](int, const QVariant& v) { info = v.value<RomParamInfo>(); });
    ASSERT_EQ(rig.engine->queryRte(0, 0), 0);
    EXPECT_EQ(info.romVersion, 0x66010203u);
    EXPECT_EQ(info.lifeCycle, 0x0A);
    EXPECT_EQ(info.capabilities, 0x80000103u);
}

TEST(QueryRte, ShortResponseNeverShowsEarlierBytes) {
    Rig rig = makeRig({response(0, QByteArray(32, '\xEE')), response(0, QByteArray(2, '\x01'))});
    QList<QByteArray> records;
    QObject::connect(rig.engine.get(), &RomCmd::signalRTEQueried, [&](int, const QVariant& v) {
        records << QByteArray(static_cast<const char*>(v.constData()), 32);
    });
    ASSERT_EQ(rig.engine->queryRte(4, 1), 0);
    ASSERT_EQ(rig.engine->queryRte(4, 1), 0);
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1].toHex(), (QByteArray(2, '\x01') + QByteArray(30, '\0')).toHex());
}

TEST(QueryRte, UnknownItemFailsWithoutSignal) {
    LogCapture capture;
    for (uint32_t item : {6u, 100u, 0xFFFFFFFFu}) {
        Rig rig = makeRig({response(0, QByteArray(32, '\0'))});
        int queried = 0;
        QObject::connect(rig.engine.get(), &RomCmd::signalRTEQueried, [&] { ++queried; });
        EXPECT_EQ(rig.engine->queryRte(item, 0), 3) << item;
        EXPECT_EQ(queried, 0) << item;
    }
    EXPECT_EQ(LogCapture::matching("critical", "QueryRTE failed. rteId: ").value(0),
              "Id:  \"COM7\" \r\n QueryRTE failed. rteId:  6  arg:  0  status:  0  message:  "
              "\"success\"");
}

// ---- refused inputs ----

TEST(ConfigRte, LengthOutsideWholeWordsUpTo1016IsRefused) {
    LogCapture capture;
    uint8_t record[1100] = {};
    for (int length : {-4, -1, 2, 6, 13, 1020, 1100}) {
        Rig rig = makeRig({response(0)});
        EXPECT_EQ(rig.engine->configRte(record, length), 3) << length;
        EXPECT_TRUE(rig.io->written.isEmpty()) << length;
    }
    EXPECT_EQ(LogCapture::matching("critical", "Cmd 'Config RTE'").size(), 7);
}

TEST(ConfigRte, LongestRecordFillsParameterCount) {
    QByteArray record = pattern(1016, 9);
    Rig rig = makeRig({response(0)});
    EXPECT_EQ(rig.engine->configRte(reinterpret_cast<const uint8_t*>(record.constData()), 1016), 0);
    ASSERT_EQ(rig.io->written.size(), 1);
    EXPECT_EQ(rig.io->written[0].toHex(),
              (QByteArray::fromHex("02ff000001000000") + record).toHex());
}

TEST(NoTransport, EveryOperationFailsWithOpenDeviceFailed) {
    LogCapture capture;
    RomCmd engine(QVariant(), 3);
    EXPECT_EQ(engine.transport(), nullptr);
    EXPECT_EQ(LogCapture::matching("critical", "device type error").value(0),
              "Id:  \"\" \r\n Rom command device type error! Type:  3");
    const uint8_t bytes[4] = {};
    const std::function<int()> operations[] = {
        [&] { return engine.queryRte(0, 0); },
        [&] { return engine.configRte(bytes, 4); },
        [&] { return engine.configMemory(1, 0); },
        [&] { return engine.eraseRegion(1, 0, 4, 99999); },
        [&] { return engine.eraseAll(1, 99999); },
        [&] { return engine.resetDevice(0); },
        [&] { return engine.readMemory(1, 0, 4, false); },
        [&] { return engine.readMemoryToFile(1, 0, 4, "/nonexistent/out.bin"); },
        [&] { return engine.writeMemory(1, 0, bytes, 4); },
        [&] { return engine.writeMemoryByFile(1, 0, "/nonexistent/in.bin"); },
        [&] { return engine.loadImage("/nonexistent/image.bin"); },
        [&] { return engine.verifyChecksum(1, 0, bytes, 4); },
        [&] { return engine.verifyChecksumByFile(1, 0, "/nonexistent/in.bin", 0); },
    };
    engine.setCommandTimeout(100);
    int index = 0;
    for (const auto& operation : operations) {
        EXPECT_EQ(operation(), 5) << "operation " << index;
        ++index;
    }
    EXPECT_EQ(LogCapture::matching("critical", "has no device").size(), index);
}

TEST(Construction, RecordTypesChooseTransportAndId) {
    SerialPortInfo port;
    port.portName = "/dev/nonexistent-tarvo-port";
    RomCmd serial(QVariant::fromValue(port), 1);
    ASSERT_NE(serial.transport(), nullptr);
    EXPECT_EQ(serial.transport()->timeout, 10000);
    LogCapture capture;
    EXPECT_NE(serial.resetDevice(0), 0) << "a port that does not exist cannot succeed";
    EXPECT_EQ(LogCapture::matching("info", "Cmd 'Reset' finished!").size(), 1);
    EXPECT_TRUE(LogCapture::matching("info", "Cmd 'Reset' finished!")
                    .value(0)
                    .startsWith("Id:  \"/dev/nonexistent-tarvo-port\""));
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
