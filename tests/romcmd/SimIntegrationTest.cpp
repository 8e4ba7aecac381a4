// The engine over the real carriers against the virtual device: the UART on its pseudo-terminal
// and USB-HID through the hidapi shim this test is linked with.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "romcmd/RomCmd.h"
#include "tests/common/SimProcess.h"
#include "transport/SerialPortInfo.h"
#include "transport/UsbInfo.h"

namespace RomCmd {
namespace Test {
namespace {

enum class Carrier { Uart, Hid };

const char* carrierName(Carrier c) {
    return c == Carrier::Uart ? "Uart" : "Hid";
}

constexpr uint16_t kVendorId = 0x5E3A;
constexpr uint32_t kRamId = 0;
constexpr uint32_t kRamStart = 0x20000000;
constexpr uint32_t kFlashId = 1;
constexpr uint32_t kFlashStart = 0x08000000;
// Long enough for a loaded machine, short enough that a lost answer fails quickly.
constexpr uint32_t kCommandTimeoutMs = 5000;
constexpr uint32_t kFaultTimeoutMs = 1000;

QByteArray pattern(int length, int seed) {
    QByteArray out(length, '\0');
    for (int i = 0; i < length; ++i) {
        out[i] = char((i * 13 + seed + i / 253) & 0xFF);
    }
    return out;
}

const uint8_t* bytes(const QByteArray& data) {
    return reinterpret_cast<const uint8_t*>(data.constData());
}

// Starts the device and an engine on the chosen carrier; empty text on success.
QString connect(Carrier carrier, SimProcess* sim, std::unique_ptr<RomCmd>* engine,
                const QStringList& arguments = {}) {
    if (!QFileInfo::exists(SimProcess::romsimPath())) {
        return "virtual device not built";
    }
    if (!sim->start(arguments, carrier == Carrier::Hid)) {
        return "virtual device did not start";
    }
    if (carrier == Carrier::Uart) {
        SerialPortInfo info;
        info.portName = sim->ptyPath();
        engine->reset(new RomCmd(QVariant::fromValue(info), 1));
    } else {
        qputenv("TARVO_HIDSIM_SOCKET", sim->hidSocketPath().toLocal8Bit());
        const QStringList paths = RomCmd::usbDevicePaths(kVendorId, 0);
        if (paths.size() != 1) {
            return QString("expected one HID device, found %1").arg(paths.size());
        }
        UsbInfo info;
        info.devicePath = paths.first();
        info.vid = kVendorId;
        engine->reset(new RomCmd(QVariant::fromValue(info), 2));
    }
    if ((*engine)->transport() == nullptr || (*engine)->transport()->status != 0) {
        return "transport did not open";
    }
    return QString();
}

QByteArray readBack(RomCmd& engine, uint32_t memoryId, uint32_t address, uint32_t length,
                    int* result) {
    QByteArray out;
    const auto connection =
        QObject::connect(&engine, &RomCmd::signalMemoryReadProgress,
                         [&](uint32_t, uint32_t, uint8_t* value, int chunkLength, int, int, bool) {
                             out += QByteArray(reinterpret_cast<const char*>(value), chunkLength);
                         });
    *result = engine.readMemory(memoryId, address, length, false);
    QObject::disconnect(connection);
    return out;
}

// ---- round trips ----

std::string roundTripName(const ::testing::TestParamInfo<std::tuple<Carrier, int>>& info) {
    return std::string(carrierName(std::get<0>(info.param))) + "_" +
           std::to_string(std::get<1>(info.param));
}

class RoundTrip : public ::testing::TestWithParam<std::tuple<Carrier, int>> {
protected:
    SimProcess sim;
    std::unique_ptr<RomCmd> engine;
};

TEST_P(RoundTrip, WriteReadAndVerifyAgree) {
    const Carrier carrier = std::get<0>(GetParam());
    const int length = std::get<1>(GetParam());
    const QString problem = connect(carrier, &sim, &engine);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    engine->setCommandTimeout(kCommandTimeoutMs);

    const QByteArray data = pattern(length, length);
    ASSERT_EQ(engine->writeMemory(kRamId, kRamStart, bytes(data), uint32_t(length)), 0);
    int result = -1;
    const QByteArray back = readBack(*engine, kRamId, kRamStart, uint32_t(length), &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(back.toHex(), data.toHex());
    EXPECT_EQ(engine->verifyChecksum(kRamId, kRamStart, bytes(data), uint32_t(length)), 0);
    if (length > 0) {
        QByteArray wrong = data;
        wrong[length / 2] = char(wrong[length / 2] ^ 0x01);
        EXPECT_EQ(engine->verifyChecksum(kRamId, kRamStart, bytes(wrong), uint32_t(length)), 17);
    }
}

// An empty file is refused before anything is sent, so files start at one byte.
class FileRoundTrip : public RoundTrip {};

TEST_P(FileRoundTrip, FilesInAndOut) {
    const Carrier carrier = std::get<0>(GetParam());
    const int length = std::get<1>(GetParam());
    const QString problem = connect(carrier, &sim, &engine);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    engine->setCommandTimeout(kCommandTimeoutMs);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray data = pattern(length, 99);
    const QString in = dir.filePath("in.bin");
    const QString out = dir.filePath("out.bin");
    {
        QFile file(in);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(data), data.size());
    }
    const uint32_t address = kRamStart + 0x20000;
    ASSERT_EQ(engine->writeMemoryByFile(kRamId, address, in), 0);
    ASSERT_EQ(engine->readMemoryToFile(kRamId, address, uint32_t(length), out), 0);
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toHex(), data.toHex());
    EXPECT_EQ(engine->verifyChecksumByFile(kRamId, address, in, 0), 0);
    EXPECT_EQ(engine->verifyChecksumByFile(kRamId, address, in, uint64_t(length) / 2), 0);
}

INSTANTIATE_TEST_SUITE_P(Engine, RoundTrip,
                         ::testing::Combine(::testing::Values(Carrier::Uart, Carrier::Hid),
                                            ::testing::Values(0, 1, 495, 496, 497, 1000, 1100,
                                                              65536)),
                         roundTripName);
INSTANTIATE_TEST_SUITE_P(Engine, FileRoundTrip,
                         ::testing::Combine(::testing::Values(Carrier::Uart, Carrier::Hid),
                                            ::testing::Values(1, 495, 496, 497, 1000, 1100, 65536)),
                         roundTripName);

// ---- erase ----

class EraseOverSim : public ::testing::TestWithParam<Carrier> {
protected:
    SimProcess sim;
    std::unique_ptr<RomCmd> engine;
};

TEST_P(EraseOverSim, ErasedFlashReadsAsFF) {
    const QString problem = connect(GetParam(), &sim, &engine);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    engine->setCommandTimeout(kCommandTimeoutMs);
    ASSERT_EQ(engine->configMemory(kFlashId, kRamStart), 0);
    const QByteArray data = pattern(600, 3);
    const uint32_t address = kFlashStart + 0x1000;
    ASSERT_EQ(engine->writeMemory(kFlashId, address, bytes(data), uint32_t(data.size())), 0);
    int result = -1;
    EXPECT_EQ(readBack(*engine, kFlashId, address, 600, &result).toHex(), data.toHex());

    ASSERT_EQ(engine->eraseRegion(kFlashId, address, 4096, 60000), 0);
    EXPECT_EQ(readBack(*engine, kFlashId, address, 4096, &result).toHex(),
              QByteArray(4096, '\xFF').toHex());
    EXPECT_EQ(result, 0);

    ASSERT_EQ(engine->writeMemory(kFlashId, address, bytes(data), uint32_t(data.size())), 0);
    ASSERT_EQ(engine->eraseAll(kFlashId, 60000), 0);
    EXPECT_EQ(readBack(*engine, kFlashId, address, 600, &result).toHex(),
              QByteArray(600, '\xFF').toHex());
    EXPECT_EQ(engine->transport()->timeout, int(kCommandTimeoutMs));
}

INSTANTIATE_TEST_SUITE_P(Engine, EraseOverSim, ::testing::Values(Carrier::Uart, Carrier::Hid),
                         [](const auto& info) { return std::string(carrierName(info.param)); });

// ---- injected faults ----

enum class Operation { ConfigMemory, Read1000, Write1000, Verify };

struct FaultCase {
    const char* name;
    QStringList faults;
    Operation operation;
    int uartResult;  // -1: fault does not exist on this carrier
    int hidResult;
    int deliveredBytes;  // reads only; -1: not checked
};

struct FaultParam {
    Carrier carrier;
    FaultCase c;
};

const FaultCase kFaults[] = {
    {"Nak", {"nak@1"}, Operation::ConfigMemory, 1, 1, -1},
    {"AbortThenError", {"abort=1@1"}, Operation::ConfigMemory, 18, 18, -1},
    {"AbortThenSuccess", {"abort=0@1"}, Operation::ConfigMemory, 0, 0, -1},
    {"BadAck", {"bad-ack@1"}, Operation::ConfigMemory, 3, 3, -1},
    {"BadAckStart", {"bad-ack-start@1"}, Operation::ConfigMemory, 3, -1, -1},
    {"NoAck", {"no-ack@1"}, Operation::ConfigMemory, 9, 9, -1},
    {"HalfAck", {"half-ack@1"}, Operation::ConfigMemory, 10, 9, -1},
    {"BadCrc", {"bad-crc@1"}, Operation::ConfigMemory, 1, -1, -1},
    {"BadTag", {"bad-tag@1"}, Operation::ConfigMemory, 11, 0, -1},
    {"NoPacket", {"no-packet@1"}, Operation::ConfigMemory, 4, 4, -1},
    {"CutStart", {"cut-start@1"}, Operation::ConfigMemory, 11, -1, -1},
    {"CutTag", {"cut-tag@1"}, Operation::ConfigMemory, 12, -1, -1},
    {"CutLength", {"cut-length@1"}, Operation::ConfigMemory, 13, -1, -1},
    {"CutPayload", {"cut-payload@1"}, Operation::ConfigMemory, 14, -1, -1},
    {"Garbage", {"garbage=7@1"}, Operation::ConfigMemory, 0, -1, -1},
    {"StatusConfigFailed", {"status=3:1001006"}, Operation::ConfigMemory, 17, 17, -1},
    {"StatusDisallowed", {"status=3:1001014"}, Operation::ConfigMemory, 19, 19, -1},
    {"StatusUnsupported", {"status=3:1002000"}, Operation::ConfigMemory, 18, 18, -1},
    {"ReadDisallowed", {"status=5:1001008"}, Operation::Read1000, 17, 17, 0},
    {"ReadShortData", {"short-data@1"}, Operation::Read1000, 17, 17, 0},
    {"ReadExtraData", {"extra-data=16@1"}, Operation::Read1000, 0, 0, 1000},
    {"ReadBadCrcOnData", {"bad-crc@2"}, Operation::Read1000, 1, -1, -1},
    {"ReadLostData", {"no-packet@2"}, Operation::Read1000, 4, 4, 0},
    {"WriteDisallowed", {"status=4:1001014"}, Operation::Write1000, 19, 19, -1},
    {"WriteNakOnData", {"nak@2"}, Operation::Write1000, 1, 1, -1},
    {"VerifyMismatch", {"status=10:1001013"}, Operation::Verify, 17, 17, -1},
};

std::vector<FaultParam> faultsFor(Carrier carrier) {
    std::vector<FaultParam> out;
    for (const FaultCase& c : kFaults) {
        if ((carrier == Carrier::Uart ? c.uartResult : c.hidResult) >= 0) {
            out.push_back({carrier, c});
        }
    }
    return out;
}

class FaultOverSim : public ::testing::TestWithParam<FaultParam> {
protected:
    SimProcess sim;
    std::unique_ptr<RomCmd> engine;
};

TEST_P(FaultOverSim, YieldsItsResultCode) {
    const FaultParam& p = GetParam();
    QStringList arguments;
    for (const QString& fault : p.c.faults) {
        arguments << "--fault" << fault;
    }
    const QString problem = connect(p.carrier, &sim, &engine, arguments);
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    engine->setCommandTimeout(kFaultTimeoutMs);
    const int expected = p.carrier == Carrier::Uart ? p.c.uartResult : p.c.hidResult;
    const QByteArray data = pattern(1000, 1);
    int result = -1;
    QByteArray delivered;
    switch (p.c.operation) {
        case Operation::ConfigMemory:
            result = engine->configMemory(kRamId, kRamStart);
            break;
        case Operation::Read1000:
            delivered = readBack(*engine, kRamId, kRamStart, 1000, &result);
            break;
        case Operation::Write1000:
            result = engine->writeMemory(kRamId, kRamStart, bytes(data), 1000);
            break;
        case Operation::Verify:
            result = engine->verifyChecksum(kRamId, kRamStart, bytes(data), 1000);
            break;
    }
    EXPECT_EQ(result, expected);
    if (p.c.deliveredBytes >= 0) {
        EXPECT_EQ(delivered.size(), p.c.deliveredBytes);
    }
    if (p.c.operation == Operation::Read1000) {
        EXPECT_LE(delivered.size(), 1000) << "never more than requested";
    }
}

std::string faultName(const ::testing::TestParamInfo<FaultParam>& info) {
    return info.param.c.name;
}

INSTANTIATE_TEST_SUITE_P(Uart, FaultOverSim, ::testing::ValuesIn(faultsFor(Carrier::Uart)),
                         faultName);
INSTANTIATE_TEST_SUITE_P(Hid, FaultOverSim, ::testing::ValuesIn(faultsFor(Carrier::Hid)),
                         faultName);

}  // namespace
}  // namespace Test
}  // namespace RomCmd

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
