#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstring>

#include "app/Version.h"
#include "tests/common/SimProcess.h"
#include "tests/common/ToolRun.h"
#include "tools/ImageFormat.h"
#include "transport/Framing.h"

namespace RomCmd {
namespace Test {

namespace {

// Every console message is its prefix and text followed by an empty line.
QString block(const QString& message) {
    return message + "\n\n";
}

const QString kEnd =
    QString("[Info] \r\nTarvo Manufacturing Tool End! Version:  \"%1\" \r\n").arg(kVersion);

// Checks that the messages stand in the output in this order, each one whole.
::testing::AssertionResult inOrder(const QString& output, const QStringList& messages) {
    int from = 0;
    for (const QString& message : messages) {
        int at = from;
        for (;;) {
            at = output.indexOf(block(message), at);
            if (at < 0 || at == 0 || output.midRef(at - 2, 2) == "\n\n") {
                break;
            }
            ++at;
        }
        if (at < 0) {
            return ::testing::AssertionFailure()
                   << "missing (or out of order): " << message.toStdString() << "\n--- output:\n"
                   << output.toStdString();
        }
        from = at + block(message).size();
    }
    return ::testing::AssertionSuccess();
}

QString runCommand(const QString& command) {
    return "[Info] Run command:  \"" + command + "\"";
}
QString runFailed(const QString& command) {
    return "[Critical] Run command failed!  command:  \"" + command + "\"";
}

// The lines a read of these bytes prints, 16 bytes each with a trailing blank.
QStringList dumpLines(const QByteArray& bytes) {
    QStringList lines;
    for (int i = 0; i < bytes.size(); i += 16) {
        lines.append("[Info] \"" + QString::fromLatin1(bytes.mid(i, 16).toHex(' ')) + " \"");
    }
    return lines;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFileInfo::exists(SimProcess::romsimPath()) ||
            !QFileInfo::exists(SimProcess::shimPath())) {
            GTEST_SKIP() << "the virtual device is not built";
        }
    }

    // Starts the device; with HID the tool finds it through the preloaded shim.
    void startDevice(const QStringList& arguments = {}, bool withHid = false) {
        hid = withHid;
        ASSERT_TRUE(sim.start(arguments, withHid)) << "the virtual device did not start";
    }

    QStringList deviceArguments() const {
        return hid ? QStringList{"-u", ""} : QStringList{"-p", sim.ptyPath()};
    }

    // Runs the tool with each command as one -r value and returns what it printed; the run
    // must end with exitStatus.
    QString run(const QStringList& commands, const QStringList& extra = {}, int exitStatus = 0) {
        QStringList arguments = deviceArguments() + extra;
        for (const QString& command : commands) {
            arguments << "-r" << command;
        }
        return runRaw(arguments, exitStatus);
    }

    QString runRaw(const QStringList& arguments, int exitStatus = 0) {
        const ToolResult result =
            hid ? tool.run(arguments, sim.hidEnvironment(), kBoundMs)
                : tool.run(arguments, QProcessEnvironment::systemEnvironment(), kBoundMs);
        EXPECT_TRUE(result.finished) << "the tool did not end within the bound";
        EXPECT_EQ(result.exitCode, exitStatus) << result.output.toStdString();
        return result.output;
    }

    QString makeFile(const QString& name, const QByteArray& content) {
        const QString path = writeFileIn(files.path(), name, content);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        return path;
    }

    static QByteArray pattern(int size) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i) {
            bytes[i] = char((i * 13 + 7) & 0xFF);
        }
        return bytes;
    }

    static constexpr int kBoundMs = 60000;
    SimProcess sim;
    ToolRun tool;
    QTemporaryDir files;
    bool hid = false;
};

// Items reported with the values the device was started with.
const QStringList kDeviceValues{"--rom-version",  "0x46010203", "--life-cycle",   "0x05",
                                "--capabilities", "0x10005",    "--command-mask", "0x7FE"};

TEST_F(EndToEnd, UartQueryPrintsTheWholeReport) {
    startDevice(kDeviceValues);
    const QString id = sim.ptyPath();
    const QString output = run({"query-rte"});
    const QString expected =
        block("[Info] Run Rom API Commands:") + block(runCommand("query-rte")) +
        block("[Info] query rte  rteId:  0  arg:  0") +
        block("[Info] Id:  \"" + id + "\" \r\n QueryRTE success. rteId:  0  arg:  0") +
        block("[Info] ROM Version:  \"F1.2.3\"") + block("[Info] SoC Revision:  \"A1.0.0\"") +
        block("[Info] SoC LifeCycle:  \"05\"") + block("[Info] \"Support Primary Boot\"") +
        block("[Info] \"Support Serial Boot\"") + block("[Info] \"Support ECDSA-P256\"") +
        block(kEnd);
    EXPECT_EQ(output.left(expected.size()), expected);
}

TEST_F(EndToEnd, ReportOfEveryItem) {
    for (const bool withHid : {false, true}) {
        SCOPED_TRACE(withHid ? "USB-HID" : "UART");
        startDevice(kDeviceValues, withHid);
        const QString output = run({"query-rte 0", "query-rte 1", "config-memory 1 20000000",
                                    "erase-region 1 8000000 0x1000", "query-rte 2", "query-rte 3",
                                    "query-rte 4 1", "query-rte 5"});
        const QStringList peripheral =
            withHid ? QStringList{"[Info] Active peripheral: USB-HID"}
                    : QStringList{"[Info] Active peripheral: UART", "[Info] Baud Rate:  115200"};
        EXPECT_TRUE(inOrder(
            output, QStringList{"[Info] ROM Version:  \"F1.2.3\"", "[Info] SoC LifeCycle:  \"05\"",
                                "[Info] \"Support ECDSA-P256\""} +
                        peripheral));
        EXPECT_EQ(output.contains("Baud Rate"), !withHid);
        EXPECT_TRUE(inOrder(
            output,
            {"[Info] Last Command Status Info: \r\nLast Command:  \"erase\" \r\nLast Command "
             "Status:  0",
             "[Info] Last Boot Status Info: \r\nboot mode:  2 \r\nboot device:  " +
                 QString::number(withHid ? 16 : 1) + " \r\nboot status:  0",
             "[Info] Memory Property: \r\nMemory identifier:  \"0x00000001\" \r\nMemory unit "
             "size:  4 Kbytes \r\nMemory start address:  \"0x08000000\" \r\nMemory end address:  "
             "\"0x081fffff\" \r\nMemory Size:  2 Mbytes",
             "[Info] Page Size:  256 bytes \r\nSector Size:  4 Kbytes \r\nBlock Size:  64 Kbytes",
             "[Info] Supported commands:\r\nquery-rte\r\nconfig-memory\r\nwrite-memory\r\n"
             "read-memory\r\nload-image\r\nload-blfw\r\nerase-region\r\nerase-chip\r\nreset\r\n"
             "verify-checksum",
             kEnd}));
        EXPECT_FALSE(output.contains("[Critical]")) << output.toStdString();
        sim.stop();
    }
}

TEST_F(EndToEnd, ProductionSequenceOverBothCarriers) {
    const QByteArray content = pattern(1100);
    const QString source = makeFile("firmware.bin", content);
    for (const bool withHid : {false, true}) {
        SCOPED_TRACE(withHid ? "USB-HID" : "UART");
        const QString copy = files.path() + (withHid ? "/hid-copy.bin" : "/uart-copy.bin");
        startDevice({}, withHid);
        const QString output =
            run({"config-memory 1 20000000", "erase-region 1 8000000 0x2000",
                 "write-memory 1 8000000 " + source, "verify-checksum 1 8000000 " + source,
                 "read-memory 1 8000000 1100 " + copy, "reset 0"});
        EXPECT_TRUE(inOrder(
            output, {"[Info] current flash size:  2 Mbytes", "[Info] set erase time out:  20000 ms",
                     "[Info] Write File to Memory.  Progress:  496  Total:  1100",
                     "[Info] Write File to Memory.  Progress:  1004  Total:  1100",
                     "[Info] Write File to Memory.  Progress:  1100  Total:  1100",
                     "[Info] Read Memory to File.  Progress:  1100  Total:  1100",
                     runCommand("reset 0"), kEnd}));
        EXPECT_FALSE(output.contains("[Critical]")) << output.toStdString();
        QFile file(copy);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll().toHex(), content.toHex());
        sim.stop();
    }
}

TEST_F(EndToEnd, ReadToConsoleDumpsSixteenBytesPerLine) {
    const QByteArray content = pattern(512);
    const QString source = makeFile("ram.bin", content);
    startDevice();
    for (const int length : {20, 512}) {
        const QString read = QString("read-memory 0 20000000 %1").arg(length);
        const QString output = run({"write-memory 0 20000000 " + source, read});
        QStringList expected{runCommand(read)};
        expected += dumpLines(content.left(length));
        EXPECT_TRUE(inOrder(output, expected + QStringList{kEnd}));
        EXPECT_EQ(output.count("[Info] \""), length == 20 ? 2 : 32);
    }
}

TEST_F(EndToEnd, WordArraysReachMemory) {
    startDevice();
    const QString output =
        run({"write-memory 0 20000010 [[1,2,0x3]]", "verify-checksum 0 20000010 [[1,2,3]]",
             "read-memory 0 20000010 12"});
    EXPECT_TRUE(inOrder(output, {"[Info] Write Memory.  Progress:  12  Total:  12",
                                 runCommand("read-memory 0 20000010 12"),
                                 "[Info] \"01 00 00 00 02 00 00 00 03 00 00 00 \"", kEnd}));
    EXPECT_FALSE(output.contains("[Critical]")) << output.toStdString();
}

// An image the virtual device places in RAM and does not start.
QByteArray ramImage(const QByteArray& data, uint32_t address) {
    ImageFormat::Header header;
    header.totalSize = uint32_t(ImageFormat::kHeaderSize + data.size());
    header.loadMemory = 0;
    header.loadAddress = address;
    header.entry = address;
    header.dataCrc = Crc16Xmodem::compute(reinterpret_cast<const uint8_t*>(data.constData()),
                                          size_t(data.size()));
    QByteArray image(int(ImageFormat::kHeaderSize), '\0');
    ImageFormat::encodeHeader(header, reinterpret_cast<uint8_t*>(image.data()));
    return image + data;
}

TEST_F(EndToEnd, ConfigureLoadAndAcceptedCommands) {
    const QByteArray data = pattern(1016 - int(ImageFormat::kHeaderSize));
    const QString image = makeFile("image.bin", ramImage(data, 0x20001000));
    startDevice();
    const QString output = run({"config-rte 1 230400", "query-rte 1", "gen-keyblob any thing",
                                "load-image " + image, "read-memory 0 20001000 16"});
    QStringList expected{runCommand("config-rte 1 230400"),
                         "[Info] Active peripheral: UART",
                         "[Info] Baud Rate:  230400",
                         runCommand("gen-keyblob any thing"),
                         runCommand("load-image " + image),
                         "[Info] Load Image.  Progress:  508  Total:  1016",
                         "[Info] Load Image.  Progress:  1016  Total:  1016",
                         runCommand("read-memory 0 20001000 16")};
    expected += dumpLines(data.left(16));
    expected += kEnd;
    EXPECT_TRUE(inOrder(output, expected));
    EXPECT_FALSE(output.contains("[Critical]")) << output.toStdString();

    const QString empty = makeFile("empty.bin", {});
    const QString failed = run({"load-image " + empty, "reset 0"}, {}, 3);
    EXPECT_TRUE(inOrder(failed, {"[Critical] File is empty!  File Path: \"" + empty + "\"",
                                 runFailed("load-image " + empty), kEnd}));
    EXPECT_FALSE(failed.contains("Load image  filePath")) << failed.toStdString();
}

TEST_F(EndToEnd, EraseTimeOutFollowsTheReportedSize) {
    startDevice();
    const QString output = run({"config-memory 1 20000000", "erase-chip 1"});
    EXPECT_TRUE(inOrder(output, {runCommand("erase-chip 1"), "[Info] query rte  rteId:  4  arg:  1",
                                 "[Info] Memory Property: \r\nMemory identifier:  \"0x00000001\" "
                                 "\r\nMemory unit size:  4 Kbytes \r\nMemory start address:  "
                                 "\"0x08000000\" \r\nMemory end address:  \"0x081fffff\" "
                                 "\r\nMemory Size:  2 Mbytes",
                                 "[Info] current flash size:  2 Mbytes",
                                 "[Info] Erase all memory  id:  \"0x00000001\"",
                                 "[Info] set erase time out:  20000 ms", kEnd}));

    // A fixed command time-out stays; RAM reports less than a megabyte.
    const QString fixed = run({"config-memory 1 20000000", "erase-chip 1"}, {"-t", "15000"});
    EXPECT_TRUE(inOrder(fixed, {"[Info] current flash size:  2 Mbytes", kEnd}));
    EXPECT_FALSE(fixed.contains("set erase time out")) << fixed.toStdString();
    // The device refuses to erase RAM.
    const QString ram = run({"erase-region 0 20000000 100"}, {}, 3);
    EXPECT_TRUE(inOrder(ram, {"[Info] current flash size:  0 Mbytes"}));
    EXPECT_FALSE(ram.contains("set erase time out")) << ram.toStdString();
}

// Each failing command: its own critical line, then the loop's, and nothing after it runs.
struct FailureCase {
    const char* name;
    QStringList deviceArguments;
    QString command;
    QString critical;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class EndToEndFailure : public EndToEnd, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EndToEndFailure, StopsAtTheFirstFailure) {
    const FailureCase& c = GetParam();
    for (const bool withHid : {false, true}) {
        SCOPED_TRACE(withHid ? "USB-HID" : "UART");
        startDevice(c.deviceArguments, withHid);
        const QString output = run({"query-rte 5", c.command, "query-rte 1"}, {"-t", "2000"}, 3);
        EXPECT_TRUE(
            inOrder(output, {runCommand(c.command), c.critical, runFailed(c.command), kEnd}));
        EXPECT_FALSE(output.contains(runCommand("query-rte 1"))) << output.toStdString();
        sim.stop();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Console, EndToEndFailure,
    ::testing::Values(
        FailureCase{"ParameterCount",
                    {},
                    "read-memory 1 0",
                    "[Critical] Number of parameter is incorrect!"},
        FailureCase{"UnknownCommand",
                    {},
                    "Reset 0",
                    "[Critical] Command is not exist!  Command:  \"Reset\""},
        FailureCase{"NotANumber", {}, "query-rte 0x4", "[Critical] Parameter is not a number!"},
        FailureCase{"MissingFile",
                    {},
                    "write-memory 0 20000000 /no/such/file",
                    "[Critical] Parameter 'path' is not exist!  Path:  \"/no/such/file\""},
        FailureCase{"Nak",
                    {"--fault", "nak@2"},
                    "reset 0",
                    "[Critical] Reset failed!  resetType:  0  status:  1  message:  \"NAK\""},
        FailureCase{"TimeOut",
                    {"--fault", "no-packet@2"},
                    "config-rte 1 115200",
                    "[Critical] ConfigRTE failed!  peripheral:  1  baudRate:  115200  status:  4  "
                    "message:  \"TimeOut\""},
        FailureCase{"RomStatus",
                    {"--fault", "status=3:1001006"},
                    "config-memory 1 20000000",
                    "[Critical] Config Memory failed!  memoryId:  1  address:  536870912  status:  "
                    "17  message:  \"Command execute failed, check the log file to get more "
                    "details.\""},
        FailureCase{"WriteBeforeConfiguration",
                    {},
                    "write-memory 1 8000000 [[1]]",
                    "[Critical] Write memory failed!  memoryId:  1  address:  134217728  buffer:  "
                    "\"1\"  status:  17  message:  \"Command execute failed, check the log file "
                    "to get more details.\""},
        FailureCase{"ChecksumMismatch",
                    {},
                    "verify-checksum 0 20000000 [[DEADBEEF]]",
                    "[Critical] Verify checksum failed!  memoryId:  0  address:  536870912  "
                    "buffer:  \"DEADBEEF\"  status:  17  message:  \"Command execute failed, "
                    "check the log file to get more details.\""},
        FailureCase{"EraseUnconfigured",
                    {},
                    "erase-region 1 8000000 0x1000",
                    "[Critical] Erase all failed!  memoryId:  1  address:  134217728  length:  "
                    "4096  status:  17  message:  \"Command execute failed, check the log file to "
                    "get more details.\""},
        // The device ends the data after its first packet.
        FailureCase{"ShortData",
                    {"--fault", "short-data@2"},
                    "read-memory 0 20000000 2048",
                    "[Critical] Read Memory failed!  memoryId:  0  address:  536870912  length:  "
                    "2048  status:  17  message:  \"Command execute failed, check the log file to "
                    "get more details.\""},
        FailureCase{"ReadOutsideMemory",
                    {},
                    "read-memory 0 10 10",
                    "[Critical] Read Memory failed!  memoryId:  0  address:  16  length:  10  "
                    "status:  17  message:  \"Command execute failed, check the log file to get "
                    "more details.\""}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// ---- interruption ----

// A signal in the middle of a slow transfer: the exchange under way completes, then the run
// ends with one critical line, the closing line and 128 + the signal number.
struct InterruptCase {
    const char* name;
    QString command;  // %1: a 16 KiB data file
    int signalNumber;
    int exitCode;
    QString critical;
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name;
}

class EndToEndInterrupt : public EndToEnd, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(EndToEndInterrupt, StopsAfterTheExchangeUnderWay) {
    const InterruptCase& c = GetParam();
    // About half a second per packet: the transfer would take many seconds.
    startDevice({"--baud", "9600"});
    const QString data = makeFile("data.bin", pattern(16384));
    const auto process = tool.start({"-p", sim.ptyPath(), "-r", c.command.arg(data)});
    QString output;
    ASSERT_TRUE(waitForOutput(*process, "Progress:", kBoundMs, &output)) << output.toStdString();

    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ASSERT_EQ(::kill(pid_t(process->processId()), c.signalNumber), 0);
    ASSERT_TRUE(process->waitForFinished(kBoundMs));
    EXPECT_LT(sinceSignal.elapsed(), 5000);
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), c.exitCode);

    output += QString::fromLocal8Bit(process->readAll());
    EXPECT_EQ(output.count("[Critical]"), 1) << output.toStdString();
    // Only the port's own close line may follow the closing line.
    const QString ending = block(c.critical) + block(kEnd);
    const int at = output.indexOf(ending);
    ASSERT_GE(at, 0) << output.toStdString();
    const QString tail = output.mid(at + ending.size());
    EXPECT_TRUE(tail.startsWith("[Info] serial close fd: ") && tail.count('\n') == 2)
        << output.toStdString();
    const QString log = tool.decodedLog();
    EXPECT_TRUE(log.contains(c.critical + "\n")) << log.toStdString();
    EXPECT_TRUE(log.contains(kEnd)) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Console, EndToEndInterrupt,
    ::testing::Values(InterruptCase{"WriteOnSigint", "write-memory 0 20000000 %1", SIGINT, 130,
                                    "[Critical] Run interrupted by SIGINT!"},
                      InterruptCase{"ReadToFileOnSigterm", "read-memory 0 20000000 16384 %1.copy",
                                    SIGTERM, 143, "[Critical] Run interrupted by SIGTERM!"}),
    [](const ::testing::TestParamInfo<InterruptCase>& info) {
        return std::string(info.param.name);
    });

// A signal ends a wait under way, not only the run between exchanges: here a device that
// never answers and a time-out of 10 s.
class EndToEndSilentWait : public EndToEnd, public ::testing::WithParamInterface<bool> {};

TEST_P(EndToEndSilentWait, SigtermEndsTheWaitAtOnce) {
    startDevice({"--fault", "no-ack"}, GetParam());
    const QStringList arguments = deviceArguments() + QStringList{"-t", "10000", "-r", "query-rte"};
    const auto process = hid ? tool.start(arguments, sim.hidEnvironment()) : tool.start(arguments);
    QString output;
    ASSERT_TRUE(waitForOutput(*process, "query rte", kBoundMs, &output)) << output.toStdString();
    QElapsedTimer sinceStart;
    sinceStart.start();
    QThread::msleep(1000);
    ASSERT_EQ(::kill(pid_t(process->processId()), SIGTERM), 0);
    ASSERT_TRUE(process->waitForFinished(kBoundMs));
    EXPECT_LT(sinceStart.elapsed(), 1500);
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 143);
    output += QString::fromLocal8Bit(process->readAll());
    EXPECT_TRUE(output.contains(block("[Critical] Run interrupted by SIGTERM!") + block(kEnd)))
        << output.toStdString();
    EXPECT_EQ(output.count("[Critical]"), 1) << output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Carriers, EndToEndSilentWait, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "UsbHid" : "Uart");
                         });

// A second Ctrl-C ends the tool at once, even where the first cannot end the run: here its
// console, a pipe that nobody reads, is full.
TEST_F(EndToEnd, SecondSigintEndsAtOnce) {
    startDevice();
    const auto process = tool.start({"-p", sim.ptyPath(), "-r", "read-memory 0 20000000 65536"});
    const QString wchan = QString("/proc/%1/wchan").arg(process->processId());
    const auto blockedOnConsole = [&wchan] {
        QFile file(wchan);
        // "pipe_write", or "anon_pipe_write" on newer kernels
        return file.open(QIODevice::ReadOnly) && file.readAll().endsWith("pipe_write");
    };
    QElapsedTimer clock;
    clock.start();
    while (!blockedOnConsole() && clock.elapsed() < kBoundMs) {
        QThread::msleep(50);
    }
    ASSERT_TRUE(blockedOnConsole());
    ASSERT_EQ(::kill(pid_t(process->processId()), SIGINT), 0);
    QThread::msleep(300);
    ASSERT_TRUE(blockedOnConsole());
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    ASSERT_EQ(::kill(pid_t(process->processId()), SIGINT), 0);
    ASSERT_TRUE(process->waitForFinished(kBoundMs));
    EXPECT_LT(sinceSecond.elapsed(), 5000);
    EXPECT_EQ(process->exitCode(), 130);
    const QString output = QString::fromLocal8Bit(process->readAll());
    EXPECT_FALSE(output.contains("Tarvo Manufacturing Tool End!")) << output.toStdString();
}

TEST_F(EndToEnd, UsbAutoDetection) {
    const struct {
        const char* name;
        QStringList deviceArguments;
        QStringList usbArguments;
        QStringList messages;
        bool runs;
    } cases[] = {
        {"one",
         {},
         {"-u"},
         {"[Info] Detect one usb device:  \"tarvosim:0\"  and connect it automatically!",
          "[Info] Run Rom API Commands:"},
         true},
        {"several",
         {"--devices", "2"},
         {"-u"},
         {"[Critical] There are multiple devices whose vid and pid are the same! Please select "
          "device path to connect:",
          "[Info] tarvosim:0", "[Info] tarvosim:1"},
         false},
        {"several by ids",
         {"--devices", "2"},
         {"-u", "5e3a,0x0001"},
         {"[Critical] There are multiple devices whose vid and pid are the same! Please select "
          "device path to connect:",
          "[Info] tarvosim:0", "[Info] tarvosim:1"},
         false},
        {"path", {"--devices", "2"}, {"-u", "tarvosim:1"}, {"[Info] Run Rom API Commands:"}, true},
        {"none",
         {"--pid", "2"},
         {"-u", "1"},
         {"[Critical] Can not find correct usb device! Please input the parameter with correct "
          "vid and pid or device path!"},
         false},
        {"none by ids",
         {},
         {"-u", "5e3a,7"},
         {"[Critical] Can not find correct usb device! Please input the parameter with correct "
          "vid and pid or device path!"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startDevice(c.deviceArguments, true);
        const QString output =
            runRaw(c.usbArguments + QStringList{"-r", "query-rte 1"}, c.runs ? 0 : 2);
        EXPECT_TRUE(inOrder(output, c.messages + QStringList{kEnd}));
        EXPECT_EQ(output.contains("[Info] Active peripheral: USB-HID"), c.runs)
            << output.toStdString();
        sim.stop();
    }
}

// A pseudo-terminal keeps its exclusive-use flag after the last close, and the flag shuts out
// every later run by a user other than root: the tool has to clear it before it ends.
TEST_F(EndToEnd, SerialPortIsReleasedWhenTheRunEnds) {
    startDevice();
    const QString output = run({"query-rte 1"});
    // Only the port's own close line follows the closing line.
    const int end = output.indexOf(block(kEnd));
    ASSERT_GE(end, 0) << output.toStdString();
    const QString tail = output.mid(end + block(kEnd).size());
    EXPECT_TRUE(tail.startsWith("[Info] serial close fd: ") && tail.count('\n') == 2 &&
                tail.endsWith(" result:  1\n\n"))
        << tail.toStdString();

    const int fd = ::open(QFile::encodeName(sim.ptyPath()).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << "open: " << std::strerror(errno);
    int exclusive = -1;
    const int got = ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    ASSERT_EQ(got, 0) << "TIOCGEXCL: " << std::strerror(errno);
    EXPECT_EQ(exclusive, 0);
}

TEST_F(EndToEnd, SerialPortGivenWithBaudRate) {
    startDevice();
    const QString good = runRaw({"-p", sim.ptyPath() + ",115200", "-r", "query-rte 1"});
    EXPECT_TRUE(inOrder(good, {"[Info] Active peripheral: UART", kEnd}));
    const QString bad = runRaw({"-p", sim.ptyPath() + ",fast", "-r", "query-rte 1"}, 2);
    EXPECT_EQ(bad, block("[Critical] Baud Rate is not a number!") + block(kEnd));
}

// -l: a header, then one line of five fields per device; the HID lines of three boards.
TEST(DeviceListing, ShowsPathSerialNumberAndLocationOfEachBoard) {
    ToolRun tool;
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--devices", "3"}, true));
    const ToolResult listed = tool.run({"-l"}, sim.hidEnvironment());
    ASSERT_TRUE(listed.finished);
    EXPECT_EQ(listed.exitCode, 0);
    const QStringList lines = listed.output.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first().simplified(), "KIND DEVICE VID:PID SERIAL LOCATION");
    QStringList hid;
    for (const QString& line : lines.mid(1)) {
        EXPECT_EQ(line.simplified().split(' ').size(), 5) << line.toStdString();
        if (line.startsWith("hid")) {
            hid.append(line.simplified());
        }
    }
    EXPECT_EQ(hid, QStringList({"hid tarvosim:0 5e3a:0001 TVSIM0001 1-1.1",
                                "hid tarvosim:1 5e3a:0001 TVSIM0002 1-1.2",
                                "hid tarvosim:2 5e3a:0001 TVSIM0003 1-1.3"}))
        << listed.output.toStdString();

    // No board: the host's own serial ports may remain, and only with none is it "no device".
    sim.stop();
    const ToolResult empty = tool.run({"-l"}, sim.hidEnvironment());
    ASSERT_TRUE(empty.finished);
    const QStringList rest = empty.output.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(rest.isEmpty()) << empty.output.toStdString();
    EXPECT_EQ(rest.filter(QRegularExpression("^hid")).size(), 0) << empty.output.toStdString();
    EXPECT_EQ(empty.exitCode, rest.size() == 1 ? 2 : 0) << empty.output.toStdString();
}

}  // namespace

}  // namespace Test
}  // namespace RomCmd
