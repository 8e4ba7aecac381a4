#include <QVector>

#include "tests/console/ConsoleHarness.h"

namespace RomCmd {
namespace Test {

namespace {

const QList<SerialPortEntry> kNoPorts;
const QList<SerialPortEntry> kOnePort{{"ttyUSB0", "/dev/ttyUSB0"}};
const QList<SerialPortEntry> kTwoPorts{{"ttyS0", "/dev/ttyS0"}, {"ttyUSB0", "/dev/ttyUSB0"}};

struct SerialCase {
    const char* value;
    QList<SerialPortEntry> ports;
    bool selected;
    QStringList lines;
    QString portName;
    int baudRate;
    int listings;
};

void PrintTo(const SerialCase& c, std::ostream* os) {
    *os << "-p '" << c.value << "'";
}

class SerialSelectionTest : public ConsoleTest, public ::testing::WithParamInterface<SerialCase> {};

TEST_P(SerialSelectionTest, FieldsChoosePortAndBaudRate) {
    const SerialCase& c = GetParam();
    environment->ports = c.ports;
    const bool selected = access->selectSerialDevice(QString(c.value).split(','));
    EXPECT_EQ(selected, c.selected);
    EXPECT_EQ(log->lines(), c.lines);
    if (c.selected) {
        EXPECT_EQ(access->serialParam.portName, c.portName);
        EXPECT_EQ(access->serialParam.baudRate, c.baudRate);
    }
    EXPECT_EQ(environment->serialListings, c.listings);
    EXPECT_EQ(access->serialParam.dataBits, 8);
    EXPECT_EQ(access->serialParam.stopBits, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Console, SerialSelectionTest,
    ::testing::Values(
        SerialCase{"COM7", kTwoPorts, true, {}, "COM7", 115200, 0},
        SerialCase{"/dev/ttyUSB0", kNoPorts, true, {}, "/dev/ttyUSB0", 115200, 0},
        SerialCase{"COM7,460800", kNoPorts, true, {}, "COM7", 460800, 0},
        SerialCase{
            "COM7,fast", kNoPorts, false, {"[Critical] Baud Rate is not a number!"}, "", 0, 0},
        SerialCase{"COM7,-5", kNoPorts, false, {"[Critical] Baud Rate is not a number!"}, "", 0, 0},
        SerialCase{",115200", kOnePort, true, {}, "", 115200, 0},
        SerialCase{"COM7,115200,8",
                   kOnePort,
                   false,
                   {"[Critical] Paramter number is incorrect!"},
                   "",
                   0,
                   0},
        SerialCase{"",
                   kOnePort,
                   true,
                   {"[Info] Detect one serial port:  \"ttyUSB0\"  and connect it automatically!"},
                   "/dev/ttyUSB0",
                   115200,
                   1},
        SerialCase{"",
                   QList<SerialPortEntry>{{"COM4", ""}},
                   true,
                   {"[Info] Detect one serial port:  \"COM4\"  and connect it automatically!"},
                   "COM4",
                   115200,
                   1},
        SerialCase{"",
                   kTwoPorts,
                   false,
                   {"[Info] Detect multiple serial ports, please input a serial port name in "
                    "'-p' parameters:",
                    "[Info] \"ttyS0\"", "[Info] \"ttyUSB0\""},
                   "",
                   0,
                   1},
        SerialCase{
            "", kNoPorts, false, {"[Critical] Can not find the valid serial port!"}, "", 0, 1}));

TEST(PortMatchesTest, NameOrLocationNamesThePort) {
    const SerialPortEntry entry{"ttyUSB0", "/dev/ttyUSB0"};
    const struct {
        const char* name;
        bool matches;
    } cases[] = {{"ttyUSB0", true},       {"/dev/ttyUSB0", true}, {"ttyUSB1", false},
                 {"/dev/ttyUSB1", false}, {"USB0", false},        {"", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceEnvironment::portMatches(entry, c.name), c.matches) << c.name;
    }
    EXPECT_FALSE(DeviceEnvironment::portMatches({"", ""}, ""));
}

using UsbQueries = QList<QPair<uint16_t, uint16_t>>;
using UsbDevices = QMap<QPair<uint16_t, uint16_t>, QStringList>;

const UsbDevices kOneDevice{{{0x5E3A, 2}, {"/dev/hidraw3"}}};
const UsbDevices kTwoDevices{{{0x5E3A, 2}, {"/dev/hidraw3"}}, {{0x5E3A, 12}, {"/dev/hidraw4"}}};
const UsbDevices kForeignDevice{{{0x1234, 2}, {"/dev/hidraw0"}}};

const char* const kMultiple =
    "[Critical] There are multiple devices whose vid and pid are the same! Please select device "
    "path to connect:";
const char* const kNone =
    "[Critical] Can not find correct usb device! Please input the parameter with correct vid and "
    "pid or device path!";

struct UsbCase {
    const char* value;
    UsbDevices devices;
    bool selected;
    QStringList lines;
    QString devicePath;
    int32_t vid;
    int32_t pid;
    UsbQueries queries;
};

void PrintTo(const UsbCase& c, std::ostream* os) {
    *os << "-u '" << c.value << "'";
}

class UsbSelectionTest : public ConsoleTest, public ::testing::WithParamInterface<UsbCase> {};

TEST_P(UsbSelectionTest, FieldsChooseDevice) {
    const UsbCase& c = GetParam();
    environment->usbPaths = c.devices;
    const bool selected = access->selectUsbDevice(QString(c.value).split(','));
    EXPECT_EQ(selected, c.selected);
    EXPECT_EQ(log->lines(), c.lines);
    EXPECT_EQ(access->usbInfo.devicePath, c.devicePath);
    EXPECT_EQ(access->usbInfo.vid, c.vid);
    EXPECT_EQ(access->usbInfo.pid, c.pid);
    EXPECT_EQ(environment->usbQueries, c.queries);
}

INSTANTIATE_TEST_SUITE_P(
    Console, UsbSelectionTest,
    ::testing::Values(
        UsbCase{"",
                kOneDevice,
                true,
                {"[Info] Detect one usb device:  \"/dev/hidraw3\"  and connect it automatically!"},
                "/dev/hidraw3",
                0,
                0,
                {{0x5E3A, 0}}},
        UsbCase{"",
                kTwoDevices,
                false,
                {kMultiple, "[Info] /dev/hidraw3", "[Info] /dev/hidraw4"},
                "",
                0,
                0,
                {{0x5E3A, 0}}},
        UsbCase{"", kForeignDevice, false, {kNone}, "", 0, 0, {{0x5E3A, 0}}},
        UsbCase{"2",
                kTwoDevices,
                true,
                {"[Info] Detect one usb device:  \"/dev/hidraw3\"  and connect it automatically!"},
                "/dev/hidraw3",
                0x5E3A,
                2,
                {{0x5E3A, 2}}},
        UsbCase{"0x0002",
                kTwoDevices,
                true,
                {"[Info] Detect one usb device:  \"/dev/hidraw3\"  and connect it automatically!"},
                "/dev/hidraw3",
                0x5E3A,
                2,
                {{0x5E3A, 2}}},
        UsbCase{"12",
                kTwoDevices,
                true,
                {"[Info] Detect one usb device:  \"/dev/hidraw4\"  and connect it automatically!"},
                "/dev/hidraw4",
                0x5E3A,
                12,
                {{0x5E3A, 12}}},
        UsbCase{"5e3a,0002", kTwoDevices, true, {}, "/dev/hidraw3", 0x5E3A, 2, {{0x5E3A, 2}}},
        UsbCase{"0x5E3A,0x0002", kTwoDevices, true, {}, "/dev/hidraw3", 0x5E3A, 2, {{0x5E3A, 2}}},
        UsbCase{
            "10005e3a,2", kTwoDevices, false, {"[Critical] Vid is not a number!"}, "", 0, 0, {}},
        UsbCase{
            "5e3a,0x10000", kTwoDevices, false, {"[Critical] Pid is not a number!"}, "", 0, 0, {}},
        UsbCase{"0,0",
                kTwoDevices,
                false,
                {kMultiple, "[Info] /dev/hidraw3", "[Info] /dev/hidraw4"},
                "",
                0,
                0,
                {{0, 0}}},
        UsbCase{"5e3a,3", kTwoDevices, false, {kNone}, "", 0x5E3A, 3, {{0x5E3A, 3}}},
        UsbCase{"zz,2", kTwoDevices, false, {"[Critical] Vid is not a number!"}, "", 0, 0, {}},
        UsbCase{",2", kTwoDevices, false, {"[Critical] Vid is not a number!"}, "", 0, 0, {}},
        UsbCase{"5e3a,zz", kTwoDevices, false, {"[Critical] Pid is not a number!"}, "", 0, 0, {}},
        UsbCase{"/dev/hidraw7", kTwoDevices, true, {}, "/dev/hidraw7", 0, 0, {{0, 0}}},
        // A capital 0X is a hexadecimal prefix too, not the name of a file.
        UsbCase{"0X0002",
                kTwoDevices,
                true,
                {"[Info] Detect one usb device:  \"/dev/hidraw3\"  and connect it automatically!"},
                "/dev/hidraw3",
                0x5E3A,
                2,
                {{0x5E3A, 2}}},
        // A product ID that is not one must never widen the search to every device.
        UsbCase{"0xzz", kForeignDevice, false, {"[Critical] Pid is not a number!"}, "", 0, 0, {}},
        UsbCase{
            "0x10000", kForeignDevice, false, {"[Critical] Pid is not a number!"}, "", 0, 0, {}},
        UsbCase{"65536", kForeignDevice, false, {"[Critical] Pid is not a number!"}, "", 0, 0, {}},
        UsbCase{"0xFFFF", kForeignDevice, false, {kNone}, "", 0x5E3A, 0xFFFF, {{0x5E3A, 0xFFFF}}},
        UsbCase{"a,b,c",
                kTwoDevices,
                false,
                {"[Critical] Paramter number is incorrect!"},
                "",
                0,
                0,
                {}}));

UsbInfo board(const char* path, const char* serial, const char* location, int pid = 1) {
    UsbInfo device;
    device.devicePath = path;
    device.serialNumber = serial;
    device.location = location;
    device.vid = 0x5E3A;
    device.pid = pid;
    return device;
}

const QList<UsbInfo> kBoards{board("/dev/hidraw3", "TV5-0001", "1-2.1"),
                             board("/dev/hidraw4", "TV5-0002", "1-2.3")};
// Cheap boards share one serial number; a Bluetooth device has no port location.
const QList<UsbInfo> kTwins{board("/dev/hidraw3", "SAME", "1-2.1"),
                            board("/dev/hidraw4", "SAME", "1-2.3"), board("/dev/hidraw5", "", "")};

using Identity = ConsoleTestAccess::UsbIdentity;

struct IdentityCase {
    const char* value;
    QList<UsbInfo> boards;
    bool selected;
    QStringList lines;
    QString devicePath;
    QString serialNumber;
    QString location;
    Identity identity;
    UsbQueries queries;
};

void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << "-u '" << c.value << "'";
}

class UsbIdentityTest : public ConsoleTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(UsbIdentityTest, SelectsByPortOrSerialNumberAndRecordsTheIdentity) {
    const IdentityCase& c = GetParam();
    environment->usbEntries = c.boards;
    const bool selected = access->selectUsbDevice(QString(c.value).split(','));
    EXPECT_EQ(selected, c.selected);
    EXPECT_EQ(log->lines(), c.lines);
    EXPECT_EQ(access->usbInfo.devicePath, c.devicePath);
    EXPECT_EQ(access->usbInfo.serialNumber, c.serialNumber);
    EXPECT_EQ(access->usbInfo.location, c.location);
    EXPECT_EQ(int(access->usbIdentity), int(c.identity));
    EXPECT_EQ(environment->usbQueries, c.queries);
}

const QString kDetect3 =
    "[Info] Detect one usb device:  \"/dev/hidraw3\"  and connect it automatically!";

INSTANTIATE_TEST_SUITE_P(
    Console, UsbIdentityTest,
    ::testing::Values(
        IdentityCase{"serial:TV5-0002",
                     kBoards,
                     true,
                     {},
                     "/dev/hidraw4",
                     "TV5-0002",
                     "1-2.3",
                     Identity::SerialNumber,
                     {{0x5E3A, 0}}},
        IdentityCase{"port:1-2.1",
                     kBoards,
                     true,
                     {},
                     "/dev/hidraw3",
                     "TV5-0001",
                     "1-2.1",
                     Identity::SerialNumber,
                     {{0x5E3A, 0}}},
        IdentityCase{
            "port:1-2", kBoards, false, {kNone}, "", "", "", Identity::Path, {{0x5E3A, 0}}},
        IdentityCase{"serial:", kTwins, false, {kNone}, "", "", "", Identity::Path, {{0x5E3A, 0}}},
        IdentityCase{"serial:SAME",
                     kTwins,
                     false,
                     {kMultiple, "[Info] /dev/hidraw3", "[Info] /dev/hidraw4"},
                     "",
                     "",
                     "",
                     Identity::Path,
                     {{0x5E3A, 0}}},
        // A comma belongs to the serial number, not to a vid,pid pair.
        IdentityCase{"serial:A,B",
                     {board("/dev/hidraw9", "A,B", "")},
                     true,
                     {},
                     "/dev/hidraw9",
                     "A,B",
                     "",
                     Identity::SerialNumber,
                     {{0x5E3A, 0}}},
        // Whitespace is listed as "_", and the listed form selects too.
        IdentityCase{"serial:TV5_7",
                     {board("/dev/hidraw9", "TV5 7", "")},
                     true,
                     {},
                     "/dev/hidraw9",
                     "TV5 7",
                     "",
                     Identity::SerialNumber,
                     {{0x5E3A, 0}}},
        IdentityCase{"port:1-2.3",
                     kTwins,
                     true,
                     {},
                     "/dev/hidraw4",
                     "SAME",
                     "1-2.3",
                     Identity::Location,
                     {{0x5E3A, 0}}},
        IdentityCase{"/dev/hidraw4",
                     kBoards,
                     true,
                     {},
                     "/dev/hidraw4",
                     "TV5-0002",
                     "1-2.3",
                     Identity::SerialNumber,
                     {{0, 0}}},
        IdentityCase{
            "/dev/hidraw5", kTwins, true, {}, "/dev/hidraw5", "", "", Identity::Path, {{0, 0}}},
        IdentityCase{
            "/dev/hidraw9", kBoards, true, {}, "/dev/hidraw9", "", "", Identity::Path, {{0, 0}}},
        IdentityCase{
            "5e3a,1",
            {board("/dev/hidraw3", "SAME", "1-2.1"), board("/dev/hidraw4", "SAME", "1-2.3", 2)},
            true,
            {},
            "/dev/hidraw3",
            "SAME",
            "1-2.1",
            Identity::SerialNumber,
            {{0x5E3A, 1}}},
        IdentityCase{"",
                     {kBoards.first()},
                     true,
                     {kDetect3},
                     "/dev/hidraw3",
                     "TV5-0001",
                     "1-2.1",
                     Identity::SerialNumber,
                     {{0x5E3A, 0}}}));

struct ListingCase {
    const char* value;  // of -u; null: no -u
    QList<SerialPortEntry> ports;
    QList<UsbInfo> boards;
    int exitStatus;
    QStringList lines;  // on standard output
    UsbQueries queries;
};

void PrintTo(const ListingCase& c, std::ostream* os) {
    *os << "-l -u '" << (c.value ? c.value : "(none)") << "'";
}

class ListingTest : public ConsoleTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ListingTest, ListsEveryCandidateAlignedForAwk) {
    const ListingCase& c = GetParam();
    environment->ports = c.ports;
    environment->usbEntries = c.boards;
    if (c.value != nullptr) {
        access->deviceType = 2;
        access->deviceParam = c.value;
    }
    access->listDevices = true;
    ::testing::internal::CaptureStdout();
    const int status = console->run();
    const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
    EXPECT_EQ(status, c.exitStatus);
    EXPECT_EQ(out.split('\n', Qt::SkipEmptyParts), c.lines);
    EXPECT_EQ(environment->usbQueries, c.queries);
}

SerialPortEntry adapter() {
    SerialPortEntry port{"ttyUSB0", "/dev/ttyUSB0"};
    port.vid = 0x0403;
    port.pid = 0x6001;
    port.serialNumber = "A50285BI";
    port.location = "1-2.1";
    return port;
}

const char* const kHeader = "KIND  DEVICE  VID:PID  SERIAL  LOCATION";

INSTANTIATE_TEST_SUITE_P(
    Console, ListingTest,
    ::testing::Values(
        ListingCase{nullptr,
                    {adapter(), {"ttyS0", "/dev/ttyS0"}},
                    {board("/dev/hidraw3", "TV5-0001", "1-2.3"), board("/dev/hidraw12", "", "")},
                    0,
                    {"KIND  DEVICE         VID:PID    SERIAL    LOCATION",
                     "uart  /dev/ttyUSB0   0403:6001  A50285BI  1-2.1",
                     "uart  /dev/ttyS0     -          -         -",
                     "hid   /dev/hidraw3   5e3a:0001  TV5-0001  1-2.3",
                     "hid   /dev/hidraw12  5e3a:0001  -         -"},
                    {{0x5E3A, 0}}},
        ListingCase{"5e3a,2",
                    {},
                    {board("/dev/hidraw3", "TV5-0001", "1-2.3"),
                     board("/dev/hidraw4", "TV5 0002", "1-2.4", 2)},
                    0,
                    {"KIND  DEVICE        VID:PID    SERIAL    LOCATION",
                     "hid   /dev/hidraw4  5e3a:0002  TV5_0002  1-2.4"},
                    {{0x5E3A, 2}}},
        ListingCase{"0x2", {}, {board("/dev/hidraw3", "", "")}, 2, {kHeader}, {{0x5E3A, 2}}},
        ListingCase{"serial:TV5-0001", {}, {}, 2, {kHeader}, {{0x5E3A, 0}}},
        ListingCase{"5e3a,zz", {}, {board("/dev/hidraw3", "", "")}, 2, {}, {}}));

}  // namespace

}  // namespace Test
}  // namespace RomCmd
