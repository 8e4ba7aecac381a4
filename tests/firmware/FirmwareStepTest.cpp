// The firmware step and load-blfw in process: device listings and sleeps come from a
// scripted environment, so nothing here waits for real time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>

#include "console/RomConsoleMode.h"
#include "romcmd/DeviceType.h"
#include "tests/console/ConsoleTestAccess.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "transport/Interruption.h"
#include "transport/ResultCode.h"

namespace RomCmd {
namespace Test {
namespace {

const char* const kGiveUp = "The firmware can not be loaded correctly and will be ignored!";
const char* const kTimeout = "Connect device timeout! Please reset the device manually!";

// Refuses every packet, so any load fails after the file has been chosen.
class RefusingIO : public DeviceIO {
public:
    int writePacket(const uint8_t*, uint16_t) override { return ResultNak; }
    int readPacket(uint8_t*, uint16_t*) override { return ResultNak; }
    int readAck() override { return ResultNak; }
    int sendResponse(uint8_t) override { return ResultNak; }
};

QString printable(const std::vector<unsigned long>& values) {
    QStringList parts;
    for (unsigned long value : values) {
        parts.append(QString::number(value));
    }
    return parts.join(',');
}

struct Controller {
    Controller()
        : parser(makeParser({"tool"})),
          console(std::make_unique<RomConsoleMode>(*parser)),
          access(*console),
          environment(std::make_shared<FakeEnvironment>()) {
        console->setEnvironment(environment);
    }
    ~Controller() {
        delete access.romCmd;
        access.romCmd = nullptr;
    }
    std::unique_ptr<QCommandLineParser> parser;
    std::unique_ptr<RomConsoleMode> console;
    ConsoleTestAccess access;
    std::shared_ptr<FakeEnvironment> environment;
};

// A firmware step asked for on a serial port whose device node does not exist, so every
// attempt fails at the query. False when the firmware file could not be made.
bool askForFirmwareOnAbsentPort(Controller& controller, const QTemporaryDir& dir) {
    const QString firmware = dir.filePath("fw.bin");
    QFile file(firmware);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    file.close();
    ConsoleTestAccess& access = controller.access;
    access.deviceType = kSerialDevice;
    access.serialParam.portName = dir.filePath("ttyFAKE0");
    access.loadFirmware = true;
    access.firmwarePath = firmware;
    controller.environment->port = {"ttyFAKE0", access.serialParam.portName};
    return true;
}

struct PresenceCase {
    const char* name;
    int deviceType;
    bool waitingForDisconnection;
    QString serialName;  // the port the controller selected; "@" stands for a scratch folder
    bool listed;         // whether the environment lists the device
    bool expected;
    std::vector<unsigned long> sleeps;
    int listings;
    QStringList characterDevices = {};  // device nodes that exist though no list shows them
};

void PrintTo(const PresenceCase& c, std::ostream* out) {
    *out << c.name;
}

class IsDevicePresent : public ::testing::TestWithParam<PresenceCase> {};

TEST_P(IsDevicePresent, AnswersFromTheListingOrTheFixedWait) {
    const PresenceCase& c = GetParam();
    // The listed port lives in a scratch folder, with a symbolic link to it as a udev rule
    // would make one.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile node(dir.filePath("ttyFAKE0"));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("by-id")));
    ASSERT_TRUE(QFile::link(dir.filePath("ttyFAKE0"), dir.filePath("by-id/usb-Tarvo-if00-port0")));

    Controller controller;
    controller.access.deviceType = c.deviceType;
    controller.access.serialParam.portName = QString(c.serialName).replace('@', dir.path());
    controller.access.usbInfo.devicePath = "fakehid0";
    controller.environment->port = {"ttyFAKE0", dir.filePath("ttyFAKE0")};
    controller.environment->characterDevices = c.characterDevices;
    const bool listed = c.listed;
    controller.environment->present = [listed](int) { return listed; };

    EXPECT_EQ(controller.access.isDevicePresent(c.waitingForDisconnection), c.expected);
    EXPECT_EQ(printable(controller.environment->sleeps), printable(c.sleeps));
    EXPECT_EQ(controller.environment->listings, c.listings);
    for (const auto& query : controller.environment->usbQueries) {
        EXPECT_EQ(query.first, 0);
        EXPECT_EQ(query.second, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsDevicePresent,
    ::testing::Values(
        PresenceCase{"UartDisconnectIsAFixedWait",
                     1,
                     true,
                     "/dev/pts/7",
                     true,
                     false,
                     {3000},
                     0,
                     {"/dev/pts/7"}},
        PresenceCase{"UartByPortName", 1, false, "ttyFAKE0", true, true, {}, 1},
        PresenceCase{"UartBySystemLocation", 1, false, "@/ttyFAKE0", true, true, {}, 1},
        PresenceCase{
            "UartBySymbolicLink", 1, false, "@/by-id/usb-Tarvo-if00-port0", true, true, {}, 1},
        PresenceCase{"UartSymbolicLinkNotListed",
                     1,
                     false,
                     "@/by-id/usb-Tarvo-if00-port0",
                     false,
                     false,
                     {},
                     1},
        PresenceCase{"UartNotListed", 1, false, "ttyFAKE0", false, false, {}, 1},
        PresenceCase{"UartUnlistedCharacterDevice",
                     1,
                     false,
                     "/dev/pts/7",
                     false,
                     true,
                     {},
                     1,
                     {"/dev/pts/7"}},
        PresenceCase{"UartUnlistedCharacterDeviceByName",
                     1,
                     false,
                     "pts/7",
                     false,
                     true,
                     {},
                     1,
                     {"/dev/pts/7"}},
        PresenceCase{"UartUnlistedOtherNodeOnly",
                     1,
                     false,
                     "/dev/pts/7",
                     false,
                     false,
                     {},
                     1,
                     {"/dev/pts/8"}},
        PresenceCase{"UartOtherPortOnly", 1, false, "ttyUSB3", true, false, {}, 1},
        PresenceCase{"UartEmptyName", 1, false, "", true, false, {}, 1},
        PresenceCase{"UsbListed", 2, false, "", true, true, {}, 1},
        PresenceCase{"UsbListedWhileWaitingForDisconnection", 2, true, "", true, true, {}, 1},
        PresenceCase{"UsbNotListed", 2, false, "", false, false, {}, 1},
        PresenceCase{"NoDeviceType", 0, false, "ttyFAKE0", true, false, {}, 0},
        PresenceCase{"UnknownDeviceType", 7, true, "ttyFAKE0", true, false, {}, 0}),
    [](const ::testing::TestParamInfo<PresenceCase>& info) { return info.param.name; });

UsbInfo board(const char* path, const char* serial, const char* location) {
    UsbInfo device;
    device.devicePath = path;
    device.serialNumber = serial;
    device.location = location;
    return device;
}

const char* const kMoved = "The selected device has a new path:  \"hid5\"";
const char* const kNotSelected = "The device at hid3 is not the selected device!";

struct FollowCase {
    const char* name;
    ConsoleTestAccess::UsbIdentity identity;
    QList<UsbInfo> attached;   // what the listing shows after the device left and came back
    bool present;              // isDevicePresent(false): back, followed to its new path
    bool presentWhileLeaving;  // isDevicePresent(true)
    bool confirmed;            // confirmSelectedUsbDevice
    QString path;              // usbInfo.devicePath afterwards
    QStringList lines;         // of confirmSelectedUsbDevice
};

void PrintTo(const FollowCase& c, std::ostream* out) {
    *out << c.name;
}

class FollowDevice : public ::testing::TestWithParam<FollowCase> {};

// Selected: board A, serial TV5-0001 in port 1-2.1, at hid3.
TEST_P(FollowDevice, FindsItByItsIdentityAndNeverTakesAnother) {
    const FollowCase& c = GetParam();
    for (int check = 0; check < 3; ++check) {
        Controller controller;
        ConsoleTestAccess& access = controller.access;
        access.deviceType = kUsbDevice;
        access.usbInfo = board("hid3", "TV5-0001", "1-2.1");
        access.usbIdentity = c.identity;
        const QList<UsbInfo> attached = c.attached;
        controller.environment->usbListing = [attached](int) { return attached; };
        LogCapture log;
        if (check == 0) {
            EXPECT_EQ(access.isDevicePresent(false), c.present);
            EXPECT_EQ(access.usbInfo.devicePath, c.present ? c.path : "hid3");
        } else if (check == 1) {
            EXPECT_EQ(access.isDevicePresent(true), c.presentWhileLeaving);
            EXPECT_EQ(access.usbInfo.devicePath, "hid3");
        } else {
            EXPECT_EQ(access.confirmSelectedUsbDevice(), c.confirmed);
            EXPECT_EQ(access.selectedDeviceLost, !c.confirmed);
            EXPECT_EQ(access.usbInfo.devicePath, c.path);
            EXPECT_EQ(log.texts(QtInfoMsg) + log.texts(QtCriticalMsg), c.lines);
        }
        EXPECT_EQ(controller.environment->listings, 1);
    }
}

using Identity = ConsoleTestAccess::UsbIdentity;

INSTANTIATE_TEST_SUITE_P(
    Cases, FollowDevice,
    ::testing::Values(
        FollowCase{"SamePath",
                   Identity::SerialNumber,
                   {board("hid3", "TV5-0001", "1-2.1"), board("hid4", "TV5-0002", "1-2.3")},
                   true,
                   true,
                   true,
                   "hid3",
                   {}},
        // Board B took A's old path; A came back as hid5.
        FollowCase{"SerialNumberMovedAway",
                   Identity::SerialNumber,
                   {board("hid3", "TV5-0002", "1-2.3"), board("hid5", "TV5-0001", "1-2.1")},
                   true,
                   false,
                   true,
                   "hid5",
                   {kMoved}},
        FollowCase{"LocationMovedAway",
                   Identity::Location,
                   {board("hid3", "", "1-2.3"), board("hid5", "", "1-2.1")},
                   true,
                   false,
                   true,
                   "hid5",
                   {kMoved}},
        FollowCase{"AnotherBoardAtItsPath",
                   Identity::SerialNumber,
                   {board("hid3", "TV5-0002", "1-2.3")},
                   false,
                   false,
                   false,
                   "hid3",
                   {kNotSelected}},
        FollowCase{"AnotherPortAtItsPath",
                   Identity::Location,
                   {board("hid3", "TV5-0001", "1-2.3")},
                   false,
                   false,
                   false,
                   "hid3",
                   {kNotSelected}},
        FollowCase{"NothingAtItsPath",
                   Identity::SerialNumber,
                   {board("hid4", "TV5-0002", "1-2.3")},
                   false,
                   false,
                   true,
                   "hid3",
                   {}},
        // Two with its serial number: neither is known to be it.
        FollowCase{"SerialNumberTwice",
                   Identity::SerialNumber,
                   {board("hid3", "TV5-0001", "1-2.3"), board("hid5", "TV5-0001", "1-2.1")},
                   false,
                   false,
                   false,
                   "hid3",
                   {kNotSelected}},
        // Without serial number and location the path is all there is.
        FollowCase{"PathOnly",
                   Identity::Path,
                   {board("hid3", "TV5-0002", "1-2.3")},
                   true,
                   true,
                   true,
                   "hid3",
                   {}}),
    [](const ::testing::TestParamInfo<FollowCase>& info) { return info.param.name; });

// After the firmware step the main engine is not created over another board.
TEST(FirmwareStep, AnotherDeviceAtThePathIsNeverOpened) {
    Controller controller;
    ConsoleTestAccess& access = controller.access;
    access.deviceType = kUsbDevice;
    access.usbInfo = board("hid3", "TV5-0001", "1-2.1");
    access.usbIdentity = ConsoleTestAccess::UsbIdentity::SerialNumber;
    access.firmwareAttempts = 1;
    access.commandList = QStringList{"query-rte"};
    controller.environment->usbListing = [](int) {
        return QList<UsbInfo>{board("hid3", "TV5-0002", "1-2.3")};
    };
    LogCapture log;
    EXPECT_FALSE(access.runRomApiCommands());
    EXPECT_EQ(access.romCmd, nullptr);
    EXPECT_EQ(log.texts(QtCriticalMsg), QStringList{kNotSelected});
}

struct LoopCase {
    const char* name;
    std::function<bool(int)> present;  // by listing number, counted over the whole step
    int attempts;                      // loadFirmwareOnce calls
    int listings;
    int sleepCount;  // each one second
    bool timedOut;
};

void PrintTo(const LoopCase& c, std::ostream* out) {
    *out << c.name;
}

class AttemptLoop : public ::testing::TestWithParam<LoopCase> {};

// Every attempt fails at the query; only the polls decide what follows.
TEST_P(AttemptLoop, RetriesWhileTheDeviceReturnsAndGivesUpOtherwise) {
    const LoopCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Controller controller;
    ASSERT_TRUE(askForFirmwareOnAbsentPort(controller, dir));
    ConsoleTestAccess& access = controller.access;
    controller.environment->present = c.present;

    LogCapture log;
    access.runFirmwareStep();

    EXPECT_EQ(access.firmwareAttempts, c.attempts == 3 && !c.timedOut ? 4 : c.attempts);
    EXPECT_EQ(log.texts(QtCriticalMsg).filter("Query Rom status failed!").size(), c.attempts)
        << log.dump().toStdString();
    EXPECT_EQ(controller.environment->listings, c.listings);
    EXPECT_EQ(printable(controller.environment->sleeps),
              printable(std::vector<unsigned long>(size_t(c.sleepCount), 1000)));
    EXPECT_EQ(log.count(kTimeout), c.timedOut ? 1 : 0) << log.dump().toStdString();
    const QStringList criticals = log.texts(QtCriticalMsg);
    ASSERT_FALSE(criticals.isEmpty());
    EXPECT_EQ(criticals.last(), kGiveUp);
    EXPECT_EQ(log.count(kGiveUp), 1);
    EXPECT_EQ(log.count("Firmware has been load success!"), 0);
    EXPECT_TRUE(access.firmwareIgnored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AttemptLoop,
    ::testing::Values(
        LoopCase{"AlwaysPresentGetsThreeAttempts", [](int) { return true; }, 3, 3, 0, false},
        LoopCase{"NeverBackTimesOutAfterTenPolls", [](int) { return false; }, 1, 10, 10, true},
        LoopCase{"BackAtTheTenthPollEachTime", [](int n) { return n % 10 == 9; }, 3, 30, 27, false},
        LoopCase{"BackOnceThenLost", [](int n) { return n == 9; }, 2, 20, 19, true},
        LoopCase{"BackOnlyAtTheEleventhPoll", [](int n) { return n >= 10; }, 1, 10, 10, true},
        LoopCase{"BackAtTheSecondPoll", [](int n) { return n % 2 == 1; }, 3, 6, 3, false}),
    [](const ::testing::TestParamInfo<LoopCase>& info) { return info.param.name; });

// A signal while the step waits for the device to come back ends the step at once, without
// the lines of a failed firmware: the run reports the interruption once.
TEST(FirmwareStep, InterruptionEndsTheWaitForTheDevice) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Controller controller;
    ASSERT_TRUE(askForFirmwareOnAbsentPort(controller, dir));
    ConsoleTestAccess& access = controller.access;
    controller.environment->present = [](int call) {
        if (call == 1) {
            ::raise(SIGTERM);
        }
        return false;
    };

    Interruption::install();
    LogCapture log;
    access.runFirmwareStep();
    Interruption::reset();
    std::signal(SIGTERM, SIG_DFL);

    EXPECT_EQ(controller.environment->listings, 2);
    EXPECT_EQ(log.count(kTimeout), 0) << log.dump().toStdString();
    EXPECT_EQ(log.count(kGiveUp), 0) << log.dump().toStdString();
}

struct SkippedCase {
    const char* name;
    bool loadFirmware;
    QString firmwarePath;
    QStringList criticals;
};

void PrintTo(const SkippedCase& c, std::ostream* out) {
    *out << c.name;
}

class SkippedStep : public ::testing::TestWithParam<SkippedCase> {};

TEST_P(SkippedStep, TouchesNoDevice) {
    const SkippedCase& c = GetParam();
    Controller controller;
    controller.access.deviceType = 1;
    controller.access.serialParam.portName = "ttyFAKE0";
    controller.access.loadFirmware = c.loadFirmware;
    controller.access.firmwarePath = c.firmwarePath;

    LogCapture log;
    controller.access.runFirmwareStep();

    EXPECT_EQ(log.texts(QtCriticalMsg).join('\n'), c.criticals.join('\n'));
    EXPECT_EQ(log.messages().size(), c.criticals.size()) << log.dump().toStdString();
    EXPECT_EQ(controller.access.firmwareAttempts, 0);
    EXPECT_EQ(controller.environment->listings, 0);
    EXPECT_TRUE(controller.environment->sleeps.empty());
    EXPECT_EQ(controller.access.firmwareIgnored, c.loadFirmware);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SkippedStep,
    ::testing::Values(SkippedCase{"NotAskedFor", false, "/nonexistent/fw.bin", {}},
                      SkippedCase{"MissingCustomFile",
                                  true,
                                  "/nonexistent/fw.bin",
                                  {"Can not find firmware path:  \"/nonexistent/fw.bin\"",
                                   "Firmware will be ignored and will connect with ROM directly!"}},
                      SkippedCase{
                          "NoPathFromThreeFields",
                          true,
                          "",
                          {"Can not find firmware path:  \"\"",
                           "Firmware will be ignored and will connect with ROM directly!"}}),
    [](const ::testing::TestParamInfo<SkippedCase>& info) { return info.param.name; });

struct BlfwCase {
    const char* name;
    QStringList tokens;
    QString expected;  // the one critical message; %1 stands for the application folder
    bool loadTried;    // the message then only starts with `expected`
};

void PrintTo(const BlfwCase& c, std::ostream* out) {
    *out << c.name;
}

class LoadBlfw : public ::testing::TestWithParam<BlfwCase> {};

TEST_P(LoadBlfw, ChoosesTheFileOrExplains) {
    const BlfwCase& c = GetParam();
    const QString appDir = QCoreApplication::applicationDirPath();
    // A series folder without firmware files in it.
    const QString emptySeries = "EMPTYSERIES" + QString::number(QCoreApplication::applicationPid());
    ASSERT_TRUE(QDir().mkpath(appDir + "/bl_fw/" + emptySeries));

    Controller controller;
    controller.access.romCmd = new RomCmd(std::make_unique<RefusingIO>(), 1, "test");
    QStringList tokens = c.tokens;
    tokens.replaceInStrings("emptyseries", emptySeries.toLower());

    LogCapture log;
    const bool result = controller.access.cmdLoadBlfw(tokens);
    const QStringList criticals = log.texts(QtCriticalMsg);
    QDir(appDir + "/bl_fw/" + emptySeries).removeRecursively();

    EXPECT_FALSE(result);
    ASSERT_EQ(criticals.size(), 1) << log.dump().toStdString();
    const QString expected = QString(c.expected)
                                 .replace("%1", appDir)
                                 .replace("EMPTYSERIES", emptySeries)
                                 .replace("emptyseries", emptySeries.toLower());
    if (c.loadTried) {
        EXPECT_TRUE(criticals.first().startsWith(expected + "  status: "))
            << criticals.first().toStdString() << "\nexpected start: " << expected.toStdString();
    } else {
        EXPECT_EQ(criticals.first(), expected);
    }
}

const QString kSigned =
    "Load BLFW failed!  bin path:  \"%1/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_signed.bin\"";
const QString kUnsigned =
    "Load BLFW failed!  bin path:  \"%1/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_unsigned.bin\"";

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadBlfw,
    ::testing::Values(
        BlfwCase{"NameOnly", {"load-blfw"}, "Number of parameter is incorrect!", false},
        BlfwCase{
            "OneParameter", {"load-blfw", "tv5100"}, "Number of parameter is incorrect!", false},
        BlfwCase{"ThreeParameters",
                 {"load-blfw", "tv5100", "1", "1"},
                 "Number of parameter is incorrect!",
                 false},
        BlfwCase{"Tv5100Signed", {"load-blfw", "tv5100", "1"}, kSigned, true},
        BlfwCase{"Tv5200EvkSigned", {"load-blfw", "tv5200evk", "1"}, kSigned, true},
        BlfwCase{"UpperCaseUnsigned", {"load-blfw", "TV5200", "0"}, kUnsigned, true},
        BlfwCase{"LeadingZeroCountsAsOne", {"load-blfw", "tv5100", "01"}, kSigned, true},
        BlfwCase{"HexOneIsNotOne", {"load-blfw", "tv5100", "0x1"}, kUnsigned, true},
        BlfwCase{"TextIsNotOne", {"load-blfw", "tv5100", "x"}, kUnsigned, true},
        BlfwCase{"TwoIsUnsigned", {"load-blfw", "tv5100", "2"}, kUnsigned, true},
        BlfwCase{"UnknownSeriesFolderMissing",
                 {"load-blfw", "abc", "x"},
                 "\"Can not find blfw folder: %1/bl_fw/ABC\"",
                 false},
        BlfwCase{"SeriesFolderWithoutFile",
                 {"load-blfw", "emptyseries", "1"},
                 "\"Can not find blfw path: %1/bl_fw/EMPTYSERIES/emptyseries_blfw_signed.bin\"",
                 false}),
    [](const ::testing::TestParamInfo<BlfwCase>& info) { return info.param.name; });

}  // namespace
}  // namespace Test
}  // namespace RomCmd
