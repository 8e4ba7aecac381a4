// The real tool against the virtual device over USB-HID: the -f step, load-blfw, and the
// image editor mode with the real image tool.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "tests/common/SimProcess.h"
#include "tests/common/ToolRun.h"

namespace RomCmd {
namespace Test {
namespace {

const char* const kLoaded = "[Info] Firmware has been load success!";
const char* const kWaitDisconnect =
    "[Info] Load boot loader firmware success! Waiting the device disconnect, please don't "
    "operate the device!";
const char* const kWaitReconnect =
    "[Info] Waiting the device reconnect, please don't operate the device!";
const char* const kGiveUp =
    "[Critical] The firmware can not be loaded correctly and will be ignored!";
const char* const kTimeout = "[Critical] Connect device timeout! Please reset the device manually!";
const char* const kCommands = "[Info] Run Rom API Commands:";
const char* const kRomVersion = "[Info] ROM Version:  \"";
const char* const kFirmwareVersion = "[Info] ROM Version:  \"F1.0.0\"";
const char* const kRunFailed = "[Critical] Run command failed!";

QStringList outputLines(const ToolResult& result) {
    return result.output.split('\n', Qt::SkipEmptyParts);
}

int countStarting(const QStringList& lines, const QString& start) {
    int n = 0;
    for (const QString& line : lines) {
        n += line.startsWith(start) ? 1 : 0;
    }
    return n;
}

int indexStarting(const QStringList& lines, const QString& start, int from = 0) {
    for (int i = from; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(start)) {
            return i;
        }
    }
    return -1;
}

// True when each text starts a line, in this order.
::testing::AssertionResult inOrder(const ToolResult& result, const QStringList& starts) {
    const QStringList lines = outputLines(result);
    int at = 0;
    for (const QString& start : starts) {
        const int found = indexStarting(lines, start, at);
        if (found < 0) {
            return ::testing::AssertionFailure()
                   << "missing, or out of order: " << start.toStdString() << "\n--- output:\n"
                   << result.output.toStdString();
        }
        at = found + 1;
    }
    return ::testing::AssertionSuccess();
}

QString loadLine(const ToolRun& tool, const char* variant) {
    return QString(
               "[Info] Load image  filePath:  \"%1/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_%2.bin\"")
        .arg(tool.appDir(), variant);
}

class FirmwareOverHid : public ::testing::Test {
protected:
    bool startDevice(QStringList options) {
        // Short enough for quick tests, long enough for the unpaced disconnect poll to see it.
        options << "--leave-ms"
                << "1500";
        return sim.start(options, true);
    }
    ToolResult runTool(const QStringList& arguments, int timeoutMs = 90000) {
        return tool.run(arguments, sim.hidEnvironment(), timeoutMs);
    }

    SimProcess sim;
    ToolRun tool;
};

TEST_F(FirmwareOverHid, LoadsSeesTheDeviceLeaveAndReturnThenRunsTheCommandsOnTheFirmware) {
    ASSERT_TRUE(startDevice({}));
    const ToolResult result = runTool({"-u", "", "-f", "tv5100,1", "-r", "query-rte"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(inOrder(
        result, {kRomVersion, loadLine(tool, "signed"), "[Info] Load Image.", kWaitDisconnect,
                 kWaitReconnect, kFirmwareVersion, kLoaded, kCommands, kFirmwareVersion}));
    const QStringList lines = outputLines(result);
    // Attempt 1 reports the ROM, attempt 2 the firmware; the command reports it once more.
    EXPECT_EQ(countStarting(lines, kRomVersion), 3) << result.output.toStdString();
    EXPECT_EQ(countStarting(lines, kWaitDisconnect), 1);
    EXPECT_EQ(countStarting(lines, kLoaded), 1);
    EXPECT_EQ(countStarting(lines, "[Critical]"), 0) << result.output.toStdString();
    EXPECT_EQ(result.exitCode, 0);
}

TEST_F(FirmwareOverHid, DeviceAlreadyRunningTheFirmwareLoadsNothing) {
    ASSERT_TRUE(startDevice({"--firmware-running"}));
    const ToolResult result = runTool({"-u", "", "-f", "tv5200,0", "-r", "query-rte"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(inOrder(result, {kFirmwareVersion, kLoaded, kCommands, kFirmwareVersion}));
    const QStringList lines = outputLines(result);
    EXPECT_EQ(countStarting(lines, "[Info] Load Image."), 0) << result.output.toStdString();
    EXPECT_EQ(countStarting(lines, kWaitDisconnect), 0);
    EXPECT_EQ(countStarting(lines, "[Critical]"), 0) << result.output.toStdString();
}

TEST_F(FirmwareOverHid, FirmwareThatNeverAnswersIsLoadedThreeTimesThenTheCommandsRunOnTheRom) {
    ASSERT_TRUE(startDevice({"--firmware-fails"}));
    const ToolResult result = runTool({"-u", "", "-f", "TV5200,0", "-r", "query-rte"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(inOrder(result, {loadLine(tool, "unsigned"), kWaitDisconnect, kWaitReconnect,
                                 kWaitDisconnect, kWaitReconnect, kWaitDisconnect, kWaitReconnect,
                                 kGiveUp, kCommands, kRomVersion}));
    const QStringList lines = outputLines(result);
    EXPECT_EQ(countStarting(lines, kWaitDisconnect), 3) << result.output.toStdString();
    EXPECT_EQ(countStarting(lines, kLoaded), 0);
    EXPECT_EQ(countStarting(lines, kTimeout), 0);
    EXPECT_EQ(countStarting(lines, kFirmwareVersion), 0);
    EXPECT_EQ(countStarting(lines, kRunFailed), 0) << result.output.toStdString();
    // The commands succeeded, but on the ROM and not on the firmware that was asked for.
    EXPECT_EQ(result.exitCode, 4);
}

TEST_F(FirmwareOverHid, DeviceThatNeverReturnsTimesOut) {
    ASSERT_TRUE(startDevice({"--never-return"}));
    const ToolResult result = runTool({"-u", "", "-f", "tv5100,1"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(inOrder(result, {kWaitDisconnect, kWaitReconnect, kTimeout, kGiveUp, kCommands}));
    const QStringList lines = outputLines(result);
    EXPECT_EQ(countStarting(lines, kWaitDisconnect), 1) << result.output.toStdString();
    EXPECT_EQ(countStarting(lines, kTimeout), 1);
    EXPECT_EQ(countStarting(lines, kLoaded), 0);
    // The device is gone for good, so there is nothing left to talk to.
    EXPECT_EQ(result.exitCode, 2);
}

TEST_F(FirmwareOverHid, MissingFirmwareFileIsSkippedAndTheCommandsRunOnTheRom) {
    ASSERT_TRUE(startDevice({}));
    const QString missing = tool.appDir() + "/nothing/here.bin";
    const ToolResult result = runTool({"-u", "", "-f", missing, "-r", "query-rte"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(
        inOrder(result, {"[Critical] Can not find firmware path:  \"" + missing + "\"",
                         "[Critical] Firmware will be ignored and will connect with ROM directly!",
                         kCommands, kRomVersion}));
    const QStringList lines = outputLines(result);
    EXPECT_EQ(countStarting(lines, "[Info] Load Image."), 0);
    EXPECT_EQ(countStarting(lines, kRunFailed), 0) << result.output.toStdString();
    EXPECT_EQ(result.exitCode, 4);
}

TEST_F(FirmwareOverHid, LoadBlfwCommandLoadsTheSeriesFirmware) {
    ASSERT_TRUE(startDevice({}));
    const ToolResult result = runTool({"-u", "", "-r", "load-blfw tv5200evk 1"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(inOrder(result, {kCommands, loadLine(tool, "signed"), "[Info] Load Image."}));
    EXPECT_EQ(countStarting(outputLines(result), "[Critical]"), 0) << result.output.toStdString();
}

TEST_F(FirmwareOverHid, LoadBlfwCommandWithoutItsFolderFails) {
    ASSERT_TRUE(startDevice({}));
    const ToolResult result = runTool({"-u", "", "-r", "load-blfw abc 1", "-r", "query-rte"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(
        inOrder(result, {"[Critical] \"Can not find blfw folder: " + tool.appDir() + "/bl_fw/ABC\"",
                         "[Critical] Run command failed!  command:  \"load-blfw abc 1\""}));
    EXPECT_EQ(countStarting(outputLines(result), kRomVersion), 0) << result.output.toStdString();
    EXPECT_EQ(result.exitCode, 3);
}

struct TwoBoardsCase {
    const char* name;
    QStringList simOptions;
    QString selectA;  // the board in port 1-1.1, first at tarvosim:0
    QString selectB;  // the board in port 1-1.2, first at tarvosim:1
};

void PrintTo(const TwoBoardsCase& c, std::ostream* out) {
    *out << c.name;
}

class TwoBoards : public ::testing::TestWithParam<TwoBoardsCase> {};

// Two stations load firmware at once on two boards of one hub while the paths change hands,
// as hidraw numbers do: B leaves first and comes back first, so it takes A's old path, and A
// then gets B's. Each run follows its own board, and its OTP write lands on that board only.
TEST_P(TwoBoards, EachRunFollowsItsOwnBoardWhenThePathsChangeHands) {
    const TwoBoardsCase& c = GetParam();
    SimProcess sim;
    // B stays away long enough for A to start and leave even on a loaded machine, and comes
    // back before the firmware step's ten reconnection polls of a second run out.
    ASSERT_TRUE(sim.start(
        QStringList{"--devices", "2", "--renumber", "--leave-ms", "8000"} + c.simOptions, true));
    const QProcessEnvironment env = sim.hidEnvironment();
    ToolRun toolA;
    ToolRun toolB;
    const QStringList step = {"-f", "tv5100,1", "-r", "write-memory 20000 0 [[%1]]"};
    QStringList argsB = QStringList{"-u", c.selectB} + step;
    argsB.last() = argsB.last().arg("22222222");
    QStringList argsA = QStringList{"-u", c.selectA} + step;
    argsA.last() = argsA.last().arg("11111111");

    QString outB;
    QString outA;
    auto runB = toolB.start(argsB, env);
    ASSERT_TRUE(waitForOutput(*runB, "Waiting the device disconnect", 60000, &outB))
        << outB.toStdString();
    auto runA = toolA.start(argsA, env);
    ASSERT_TRUE(runA->waitForFinished(90000));
    ASSERT_TRUE(runB->waitForFinished(90000));
    outA += QString::fromLocal8Bit(runA->readAll());
    outB += QString::fromLocal8Bit(runB->readAll());

    const ToolResult a{runA->exitCode(), true, outA};
    const ToolResult b{runB->exitCode(), true, outB};
    EXPECT_TRUE(
        inOrder(b, {kWaitDisconnect, "[Info] The selected device has a new path:  \"tarvosim:0\"",
                    kFirmwareVersion, kLoaded, kCommands}));
    EXPECT_TRUE(
        inOrder(a, {kWaitDisconnect, "[Info] The selected device has a new path:  \"tarvosim:1\"",
                    kFirmwareVersion, kLoaded, kCommands}));
    for (const ToolResult* run : {&a, &b}) {
        EXPECT_EQ(countStarting(outputLines(*run), "[Critical]"), 0) << run->output.toStdString();
        EXPECT_EQ(run->exitCode, 0);
    }
    // Read back by port: each board holds its own run's word and nothing of the other's.
    for (const auto& port : {std::make_pair("port:1-1.1", "11 11 11 11"),
                             std::make_pair("port:1-1.2", "22 22 22 22")}) {
        const ToolResult read = toolA.run({"-u", port.first, "-r", "read-memory 20000 0 4"}, env);
        EXPECT_TRUE(inOrder(read, {kCommands, QString("[Info] \"") + port.second})) << port.first;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TwoBoards,
    ::testing::Values(
        TwoBoardsCase{"BySerialNumber", {}, "serial:TVSIM0001", "serial:TVSIM0002"},
        // Without serial numbers the path given is known by its USB port.
        TwoBoardsCase{"ByPathWithoutSerialNumbers", {"--no-serial"}, "tarvosim:0", "tarvosim:1"}),
    [](const ::testing::TestParamInfo<TwoBoardsCase>& info) { return info.param.name; });

// Over the UART the step needs no reconnection when the firmware already answers.
TEST(FirmwareOverUart, DeviceAlreadyRunningTheFirmwareLoadsNothing) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--firmware-running"}));
    ToolRun tool;
    const ToolResult result = tool.run({"-p", sim.ptyPath(), "-f", "tv5100,1", "-r", "query-rte"});
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(inOrder(result, {kFirmwareVersion, kLoaded, kCommands, kFirmwareVersion}));
    EXPECT_EQ(countStarting(outputLines(result), "[Info] Load Image."), 0)
        << result.output.toStdString();
    EXPECT_EQ(countStarting(outputLines(result), "[Critical]"), 0) << result.output.toStdString();
}

// A pseudo-terminal, like a /dev/serial/by-id link, is missing from the system's port list;
// the step still sees the device come back after the load.
TEST(FirmwareOverUart, LoadsSeesTheDeviceReturnThenRunsTheCommandsOnTheFirmware) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--leave-ms", "1500"}));
    ToolRun tool;
    const ToolResult result = tool.run({"-p", sim.ptyPath(), "-f", "tv5100,1", "-r", "query-rte"},
                                       QProcessEnvironment::systemEnvironment(), 90000);
    ASSERT_TRUE(result.finished) << result.output.toStdString();
    EXPECT_TRUE(inOrder(result, {loadLine(tool, "signed"), kWaitDisconnect, kWaitReconnect,
                                 kFirmwareVersion, kLoaded, kCommands, kFirmwareVersion}));
    EXPECT_EQ(countStarting(outputLines(result), kTimeout), 0) << result.output.toStdString();
    EXPECT_EQ(countStarting(outputLines(result), kGiveUp), 0);
    EXPECT_EQ(result.exitCode, 0);
}

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

TEST(ImageEditorE2e, CreatedImageIsAcceptedByTheDevice) {
    ToolRun tool;
    ASSERT_TRUE(writeFile(tool.appDir() + "/app.bin", "123456789abcdef0"));
    ASSERT_TRUE(writeFile(tool.appDir() + "/app.json",
                          R"({"output": "app.img", "loadMemory": 0, "loadAddress": "0x20000100",
                              "inputs": ["app.bin"]})"));
    const ToolResult created = tool.run({"-i", "-r", "create-image app.json"});
    ASSERT_TRUE(created.finished);
    EXPECT_TRUE(inOrder(created, {"[Info] Run Imgage Edit Commands:",
                                  "[Info] Run command:  \"create-image app.json\"",
                                  "[Info] Created image: " + tool.appDir() + "/app.img"}));
    ASSERT_TRUE(QFile::exists(tool.appDir() + "/app.img")) << created.output.toStdString();

    SimProcess sim;
    ASSERT_TRUE(sim.start());
    const ToolResult loaded = tool.run(
        {"-p", sim.ptyPath(), "-r", "load-image app.img", "-r", "read-memory 0 0x20000100 16"});
    ASSERT_TRUE(loaded.finished);
    EXPECT_TRUE(inOrder(loaded, {kCommands, "[Info] Load Image.",
                                 "[Info] \"31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 30 \""}));
    EXPECT_EQ(countStarting(outputLines(loaded), "[Critical]"), 0) << loaded.output.toStdString();
}

TEST(ImageEditorE2e, MissingToolIsReported) {
    ToolRun tool;
    ASSERT_TRUE(QDir(tool.appDir() + "/tools").removeRecursively());
    ASSERT_TRUE(writeFile(tool.appDir() + "/a.json", "{}"));
    const ToolResult result =
        tool.run({"-i", "-r", "create-image a.json", "-r", "create-image a.json"});
    ASSERT_TRUE(result.finished);
    EXPECT_TRUE(inOrder(
        result, {"[Info] Run Imgage Edit Commands:", "[Info] Run command:  \"create-image a.json\"",
                 "[Critical] Can not find image editor tools! Please ensure the "
                 "integrity of tools directory!",
                 "[Critical] Run command failed!  command:  \"create-image a.json\""}));
    EXPECT_EQ(countStarting(outputLines(result), "[Info] Run command:"), 1)
        << result.output.toStdString();
    EXPECT_EQ(result.exitCode, 3);
}

TEST(ImageEditorE2e, ToolThatCannotStartFailsTheCommand) {
    ToolRun tool;
    const QString toolPath = tool.appDir() + "/tools/tarvo_img_util";
    ASSERT_TRUE(QFile::setPermissions(toolPath, QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_TRUE(writeFile(tool.appDir() + "/a.json", "{}"));
    const ToolResult result = tool.run({"-i", "-r", "create-image a.json"});
    ASSERT_TRUE(result.finished);
    EXPECT_TRUE(
        inOrder(result, {"[Info] Run command:  \"create-image a.json\"",
                         "[Critical] Can not start image editor tools! \"",
                         "[Critical] Run command failed!  command:  \"create-image a.json\""}));
}

// The tool's own words stay relayed; its failure ends the run like any failed command.
TEST(ImageEditorE2e, ToolErrorOrCrashFailsTheCommand) {
    struct Case {
        const char* name;
        QByteArray tool;  // replaces the image tool; empty keeps the real one
        QString relayed;
        QString critical;
    };
    const Case cases[] = {
        {"ExitStatus",
         {},
         "[Info] tarvo_img_util: error: missing key \"output\" in a.json",
         "[Critical] Image editor tools failed!  exit code:  1"},
        {"Crash", "#!/bin/sh\necho writing the image\nkill -SEGV $$\n", "[Info] writing the image",
         "[Critical] Image editor tools crashed!  signal:  11"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToolRun tool;
        if (!c.tool.isEmpty()) {
            const QString path = tool.appDir() + "/tools/tarvo_img_util";
            ASSERT_TRUE(QFile::remove(path));
            ASSERT_TRUE(writeFile(path, c.tool));
            ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
        }
        ASSERT_TRUE(writeFile(tool.appDir() + "/a.json", "{}"));
        const ToolResult result =
            tool.run({"-i", "-r", "create-image a.json", "-r", "create-image a.json"});
        ASSERT_TRUE(result.finished);
        EXPECT_TRUE(inOrder(result, {c.relayed, c.critical,
                                     "[Critical] Run command failed!  command:  \"create-image "
                                     "a.json\""}));
        EXPECT_EQ(countStarting(outputLines(result), "[Critical]"), 2)
            << result.output.toStdString();
        EXPECT_EQ(countStarting(outputLines(result), "[Info] Run command:"), 1)
            << result.output.toStdString();
        EXPECT_EQ(result.exitCode, 3);
    }
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
