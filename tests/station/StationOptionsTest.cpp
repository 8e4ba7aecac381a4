#include <gtest/gtest.h>

#include "station/DeviceListing.h"
#include "station/StationOptions.h"

namespace RomCmd {
namespace {

struct OptionsCase {
    const char* name;
    QStringList arguments;
    bool ok;
    QString devices;  // the slots' devices, joined with "|"
    QString toolOptions;
    QString error;
};

class StationOptionsTable : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(StationOptionsTable, Parse) {
    const OptionsCase& c = GetParam();
    StationOptions options;
    QString error;
    ASSERT_EQ(StationOptions::parse(QStringList{"tarvo_station"} + c.arguments, &options, &error),
              c.ok)
        << error.toStdString();
    EXPECT_EQ(error, c.error);
    if (!c.ok) {
        return;
    }
    QStringList devices;
    for (const StationDevice& device : options.devices) {
        devices << device.text();
    }
    EXPECT_EQ(devices.join('|'), c.devices);
    EXPECT_EQ(options.toolOptions.join(' '), c.toolOptions);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StationOptionsTable,
    ::testing::Values(
        OptionsCase{"Devices",
                    {"-p", "/dev/ttyUSB0", "-u", "port:1-2.3", "--", "-r", "query-rte"},
                    true,
                    "-p /dev/ttyUSB0|-u port:1-2.3",
                    "-r query-rte",
                    ""},
        OptionsCase{"NoSeparator",
                    {"-p", "/dev/ttyUSB0", "-r", "query-rte"},
                    false,
                    "",
                    "",
                    "unknown argument \"-r\" (the tool's options go after \"--\")"},
        OptionsCase{"NothingAfterSeparator",
                    {"-p", "/dev/ttyUSB0", "--"},
                    false,
                    "",
                    "",
                    "the tool's options are missing: give them after \"--\""},
        OptionsCase{"DeviceWithoutValue",
                    {"-p", "--", "-r", "reset 0"},
                    false,
                    "",
                    "",
                    "-p needs a device: every slot names its own"},
        OptionsCase{"DeviceAmongToolOptions",
                    {"-p", "a", "--", "-u", "b", "-r", "reset 0"},
                    false,
                    "",
                    "",
                    "\"-u\" is the runner's to give: name devices before \"--\""},
        OptionsCase{"RecordAmongToolOptions",
                    {"-p", "a", "--", "--record", "x", "-r", "reset 0"},
                    false,
                    "",
                    "",
                    "\"--record\" is the runner's to give: name devices before \"--\""},
        OptionsCase{"SameDeviceTwice",
                    {"-p", "a", "-p", "a", "--", "-r", "reset 0"},
                    false,
                    "",
                    "",
                    "device \"-p a\" is named twice"},
        OptionsCase{"JobsOutOfRange",
                    {"--jobs", "0", "-p", "a", "--", "-r", "reset 0"},
                    false,
                    "",
                    "",
                    "--jobs needs a number from 1 to 256, not \"0\""}),
    [](const ::testing::TestParamInfo<OptionsCase>& info) { return std::string(info.param.name); });

struct ListingCase {
    const char* name;
    QString text;
    QStringList selectors;  // of the devices found, in order
};

class ListingTable : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingTable, Parse) {
    const ListingCase& c = GetParam();
    QStringList selectors;
    for (const ListedDevice& device : parseListing(c.text)) {
        selectors << device.kind + ' ' + device.selector();
    }
    EXPECT_EQ(selectors, c.selectors);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ListingTable,
    ::testing::Values(ListingCase{"PortBeforeSerialBeforePath",
                                  "KIND DEVICE VID:PID SERIAL LOCATION\n"
                                  "hid  /dev/hidraw3  5e3a:0001  A1  1-2.3\n"
                                  "hid  /dev/hidraw4  5e3a:0001  B2  -\n"
                                  "hid  /dev/hidraw5  5e3a:0001  -   -\n"
                                  "uart /dev/ttyUSB0  0403:6001  FT1 1-4\n",
                                  {"hid port:1-2.3", "hid serial:B2", "hid /dev/hidraw5",
                                   "uart port:1-4"}},
                      // The header, log lines and lines of another shape are not devices.
                      ListingCase{"OtherLinesSkipped",
                                  "KIND DEVICE VID:PID SERIAL LOCATION\n[Info] something else\n"
                                  "usb /dev/x 1:2 - -\nhid /dev/hidraw1 5e3a:0001 -\n",
                                  {}}),
    [](const ::testing::TestParamInfo<ListingCase>& info) { return std::string(info.param.name); });

TEST(ListedDevice, SelectorMatchesOnlyItsOwnField) {
    const ListedDevice device{"hid", "/dev/hidraw3", "5e3a:0001", "A1", "1-2.3"};
    EXPECT_TRUE(device.matches("port:1-2.3"));
    EXPECT_TRUE(device.matches("serial:A1"));
    EXPECT_TRUE(device.matches("/dev/hidraw3"));
    EXPECT_FALSE(device.matches("port:1-2"));
    EXPECT_FALSE(device.matches("serial:1-2.3"));
    const ListedDevice bare{"hid", "/dev/hidraw4", "", "", ""};
    EXPECT_FALSE(bare.matches("port:"));
    EXPECT_FALSE(bare.matches("serial:"));
}

}  // namespace
}  // namespace RomCmd
