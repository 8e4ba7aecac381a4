// The firmware step in process against the virtual device: over USB-HID through its hidapi
// shim linked in place of hidapi, and over the UART on its pseudo-terminal, which the system's
// port list never shows, so the scripted environment lists it.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "console/RomConsoleMode.h"
#include "tests/common/SimProcess.h"
#include "tests/console/ConsoleTestAccess.h"
#include "tests/firmware/FirmwareTestSupport.h"

namespace RomCmd {
namespace Test {
namespace {

TEST(DisconnectBound, DeviceThatStaysListedFailsTheAttemptAfterThirtySeconds) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({}, true));
    qputenv("TARVO_HIDSIM_SOCKET", sim.hidSocketPath().toLocal8Bit());
    const QStringList paths = RomCmd::usbDevicePaths(0x5E3A, 0);
    ASSERT_EQ(paths.size(), 1);

    auto parser = makeParser({"tool"});
    RomConsoleMode console(*parser);
    ConsoleTestAccess access(console);
    auto environment = std::make_shared<FakeEnvironment>();
    environment->usbPath = paths.first();
    console.setEnvironment(environment);
    access.deviceType = 2;
    access.usbInfo.devicePath = paths.first();
    access.usbInfo.vid = 0x5E3A;
    access.loadFirmware = true;
    access.firmwarePath = QCoreApplication::applicationDirPath() +
                          "/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_signed.bin";

    LogCapture log;
    EXPECT_FALSE(access.loadFirmwareOnce());
    qunsetenv("TARVO_HIDSIM_SOCKET");

    const QStringList infos = log.texts(QtInfoMsg);
    EXPECT_TRUE(
        infos.contains("Load boot loader firmware success! Waiting the device disconnect, "
                       "please don't operate the device!"))
        << log.dump().toStdString();
    EXPECT_FALSE(infos.contains("Waiting the device reconnect, please don't operate the device!"));
    EXPECT_EQ(log.texts(QtCriticalMsg),
              QStringList{"Device did not disconnect within 30 seconds after the firmware load!"})
        << log.dump().toStdString();
    // Listed once more after each of 300 sleeps of 100 ms.
    EXPECT_EQ(environment->sleeps, std::vector<unsigned long>(300, 100));
    EXPECT_EQ(environment->listings, 301);
}

// Over the UART the disconnection is a fixed wait; a device that is back by then is found
// by the first poll and answers with the firmware on attempt 2.
TEST(FirmwareOverUartInProcess, LoadsWaitsThreeSecondsAndFindsTheFirmware) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--leave-ms", "100"}));

    auto parser = makeParser({"tool"});
    RomConsoleMode console(*parser);
    ConsoleTestAccess access(console);
    auto environment = std::make_shared<FakeEnvironment>();
    environment->port = {"pts-device", sim.ptyPath()};
    // The device is off the bus for 100 ms; only that much of the fixed wait is slept.
    environment->realSleepCapMs = 300;
    console.setEnvironment(environment);
    access.deviceType = 1;
    access.serialParam.portName = sim.ptyPath();
    access.loadFirmware = true;
    access.firmwarePath = QCoreApplication::applicationDirPath() +
                          "/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_unsigned.bin";

    LogCapture log;
    access.runFirmwareStep();

    EXPECT_EQ(access.firmwareAttempts, 2);
    EXPECT_EQ(access.firmwareLoaded, 1);
    EXPECT_EQ(environment->sleeps, std::vector<unsigned long>{3000}) << log.dump().toStdString();
    EXPECT_EQ(environment->listings, 1);
    const QStringList infos = log.texts(QtInfoMsg);
    const int loaded = infos.indexOf(
        "Load boot loader firmware success! Waiting the device "
        "disconnect, please don't operate the device!");
    const int reconnect =
        infos.indexOf("Waiting the device reconnect, please don't operate the device!");
    const int done = infos.indexOf("Firmware has been load success!");
    EXPECT_GE(loaded, 0) << log.dump().toStdString();
    EXPECT_GT(reconnect, loaded);
    EXPECT_GT(done, reconnect);
    EXPECT_EQ(infos.count("Firmware has been load success!"), 1);
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty()) << log.dump().toStdString();
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
