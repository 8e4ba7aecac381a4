// A firmware load over USB-HID to the virtual device, linked in process through its hidapi
// shim, while the scripted environment keeps listing the device: the wait for the
// disconnection must end on its own bound.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "console/RomConsoleMode.h"
#include "tests/common/SimProcess.h"
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
    auto environment = std::make_shared<FakeEnvironment>();
    environment->usbPath = paths.first();
    console.setEnvironment(environment);
    console.deviceType = 2;
    console.usbInfo.devicePath = paths.first();
    console.usbInfo.vid = 0x5E3A;
    console.loadFirmware = true;
    console.firmwarePath = QCoreApplication::applicationDirPath() +
                           "/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_signed.bin";

    LogCapture log;
    EXPECT_FALSE(console.loadFirmwareOnce());
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

}  // namespace
}  // namespace Test
}  // namespace RomCmd
