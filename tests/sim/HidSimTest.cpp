#include <gtest/gtest.h>
#include <hidapi.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <random>

#include "romcmd/RomCmd.h"
#include "tests/common/SimProcess.h"
#include "tests/common/ToolRun.h"
#include "tests/sim/SimExchange.h"
#include "tests/sim/SimTestUtil.h"
#include "tools/ImageFormat.h"
#include "transport/Framing.h"
#include "transport/HidIO.h"

namespace RomCmd {
namespace Test {
namespace {

constexpr int kShortTimeoutMs = 1000;

// Points this process's shim at the running device.
void useSocket(const SimProcess& sim) {
    ::setenv("TARVO_HIDSIM_SOCKET", sim.hidSocketPath().toLocal8Bit().constData(), 1);
}

std::unique_ptr<HidIO> openHid(const QString& path, int timeoutMs = kShortTimeoutMs) {
    UsbInfo info;
    info.devicePath = path;
    info.vid = 0x5E3A;
    info.pid = 1;
    auto io = std::make_unique<HidIO>(QVariant::fromValue(info));
    io->setTimeout(timeoutMs);
    return io;
}

// Waits, within a bound, until the enumeration shows the wanted number of devices.
bool waitForDevices(int wanted, int boundMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < boundMs) {
        if (HidIO::devicePaths(0x5E3A, 0).size() == wanted) {
            return true;
        }
        QThread::msleep(20);
    }
    return false;
}

TEST(HidShim, WithoutADeviceEverythingFailsAtOnce) {
    ::unsetenv("TARVO_HIDSIM_SOCKET");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
    EXPECT_EQ(hid_open(0x5E3A, 1, nullptr), nullptr);
    EXPECT_EQ(hid_open_path("tarvosim:0"), nullptr);
    ::setenv("TARVO_HIDSIM_SOCKET", "/nonexistent/hid.sock", 1);
    EXPECT_EQ(hid_enumerate(0, 0), nullptr);
    auto io = openHid("tarvosim:0");
    EXPECT_EQ(io->status, 5);
    EXPECT_EQ(roundTrip(*io, command(1, 0, {0})).write, 5);
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST(HidShim, EnumeratesTheConfiguredDevices) {
    struct Case {
        QStringList args;
        uint16_t queryVid;
        uint16_t queryPid;
        QStringList paths;
    };
    const QStringList three = {"tarvosim:0", "tarvosim:1", "tarvosim:2"};
    for (const Case& c :
         {Case{{}, 0x5E3A, 1, {"tarvosim:0"}},
          Case{{"--pid", "0x0203"}, 0x5E3A, 0x0203, {"tarvosim:0"}},
          Case{{"--pid", "0x0203"}, 0x5E3A, 1, {}}, Case{{}, 0x1234, 0, {}},
          Case{{"--devices", "3"}, 0, 0, three}, Case{{"--devices", "3"}, 0x5E3A, 0, three}}) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(c.args, true));
        useSocket(sim);
        EXPECT_EQ(HidIO::devicePaths(c.queryVid, c.queryPid), c.paths)
            << c.args.join(' ').toStdString();
        for (const QString& path : c.paths) {
            EXPECT_FALSE(path.contains('-') || path.contains(',')) << path.toStdString();
        }
    }
}

TEST(HidShim, ReportsArePaddedAndOverlongReportsRefused) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--report-length", "64"}, true));
    useSocket(sim);
    hid_device* dev = hid_open(0x5E3A, 1, nullptr);
    ASSERT_NE(dev, nullptr);
    // 01 A5 08 00 + query of item 0.
    const unsigned char packet[] = {1, 0xA5, 8, 0, 1, 1, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(hid_write(dev, packet, sizeof packet), int(sizeof packet));
    unsigned char report[1024];
    ASSERT_EQ(hid_read_timeout(dev, report, sizeof report, 2000), 64);
    EXPECT_EQ(hexOf(std::vector<uint8_t>(report, report + 8)), "01a1000000000000");
    ASSERT_EQ(hid_read_timeout(dev, report, sizeof report, 2000), 64);
    EXPECT_EQ(hexOf(std::vector<uint8_t>(report, report + 12)), "01a518000100000000000000");
    const unsigned char response[] = {1, 0xA1, 0, 0};
    EXPECT_EQ(hid_write(dev, response, sizeof response), 4);
    std::vector<unsigned char> tooLong(65, 0);
    tooLong[0] = 1;
    EXPECT_EQ(hid_write(dev, tooLong.data(), tooLong.size()), -1);
    EXPECT_NE(std::wstring(hid_error(dev)), L"Success");
    hid_close(dev);
}

struct HidFaultCase {
    const char* name;
    const char* fault;
    int write;
    int read;
};

class HidFaultTest : public ::testing::TestWithParam<HidFaultCase> {};

TEST_P(HidFaultTest, HostSeesTheTransportResultAndTheDeviceRecovers) {
    const HidFaultCase& c = GetParam();
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--fault", c.fault, "--leave-ms", "300"}, true));
    useSocket(sim);
    {
        auto io = openHid("tarvosim:0");
        ASSERT_EQ(io->status, 0);
        const Exchange e = roundTrip(*io, command(1, 0, {0}));
        EXPECT_EQ(e.write, c.write);
        EXPECT_EQ(e.read, c.read);
    }
    ASSERT_TRUE(waitForDevices(1, 3000));
    auto io = openHid("tarvosim:0", 3000);
    const Exchange again = roundTrip(*io, command(1, 0, {5}));
    EXPECT_EQ(again.write, 0);
    EXPECT_EQ(again.read, 0);
    EXPECT_EQ(hexOf(again.response), "0100000000000000fe070000");
    QString log;
    EXPECT_TRUE(sim.stopCleanly(&log)) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HidFaultTest,
    ::testing::Values(HidFaultCase{"None", "nak@9", 0, 0}, HidFaultCase{"Nak", "nak@1", 1, -1},
                      HidFaultCase{"AbortThenSuccess", "abort=0@1", 2, 0},
                      HidFaultCase{"BadAck", "bad-ack@1", 3, -1},
                      HidFaultCase{"NoAck", "no-ack@1", 9, -1},
                      HidFaultCase{"VanishFailsTheAckRead", "vanish@1", 16, -1},
                      HidFaultCase{"NoPacket", "no-packet@1", 0, 4},
                      HidFaultCase{"TagIsNotExamined", "bad-tag@1", 0, 0},
                      HidFaultCase{"CutStart", "cut-start@1", 0, 12},
                      HidFaultCase{"CutLength", "cut-length@1", 0, 13},
                      HidFaultCase{"CutPayload", "cut-payload@1", 0, 13},
                      HidFaultCase{"VanishAfterFailsTheResponse", "vanish-after@1", 0, 15}),
    [](const ::testing::TestParamInfo<HidFaultCase>& info) {
        return std::string(info.param.name);
    });

TEST(HidSim, WritesFailOnceTheDeviceHasLeftAndReadsFailOrTimeOut) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--fault", "vanish@2", "--leave-ms", "500"}, true));
    useSocket(sim);
    auto io = openHid("tarvosim:0");
    EXPECT_EQ(roundTrip(*io, command(1, 0, {0})).read, 0);
    EXPECT_EQ(roundTrip(*io, command(1, 0, {0})).write, 16);
    EXPECT_EQ(roundTrip(*io, command(1, 0, {0})).write, 7);
    uint8_t buffer[1024];
    uint16_t length = 0;
    EXPECT_EQ(io->readPacket(buffer, &length), 11);
    EXPECT_TRUE(HidIO::devicePaths(0x5E3A, 1).isEmpty());
    EXPECT_TRUE(waitForDevices(1, 3000));
}

TEST(HidSim, DevicesKeepSeparateState) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--devices", "2"}, true));
    useSocket(sim);
    auto first = openHid("tarvosim:0", 2000);
    auto second = openHid("tarvosim:1", 2000);
    auto write = command(4, 0, {0x20000000, 4, 0});
    write.insert(write.end(), {0xCA, 0xFE, 0xF0, 0x0D});
    EXPECT_EQ(roundTrip(*first, write).read, 0);
    for (auto* io : {first.get(), second.get()}) {
        EXPECT_EQ(roundTrip(*io, command(5, 0, {0x20000000, 4, 0})).read, 0);
        uint8_t buffer[1024];
        uint16_t length = 0;
        ASSERT_EQ(io->readPacket(buffer, &length), 0);
        EXPECT_EQ(hexOf(std::vector<uint8_t>(buffer + 4, buffer + length)),
                  io == first.get() ? "cafef00d" : "00000000");
    }
    QString log;
    EXPECT_TRUE(sim.stopCleanly(&log)) << log.toStdString();
}

QString writeImage(const QTemporaryDir& dir, const std::vector<uint8_t>& data, uint32_t flags) {
    ImageFormat::Header h;
    h.totalSize = uint32_t(ImageFormat::kHeaderSize + data.size());
    h.loadMemory = 0;
    h.loadAddress = 0x20002000;
    h.entry = 0x20002000;
    h.flags = flags;
    h.dataCrc = Crc16Xmodem::compute(data.data(), data.size());
    std::vector<uint8_t> image(ImageFormat::kHeaderSize);
    ImageFormat::encodeHeader(h, image.data());
    image.insert(image.end(), data.begin(), data.end());
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(image.data()), qint64(image.size()));
    return path;
}

TEST(HidSimEngine, CommandsThroughTheEngine) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--leave-ms", "300"}, true));
    useSocket(sim);
    UsbInfo info;
    info.devicePath = QStringLiteral("tarvosim:0");
    RomCmd engine(QVariant::fromValue(info), 2);
    engine.setCommandTimeout(3000);
    uint32_t peripheral = 0;
    QObject::connect(&engine, &RomCmd::signalRTEQueried, [&](int id, QVariant v) {
        if (id == 1) {
            peripheral = v.value<SerialInfParam>().periphMask;
        }
    });
    EXPECT_EQ(engine.queryRte(1, 0), 0);
    EXPECT_EQ(peripheral, 0x10u);
    std::vector<uint8_t> data(1300);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = uint8_t(i * 5 + 3);
    }
    EXPECT_EQ(engine.configMemory(1, 0x20000000), 0);
    EXPECT_EQ(engine.writeMemory(1, 0x08010000, data.data(), uint32_t(data.size())), 0);
    std::vector<uint8_t> back;
    QObject::connect(&engine, &RomCmd::signalMemoryReadProgress,
                     [&](uint32_t, uint32_t, uint8_t* value, int n, int, int, bool) {
                         back.insert(back.end(), value, value + n);
                     });
    EXPECT_EQ(engine.readMemory(1, 0x08010000, uint32_t(data.size()), false), 0);
    EXPECT_EQ(hexOf(back), hexOf(data));
    EXPECT_EQ(engine.verifyChecksum(1, 0x08010000, data.data(), uint32_t(data.size())), 0);
    EXPECT_EQ(engine.eraseRegion(1, 0x08010000, 4096, 1000), 0);
    EXPECT_EQ(engine.readMemory(5, 0, 4, false), 17);

    QTemporaryDir dir;
    EXPECT_EQ(engine.loadImage(writeImage(dir, data, 1)), 0);
    EXPECT_TRUE(waitForDevices(0, 2000)) << "the device must leave the enumeration";
    EXPECT_TRUE(waitForDevices(1, 3000)) << "and come back";
    RomCmd again(QVariant::fromValue(info), 2);
    char version = 0;
    QObject::connect(&again, &RomCmd::signalRTEQueried, [&](int, QVariant v) {
        version = char(v.value<RomParamInfo>().romVersion >> 24);
    });
    EXPECT_EQ(again.queryRte(0, 0), 0);
    EXPECT_EQ(version, 'F');
    QString log;
    EXPECT_TRUE(sim.stopCleanly(&log)) << log.toStdString();
}

TEST(HidSimEngine, NeverReturnKeepsTheDeviceOffTheBus) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--leave-ms", "100", "--never-return"}, true));
    useSocket(sim);
    UsbInfo info;
    info.devicePath = QStringLiteral("tarvosim:0");
    RomCmd engine(QVariant::fromValue(info), 2);
    EXPECT_EQ(engine.resetDevice(0), 0);
    EXPECT_TRUE(waitForDevices(0, 2000));
    QThread::msleep(500);
    EXPECT_TRUE(HidIO::devicePaths(0x5E3A, 1).isEmpty());
}

// (path, serial number, location) of each device the HID layer lists.
QStringList boardsListed() {
    QStringList boards;
    for (const UsbInfo& device : HidIO::devices(0x5E3A, 0)) {
        boards << device.devicePath + ' ' + device.serialNumber + ' ' + device.location;
    }
    return boards;
}

// With --renumber a device back on the bus takes the lowest free path, as hidraw nodes do;
// its serial number and USB port go with it. Device 1 leaves first and returns first.
TEST(HidSimEngine, RenumberedDevicesKeepTheirSerialNumbersAndPorts) {
    const struct {
        QStringList options;
        QStringList before;
        QStringList after;
    } cases[] = {
        {{"--renumber"},
         {"tarvosim:0 TVSIM0001 1-1.1", "tarvosim:1 TVSIM0002 1-1.2"},
         {"tarvosim:0 TVSIM0002 1-1.2", "tarvosim:1 TVSIM0001 1-1.1"}},
        {{},
         {"tarvosim:0 TVSIM0001 1-1.1", "tarvosim:1 TVSIM0002 1-1.2"},
         {"tarvosim:0 TVSIM0001 1-1.1", "tarvosim:1 TVSIM0002 1-1.2"}},
        {{"--renumber", "--no-serial"},
         {"tarvosim:0  1-1.1", "tarvosim:1  1-1.2"},
         {"tarvosim:0  1-1.2", "tarvosim:1  1-1.1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        SimProcess sim;
        ASSERT_TRUE(
            sim.start(QStringList{"--devices", "2", "--leave-ms", "600"} + c.options, true));
        useSocket(sim);
        ::setenv("TARVO_SYSFS_ROOT", sim.sysfsRoot().toLocal8Bit().constData(), 1);
        EXPECT_EQ(boardsListed(), c.before);
        for (const char* path : {"tarvosim:1", "tarvosim:0"}) {
            UsbInfo info;
            info.devicePath = QString(path);
            RomCmd engine(QVariant::fromValue(info), 2);
            EXPECT_EQ(engine.resetDevice(0), 0) << path;
            QThread::msleep(150);
        }
        EXPECT_TRUE(waitForDevices(2, 5000));
        EXPECT_EQ(boardsListed(), c.after);
        ::unsetenv("TARVO_SYSFS_ROOT");
    }
}

TEST(HidSimTool, PreloadedShimShowsTheDeviceToTheUnmodifiedTool) {
    if (!QFile::exists(QStringLiteral(TARVO_BIN_DIR "/tarvo_manufacturing_tool"))) {
        GTEST_SKIP() << "tarvo_manufacturing_tool is not built in this build folder";
    }
    SimProcess sim;
    ASSERT_TRUE(sim.start({}, true));
    ToolRun tool;
    const ToolResult r = tool.run({"-u", "", "-r", "query-rte 0"}, sim.hidEnvironment(), 30000);
    ASSERT_TRUE(r.finished) << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QStringLiteral("Detect one usb device: ")))
        << r.output.toStdString();
    EXPECT_TRUE(r.output.contains(QStringLiteral("tarvosim:0"))) << r.output.toStdString();
    EXPECT_FALSE(r.output.contains(QStringLiteral("Run command failed!")))
        << r.output.toStdString();
}

TEST(HidSim, RandomReportsNeitherCrashNorWedgeTheDevice) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({}, true));
    useSocket(sim);
    hid_device* dev = hid_open_path("tarvosim:0");
    ASSERT_NE(dev, nullptr);
    std::mt19937 rng(777);
    unsigned char report[1024];
    for (int i = 0; i < 3000; ++i) {
        const size_t length = 1 + rng() % 1024;
        for (size_t k = 0; k < length; ++k) {
            report[k] = uint8_t(rng());
        }
        // Mostly well-formed report IDs and tags, so the packet checks are reached.
        if (rng() % 4) {
            report[0] = 1;
            report[1] = rng() % 2 ? 0xA5 : uint8_t(0xA0 + rng() % 4);
        }
        ASSERT_EQ(hid_write(dev, report, length), int(length));
        while (hid_read_timeout(dev, report, sizeof report, 0) > 0) {
        }
    }
    hid_close(dev);
    ASSERT_TRUE(waitForDevices(1, 5000)) << "a random reset must bring the device back";
    auto io = openHid("tarvosim:0", 3000);
    Exchange e;
    for (int attempt = 0; attempt < 3 && e.read != 0; ++attempt) {
        e = roundTrip(*io, command(1, 0, {0}));
    }
    EXPECT_EQ(e.read, 0);
    QString log;
    EXPECT_TRUE(sim.stopCleanly(&log)) << log.toStdString();
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
