#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <random>

#include "romcmd/RomCmd.h"
#include "tests/common/SimProcess.h"
#include "tests/sim/SimExchange.h"
#include "tests/sim/SimTestUtil.h"
#include "tools/ImageFormat.h"
#include "transport/Framing.h"
#include "transport/SerialIO.h"

namespace RomCmd {
namespace Test {
namespace {

constexpr int kShortTimeoutMs = 1000;

std::unique_ptr<SerialIO> openSerial(const QString& path, int timeoutMs = kShortTimeoutMs) {
    SerialPortInfo info;
    info.portName = path;
    auto io = std::make_unique<SerialIO>(QVariant::fromValue(info));
    io->setTimeout(timeoutMs);
    return io;
}

// Drops what a failed exchange left in the line, as a host would before starting afresh.
void drainLine(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    uint8_t sink[4096];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
    ::close(fd);
}

struct UartFaultCase {
    const char* name;
    const char* fault;
    int write;
    int read;  // -1: no read follows
};

class UartFaultTest : public ::testing::TestWithParam<UartFaultCase> {};

TEST_P(UartFaultTest, HostSeesTheTransportResultAndTheDeviceRecovers) {
    const UartFaultCase& c = GetParam();
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--fault", c.fault, "--leave-ms", "300"}));
    {
        auto io = openSerial(sim.ptyPath());
        const Exchange e = roundTrip(*io, command(1, 0, {0}));
        EXPECT_EQ(e.write, c.write);
        EXPECT_EQ(e.read, c.read);
        if (e.read == 0) {
            EXPECT_EQ(responseStatus(Sim::Outcome{0xA1, true, e.response}), 0u)
                << hexOf(e.response);
        }
    }
    // Long enough for a device that left the bus or waits for a lost response to be back.
    QThread::msleep(600);
    drainLine(sim.ptyPath());
    auto io = openSerial(sim.ptyPath(), 3000);
    const Exchange again = roundTrip(*io, command(1, 0, {5}));
    EXPECT_EQ(again.write, 0);
    EXPECT_EQ(again.read, 0);
    EXPECT_EQ(hexOf(again.response), "0100000000000000fe070000");
    QString log;
    EXPECT_TRUE(sim.stopCleanly(&log)) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UartFaultTest,
    ::testing::Values(
        UartFaultCase{"None", "nak@9", 0, 0}, UartFaultCase{"Nak", "nak@1", 1, -1},
        UartFaultCase{"AbortThenSuccess", "abort=0@1", 2, 0},
        UartFaultCase{"BadAck", "bad-ack@1", 3, -1},
        UartFaultCase{"BadAckStart", "bad-ack-start@1", 3, -1},
        UartFaultCase{"NoAck", "no-ack@1", 9, -1}, UartFaultCase{"HalfAck", "half-ack@1", 10, -1},
        UartFaultCase{"Vanish", "vanish@1", 9, -1}, UartFaultCase{"BadCrc", "bad-crc@1", 0, 1},
        UartFaultCase{"BadTag", "bad-tag@1", 0, 11}, UartFaultCase{"NoPacket", "no-packet@1", 0, 4},
        UartFaultCase{"CutStart", "cut-start@1", 0, 11},
        UartFaultCase{"CutTag", "cut-tag@1", 0, 12},
        UartFaultCase{"CutLength", "cut-length@1", 0, 13},
        UartFaultCase{"CutPayload", "cut-payload@1", 0, 14},
        UartFaultCase{"Garbage", "garbage=40@1", 0, 0},
        UartFaultCase{"VanishAfterPacket", "vanish-after@1", 0, 0}),
    [](const ::testing::TestParamInfo<UartFaultCase>& info) {
        return std::string(info.param.name);
    });

TEST(UartSim, HangupFailsTheHostsNextWriteAndANewOpenWorks) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--fault", "hangup@2"}));
    {
        auto io = openSerial(sim.ptyPath());
        EXPECT_EQ(roundTrip(*io, command(1, 0, {0})).read, 0);
        EXPECT_EQ(roundTrip(*io, command(1, 0, {0})).write, 9);
        EXPECT_EQ(roundTrip(*io, command(1, 0, {0})).write, 6);
    }
    auto io = openSerial(sim.ptyPath());
    const Exchange e = roundTrip(*io, command(1, 0, {0}));
    EXPECT_EQ(e.write, 0);
    EXPECT_EQ(e.read, 0);
}

TEST(UartSim, RefusesAPacketWithABadCrcWithNak) {
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    // Opened first: opening drops pending input, and with it a NAK that came back quickly.
    auto io = openSerial(sim.ptyPath(), 2000);
    const int fd = ::open(sim.ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const uint8_t broken[] = {0x5A, 0xA5, 0x00, 0x00, 0xFC, 0x4C};
    ASSERT_EQ(::write(fd, broken, sizeof broken), ssize_t(sizeof broken));
    ::close(fd);
    EXPECT_EQ(io->readAck(), 1);
}

std::vector<uint8_t> readViaEngine(RomCmd& engine, uint32_t memory, uint32_t address,
                                   uint32_t length, int* result) {
    std::vector<uint8_t> data;
    QObject::connect(&engine, &RomCmd::signalMemoryReadProgress,
                     [&](uint32_t, uint32_t, uint8_t* value, int n, int, int, bool) {
                         data.insert(data.end(), value, value + n);
                     });
    *result = engine.readMemory(memory, address, length, false);
    QObject::disconnect(&engine, &RomCmd::signalMemoryReadProgress, nullptr, nullptr);
    return data;
}

QString writeImage(const QTemporaryDir& dir, const std::vector<uint8_t>& data, uint32_t flags) {
    ImageFormat::Header h;
    h.totalSize = uint32_t(ImageFormat::kHeaderSize + data.size());
    h.loadMemory = 0;
    h.loadAddress = 0x20001000;
    h.entry = 0x20001000;
    h.flags = flags;
    h.dataCrc = Crc16Xmodem::compute(data.data(), data.size());
    std::vector<uint8_t> image(ImageFormat::kHeaderSize);
    ImageFormat::encodeHeader(h, image.data());
    image.insert(image.end(), data.begin(), data.end());
    const QString path = dir.filePath(QStringLiteral("image%1.bin").arg(flags));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(image.data()), qint64(image.size()));
    return path;
}

TEST(UartSimEngine, EveryCommandThroughTheEngine) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--leave-ms", "200"}));
    SerialPortInfo info;
    info.portName = sim.ptyPath();
    RomCmd engine(QVariant::fromValue(info), 1);
    engine.setCommandTimeout(3000);

    std::vector<int> items;
    QObject::connect(&engine, &RomCmd::signalRTEQueried,
                     [&](int rteId, QVariant) { items.push_back(rteId); });
    for (uint32_t item : {0u, 1u, 2u, 3u, 5u}) {
        EXPECT_EQ(engine.queryRte(item, 0), 0) << item;
    }
    EXPECT_EQ(engine.queryRte(4, 1), 0);
    EXPECT_EQ(items, (std::vector<int>{0, 1, 2, 3, 5, 4}));
    const uint8_t record[12] = {3, 0, 0, 0, 1, 0, 0, 0, 0x00, 0xC2, 0x01, 0x00};
    EXPECT_EQ(engine.configRte(record, 12), 0);

    std::vector<uint8_t> data(1100);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = uint8_t(i * 13 + 1);
    }
    EXPECT_EQ(engine.writeMemory(1, 0x08000000, data.data(), 4), 17);  // before config-memory
    EXPECT_EQ(engine.configMemory(1, 0x20000000), 0);
    EXPECT_EQ(engine.writeMemory(1, 0x08000000, data.data(), uint32_t(data.size())), 0);
    int result = -1;
    EXPECT_EQ(hexOf(readViaEngine(engine, 1, 0x08000000, 1100, &result)), hexOf(data));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(engine.verifyChecksum(1, 0x08000000, data.data(), uint32_t(data.size())), 0);
    data[5] ^= 1;
    EXPECT_EQ(engine.verifyChecksum(1, 0x08000000, data.data(), uint32_t(data.size())), 17);
    EXPECT_EQ(engine.writeMemory(1, 0x08000000, data.data(), 4), 17);  // not erased
    EXPECT_EQ(engine.eraseRegion(1, 0x08000000, 4096, 1000), 0);
    EXPECT_EQ(engine.eraseRegion(1, 0x08000100, 4096, 1000), 17);
    EXPECT_EQ(hexOf(readViaEngine(engine, 1, 0x08000000, 8, &result)), "ffffffffffffffff");
    EXPECT_EQ(engine.eraseAll(1, 1000), 0);
    EXPECT_EQ(hexOf(readViaEngine(engine, 0x20000, 0, 8, &result)), "0000000000000000");
    EXPECT_EQ(engine.readMemory(0x20000, 0, 6, false), 3);

    QTemporaryDir dir;
    EXPECT_EQ(engine.loadImage(writeImage(dir, data, 0)), 0);
    EXPECT_EQ(hexOf(readViaEngine(engine, 0, 0x20001000, 1100, &result)), hexOf(data));
    EXPECT_EQ(engine.resetDevice(0), 0);
    QString log;
    EXPECT_TRUE(sim.stopCleanly(&log)) << log.toStdString();
}

TEST(UartSimEngine, StateOutlivesTheHostsConnection) {
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    SerialPortInfo info;
    info.portName = sim.ptyPath();
    const std::vector<uint8_t> words = {0xDE, 0xAD, 0xBE, 0xEF};
    {
        RomCmd engine(QVariant::fromValue(info), 1);
        ASSERT_EQ(engine.writeMemory(0, 0x20000010, words.data(), 4), 0);
    }
    RomCmd engine(QVariant::fromValue(info), 1);
    int result = -1;
    EXPECT_EQ(hexOf(readViaEngine(engine, 0, 0x20000010, 4, &result)), "deadbeef");
}

struct EngineResultCase {
    const char* name;
    std::vector<QString> args;
    int expected;
};

class UartEngineResultTest : public ::testing::TestWithParam<EngineResultCase> {};

TEST_P(UartEngineResultTest, RomStatusBecomesTheEngineResult) {
    SimProcess sim;
    QStringList args;
    for (const QString& a : GetParam().args) {
        args << a;
    }
    ASSERT_TRUE(sim.start(args));
    SerialPortInfo info;
    info.portName = sim.ptyPath();
    RomCmd engine(QVariant::fromValue(info), 1);
    engine.setCommandTimeout(2000);
    EXPECT_EQ(engine.configMemory(1, 0x20000000), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, UartEngineResultTest,
    ::testing::Values(EngineResultCase{"Success", {}, 0},
                      EngineResultCase{"Failure18", {"--fault", "status=3:1"}, 18},
                      EngineResultCase{"Unsupported18", {"--command-mask", "0x7F6"}, 18},
                      EngineResultCase{"Disallowed19", {"--fault", "status=3:1001014"}, 19},
                      EngineResultCase{"Other17", {"--fault", "status=3:1001006"}, 17},
                      EngineResultCase{"AbortWithError18", {"--fault", "abort=2@1"}, 18},
                      EngineResultCase{"AbortWithSuccess0", {"--fault", "abort=0@1"}, 0},
                      EngineResultCase{"NakIs1", {"--fault", "nak"}, 1}),
    [](const ::testing::TestParamInfo<EngineResultCase>& info) {
        return std::string(info.param.name);
    });

TEST(UartSimEngine, ReadDataFaults) {
    struct Case {
        const char* fault;
        const char* packetSize;
        int result;
        size_t delivered;
    };
    for (const Case& c :
         {Case{"short-data@2", "512", 17, 508}, Case{"extra-data=40@1", "512", 0, 1000},
          Case{"no-packet@3", "512", 4, 508}, Case{"bad-crc@2", "64", 1, 0},
          Case{"none@1", "64", 0, 1000}}) {
        SimProcess sim;
        QStringList args = {"--read-packet-size", c.packetSize};
        if (std::string(c.fault) != "none@1") {
            args << "--fault" << c.fault;
        }
        ASSERT_TRUE(sim.start(args)) << c.fault;
        SerialPortInfo info;
        info.portName = sim.ptyPath();
        RomCmd engine(QVariant::fromValue(info), 1);
        engine.setCommandTimeout(kShortTimeoutMs);
        int result = -1;
        const auto data = readViaEngine(engine, 0, 0x20000000, 1000, &result);
        EXPECT_EQ(result, c.result) << c.fault;
        EXPECT_EQ(data.size(), c.delivered) << c.fault;
    }
}

TEST(UartSimEngine, FirmwareImageMakesTheDeviceLeaveAndReturnRunningTheFirmware) {
    struct Case {
        QStringList args;
        char versionAfter;
        bool comesBack;
    };
    for (const Case& c : {Case{{}, 'F', true}, Case{{"--firmware-fails"}, 'R', true},
                          Case{{"--never-return"}, 0, false}}) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(QStringList{"--leave-ms", "500"} + c.args));
        SerialPortInfo info;
        info.portName = sim.ptyPath();
        QTemporaryDir dir;
        const QString image = writeImage(dir, std::vector<uint8_t>(700, 0x5A), 1);
        char version = 0;
        RomCmd engine(QVariant::fromValue(info), 1);
        engine.setCommandTimeout(kShortTimeoutMs);
        QObject::connect(&engine, &RomCmd::signalRTEQueried, [&](int, QVariant v) {
            version = char(v.value<RomParamInfo>().romVersion >> 24);
        });
        ASSERT_EQ(engine.loadImage(image), 0);
        EXPECT_EQ(engine.queryRte(0, 0), 9) << "the device must be silent while off the bus";
        QThread::msleep(700);
        EXPECT_EQ(engine.queryRte(0, 0), c.comesBack ? 0 : 9);
        EXPECT_EQ(version, c.versionAfter);
    }
}

TEST(UartSim, RandomBytesNeitherCrashNorWedgeTheDevice) {
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    std::mt19937 rng(4242);
    const int fd = ::open(sim.ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> noise(200000);
    for (size_t i = 0; i < noise.size(); ++i) {
        // Plenty of start bytes and tags, so frames begin and break off all the time.
        const uint32_t r = rng();
        noise[i] = r % 5 == 0 ? 0x5A : r % 5 == 1 ? 0xA5 : uint8_t(r >> 8);
    }
    size_t at = 0;
    QElapsedTimer bound;
    bound.start();
    while (at < noise.size() && bound.elapsed() < 30000) {
        const ssize_t n = ::write(fd, noise.data() + at, std::min<size_t>(4096, noise.size() - at));
        if (n > 0) {
            at += size_t(n);
        } else {
            QThread::msleep(5);
        }
        uint8_t sink[8192];
        while (::read(fd, sink, sizeof sink) > 0) {
        }
    }
    EXPECT_EQ(at, noise.size()) << "the device stopped taking input";
    ::close(fd);
    // A stalled partial frame is dropped after the device's one-second inter-byte bound.
    // The first packet after the noise may complete a frame the noise began; a real ROM
    // would refuse that one too. The device must answer within a few tries.
    QThread::msleep(1500);
    drainLine(sim.ptyPath());
    auto io = openSerial(sim.ptyPath(), 3000);
    Exchange e;
    for (int attempt = 0; attempt < 3 && e.read != 0; ++attempt) {
        e = roundTrip(*io, command(1, 0, {0}));
    }
    EXPECT_EQ(e.read, 0);
    EXPECT_EQ(responseStatus(Sim::Outcome{0xA1, true, e.response}), 0u);
    QString log;
    EXPECT_TRUE(sim.stopCleanly(&log)) << log.toStdString();
}

TEST(UartSim, BaudRatePacesTheLine) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--baud", "9600"}));
    auto io = openSerial(sim.ptyPath(), 5000);
    QElapsedTimer timer;
    timer.start();
    // 16 + 6 bytes out, 2 + 14 back and 512 + 6 of data: about 0.58 s at 9600 bit/s.
    Exchange e = roundTrip(*io, command(5, 0, {0x20000000, 508, 0}));
    uint8_t buffer[1024];
    uint16_t length = 0;
    EXPECT_EQ(io->readPacket(buffer, &length), 0);
    EXPECT_EQ(length, 512);
    EXPECT_EQ(e.read, 0);
    EXPECT_GE(timer.elapsed(), 500);
}

TEST(SimProcessTest, StartFailsWithinTheBoundOnBadOptionsAndLinkPointsAtThePty) {
    SimProcess bad;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(bad.start({"--fault", "no-such-fault"}, false, 5000));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(bad.ptyPath().isEmpty());

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttySIM"));
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--link", link}));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.ptyPath());
    sim.stop();
    EXPECT_FALSE(QFileInfo::exists(link));
}

TEST(UartSimEngine, DeviceLeavingInTheMiddleOfAWrite) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--fault", "vanish@3", "--leave-ms", "300"}));
    SerialPortInfo info;
    info.portName = sim.ptyPath();
    {
        RomCmd engine(QVariant::fromValue(info), 1);
        engine.setCommandTimeout(kShortTimeoutMs);
        std::vector<uint8_t> data(1500, 0x42);
        int writes = 0;
        QObject::connect(&engine, &RomCmd::signalMemoryWriteProgress, [&](int, int) { ++writes; });
        EXPECT_EQ(engine.writeMemory(0, 0x20000000, data.data(), uint32_t(data.size())), 9);
        EXPECT_EQ(writes, 2) << "two packets were accepted before the device left";
    }
    QThread::msleep(500);
    drainLine(sim.ptyPath());
    RomCmd after(QVariant::fromValue(info), 1);
    int result = -1;
    // It came back as after a reset: RAM is cleared.
    EXPECT_EQ(hexOf(readViaEngine(after, 0, 0x20000000, 8, &result)), "0000000000000000");
    EXPECT_EQ(result, 0);
}

struct OptionCase {
    const char* name;
    QStringList args;
    int exitCode;
    const char* text;  // expected in the merged output
};

class RomsimOptionTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(RomsimOptionTest, BadOptionsAreNamedAndHelpDescribesEverything) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(SimProcess::romsimPath(), GetParam().args);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), GetParam().exitCode);
    const QString output = QString::fromLocal8Bit(process.readAll());
    EXPECT_TRUE(output.contains(QLatin1String(GetParam().text))) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Options, RomsimOptionTest,
    ::testing::Values(
        OptionCase{"HelpOptions", {"--help"}, 0, "--memory-map FILE"},
        OptionCase{"HelpFaults", {"--help"}, 0, "status=C:S"},
        OptionCase{"HelpMap", {"--help"}, 0, "\"memories\""},
        OptionCase{"HelpImage", {"--help"}, 0, "magic \"TVIM\""},
        OptionCase{"Unknown", {"--bogus"}, 2, "unknown option \"--bogus\""},
        OptionCase{"MissingValue", {"--baud"}, 2, "--baud needs"},
        OptionCase{"BaudNotNumber", {"--baud", "fast"}, 2, "--baud needs"},
        OptionCase{"DevicesWithoutSocket", {"--devices", "2"}, 2, "--devices needs --hid-socket"},
        OptionCase{"HidTcpPortZero", {"--hid-socket", "tcp:0"}, 2, "tcp:PORT with a port"},
        OptionCase{"HidTcpPortTooBig", {"--hid-socket", "tcp:65536"}, 2, "tcp:PORT with a port"},
        OptionCase{"HidTcpPortNotNumber", {"--hid-socket", "tcp:x1"}, 2, "tcp:PORT with a port"},
        OptionCase{"TooManyDevices", {"--devices", "17"}, 2, "--devices needs"},
        OptionCase{"BadFault", {"--fault", "nak@x"}, 2, "nak@x"},
        OptionCase{"MissingMap", {"--memory-map", "/nonexistent.json"}, 2, "/nonexistent.json"},
        OptionCase{"LifeCycleTooBig", {"--life-cycle", "0x100"}, 2, "--life-cycle needs"},
        OptionCase{"PacketTooSmall", {"--read-packet-size", "4"}, 2, "--read-packet-size needs"}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace Test
}  // namespace RomCmd
