// The sysfs walk from a device node to its USB port, against a tree laid out as the kernel
// lays it out: a hub in port 2 of bus 1, boards in its ports 1 and 3, and nodes that are not
// (or not only) USB.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdlib>

#include "transport/SysfsUsbLocation.h"
#include "transport/UsbLocation.h"

namespace RomCmd {
namespace {

const char* const kBus = "devices/pci0000:00/0000:00:14.0/usb1";

class SysfsTree {
public:
    // The node's folder devicePath/subsystem/node, the class entry linked to it and, unless
    // left out, its device link back to devicePath, all relative as the kernel makes them.
    bool addNode(const QString& className, const QString& devicePath, const QString& node,
                 bool deviceLink = true) {
        const QString nodeDir = devicePath + '/' + className + '/' + node;
        const QDir top(dir.path());
        return top.mkpath(nodeDir) && top.mkpath("class/" + className) &&
               (!deviceLink || QFile::link("../../../" + QFileInfo(devicePath).fileName(),
                                           top.filePath(nodeDir + "/device"))) &&
               QFile::link("../../" + nodeDir, top.filePath("class/" + className + '/' + node));
    }
    QString root() const { return dir.path(); }

private:
    QTemporaryDir dir;
};

class UsbLocationTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString hub = QString(kBus) + "/1-2";
        const QString port1 = hub + "/1-2.1/1-2.1:1.0/0003:5E3A:0001.0003";
        const QString port3 = hub + "/1-2.3/1-2.3:1.0/0003:5E3A:0001.0004";
        // A Bluetooth keyboard: its HID device lies below the adapter's USB interface.
        const QString bluetooth =
            QString(kBus) + "/1-5/1-5:1.0/bluetooth/hci0/hci0:256/0005:046D:B01A.0005";
        // A HID device made in user space (uhid) claims the USB bus but has no USB parent.
        const QString uhid = "devices/virtual/misc/uhid/0003:5E3A:0001.0006";
        // A HID device on a USB bus whose parent is no interface of its grandparent.
        const QString stray = QString(kBus) + "/1-2/1-7:1.0/0003:5E3A:0001.0007";
        ASSERT_TRUE(tree.addNode("hidraw", port1, "hidraw2"));
        ASSERT_TRUE(tree.addNode("hidraw", port3, "hidraw3"));
        ASSERT_TRUE(tree.addNode("hidraw", bluetooth, "hidraw4"));
        ASSERT_TRUE(tree.addNode("hidraw", uhid, "hidraw5"));
        ASSERT_TRUE(tree.addNode("hidraw", port1, "hidraw6", false));
        ASSERT_TRUE(tree.addNode("hidraw", stray, "hidraw8"));
        // ttyUSB: a port device below the interface; ttyACM: the interface itself.
        ASSERT_TRUE(tree.addNode("tty", hub + "/1-2.4/1-2.4:1.0/ttyUSB0", "ttyUSB0"));
        ASSERT_TRUE(tree.addNode("tty", hub + "/1-2.2/1-2.2:1.0", "ttyACM0"));
        ASSERT_TRUE(tree.addNode("tty", "devices/platform/serial8250", "ttyS0"));
    }

    SysfsTree tree;
};

TEST_F(UsbLocationTest, NodesUnderAHubPortGiveItAndOthersNothing) {
    const struct {
        bool hidraw;
        const char* node;
        const char* location;
    } cases[] = {
        {true, "hidraw2", "1-2.1"},
        {true, "hidraw3", "1-2.3"},
        {true, "hidraw4", ""},
        {true, "hidraw5", ""},
        {true, "hidraw6", ""},
        {true, "hidraw7", ""},
        {true, "hidraw8", ""},
        {true, "", ""},
        {true, "..", ""},
        {false, "ttyUSB0", "1-2.4"},
        {false, "ttyACM0", "1-2.2"},
        {false, "ttyS0", ""},
        {false, "ttyUSB9", ""},
    };
    const SysfsUsbLocation sysfs(tree.root());
    for (const auto& c : cases) {
        const QString location = c.hidraw ? sysfs.ofHidraw(c.node) : sysfs.ofTty(c.node);
        EXPECT_EQ(location.toStdString(), c.location) << c.node;
    }
}

// The platform entry takes the device paths the HID layer and the port listing give.
TEST_F(UsbLocationTest, PlatformEntryReadsTheTreeNamedByTheEnvironment) {
    ASSERT_EQ(::setenv("TARVO_SYSFS_ROOT", tree.root().toLocal8Bit().constData(), 1), 0);
    EXPECT_EQ(UsbLocation::ofHidDevice("/dev/hidraw3").toStdString(), "1-2.3");
    EXPECT_EQ(UsbLocation::ofHidDevice("/dev/hidraw4").toStdString(), "");
    EXPECT_EQ(UsbLocation::ofSerialPort("/dev/ttyUSB0").toStdString(), "1-2.4");
    ::unsetenv("TARVO_SYSFS_ROOT");
}

}  // namespace
}  // namespace RomCmd
