#include <gtest/gtest.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "app/Options.h"
#include "console/RomConsoleMode.h"
#include "tests/common/LogCapture.h"
#include "tests/console/ConsoleTestAccess.h"

namespace RomCmd {
namespace {

QString joined(const QStringList& list) {
    QStringList quoted;
    for (const QString& item : list) {
        quoted.append('<' + item + '>');
    }
    return quoted.join(' ');
}

struct PreprocessCase {
    const char* name;
    QStringList input;
    QStringList expected;
};

class PreprocessTest : public ::testing::TestWithParam<PreprocessCase> {};

TEST_P(PreprocessTest, InsertsEmptyValueOnlyWhereNeeded) {
    const PreprocessCase& c = GetParam();
    EXPECT_EQ(joined(preprocessArguments(c.input)).toStdString(), joined(c.expected).toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PreprocessTest,
    ::testing::Values(PreprocessCase{"PortBeforeOption",
                                     {"tool", "-p", "-r", "query-rte"},
                                     {"tool", "-p", "", "-r", "query-rte"}},
                      PreprocessCase{"UsbBeforeOption",
                                     {"tool", "-u", "-r", "reset 0"},
                                     {"tool", "-u", "", "-r", "reset 0"}},
                      PreprocessCase{"UsbNumberKept",
                                     {"tool", "-u", "1234", "-r", "reset"},
                                     {"tool", "-u", "1234", "-r", "reset"}},
                      PreprocessCase{"DashInsideValueIsAValue",
                                     {"tool", "-p", "/dev/serial/by-id/usb-Tarvo-if00-port0", "-u",
                                      "/dev/tarvo-station3", "-r", "reset 0"},
                                     {"tool", "-p", "/dev/serial/by-id/usb-Tarvo-if00-port0", "-u",
                                      "/dev/tarvo-station3", "-r", "reset 0"}},
                      PreprocessCase{"PortLastIsLeftForTheParser",
                                     {"tool", "-r", "query-rte", "-p"},
                                     {"tool", "-r", "query-rte", "-p"}},
                      PreprocessCase{"OnlyFirstPlaceMended",
                                     {"tool", "-p", "-u", "-r", "x"},
                                     {"tool", "-p", "", "-u", "-r", "x"}},
                      PreprocessCase{"LaterPlaceFoundAfterGoodValue",
                                     {"tool", "-p", "COM3", "-u", "-r", "x"},
                                     {"tool", "-p", "COM3", "-u", "", "-r", "x"}},
                      PreprocessCase{"LongFormsUntouched",
                                     {"tool", "--port", "-r", "x", "--usb", "-t"},
                                     {"tool", "--port", "-r", "x", "--usb", "-t"}},
                      PreprocessCase{"OtherOptionsUntouched",
                                     {"tool", "-t", "-5", "-r", "read-memory 1 0x8000 -1"},
                                     {"tool", "-t", "-5", "-r", "read-memory 1 0x8000 -1"}},
                      PreprocessCase{"CompactFormUntouched",
                                     {"tool", "-pCOM3", "-r", "x"},
                                     {"tool", "-pCOM3", "-r", "x"}},
                      PreprocessCase{"ValueAfterCommandText",
                                     {"tool", "-r", "query-rte", "-p", "a-b", "-u", "-t", "5"},
                                     {"tool", "-r", "query-rte", "-p", "a-b", "-u", "", "-t", "5"}},
                      PreprocessCase{"Empty", {}, {}},
                      PreprocessCase{"ProgramOnly", {"tool"}, {"tool"}}),
    [](const ::testing::TestParamInfo<PreprocessCase>& info) { return info.param.name; });

struct ConstructionCase {
    const char* name;
    QStringList arguments;  // after the program name
    int consoleType;
    int deviceType;
    QString deviceParam;
    uint64_t timeout;
    bool loadFirmware;
    QString firmwarePath;  // "@" stands for the application folder
    QStringList commands;
    bool timeoutWarning;
};

class ConstructionTest : public ::testing::TestWithParam<ConstructionCase> {};

TEST_P(ConstructionTest, EvaluatesOptionsIntoFields) {
    const ConstructionCase& c = GetParam();
    QCommandLineParser parser;
    addOptions(parser);
    ASSERT_TRUE(parser.parse(preprocessArguments(QStringList{"tool"} + c.arguments)))
        << parser.errorText().toStdString();

    ::RomCmd::Test::LogCapture capture;
    RomConsoleMode console(parser);
    ConsoleTestAccess access(console);

    EXPECT_EQ(access.consoleType, c.consoleType);
    EXPECT_EQ(access.deviceType, c.deviceType);
    EXPECT_EQ(access.deviceParam.toStdString(), c.deviceParam.toStdString());
    EXPECT_EQ(access.timeout, c.timeout);
    EXPECT_EQ(access.loadFirmware, c.loadFirmware);
    QString expectedPath = c.firmwarePath;
    expectedPath.replace('@', QCoreApplication::applicationDirPath());
    EXPECT_EQ(access.firmwarePath.toStdString(), expectedPath.toStdString());
    EXPECT_EQ(joined(access.commandList).toStdString(), joined(c.commands).toStdString());
    const int warning = ::RomCmd::Test::LogCapture::find(
        QtWarningMsg, "timeout value format error, default timeout value will be used.");
    EXPECT_EQ(warning >= 0, c.timeoutWarning);

    // Fields no option sets start from the same values in every mode.
    EXPECT_EQ(access.romCmd, nullptr);
    EXPECT_EQ(access.memorySizeMb, 0u);
    EXPECT_EQ(access.firmwareAttempts, 0);
    EXPECT_EQ(access.firmwareLoaded, 0);
    EXPECT_TRUE(access.serialParam.portName.isEmpty());
    EXPECT_EQ(access.serialParam.baudRate, 115200);
    EXPECT_EQ(access.serialParam.dataBits, 8);
    EXPECT_EQ(access.serialParam.parity, 0);
    EXPECT_EQ(access.serialParam.stopBits, 1);
    EXPECT_EQ(access.serialParam.flowControl, 0);
    EXPECT_TRUE(access.usbInfo.devicePath.isEmpty());
    EXPECT_EQ(access.usbInfo.reservedValue, 0);
}

const char kSignedTv[] = "@/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_signed.bin";
const char kUnsignedTv[] = "@/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_unsigned.bin";

INSTANTIATE_TEST_SUITE_P(
    Options, ConstructionTest,
    ::testing::Values(
        ConstructionCase{"NoOptions", {}, 0, 0, "", 0, false, "", {}, false},
        ConstructionCase{"Port", {"-p", "COM3"}, 0, 1, "COM3", 0, false, "", {}, false},
        ConstructionCase{
            "PortLongForm", {"--port=a-b,9600"}, 0, 1, "a-b,9600", 0, false, "", {}, false},
        ConstructionCase{"PortEmptyBeforeRun",
                         {"-p", "-r", "query-rte"},
                         0,
                         1,
                         "",
                         0,
                         false,
                         "",
                         {"query-rte"},
                         false},
        ConstructionCase{"Usb", {"-u", "0x5E3A,2"}, 0, 2, "0x5E3A,2", 0, false, "", {}, false},
        ConstructionCase{
            "PortWinsOverUsb", {"-u", "2", "-p", "COM3"}, 0, 1, "COM3", 0, false, "", {}, false},
        ConstructionCase{"TimeoutZero", {"-p", "x", "-t", "0"}, 0, 1, "x", 0, false, "", {}, false},
        ConstructionCase{
            "Timeout", {"-p", "x", "-t", "2500"}, 0, 1, "x", 2500, false, "", {}, false},
        ConstructionCase{"TimeoutLargest",
                         {"-p", "x", "-t", "4294967295"},
                         0,
                         1,
                         "x",
                         4294967295u,
                         false,
                         "",
                         {},
                         false},
        ConstructionCase{
            "TimeoutTooLarge", {"-p", "x", "-t", "4294967296"}, 0, 1, "x", 0, false, "", {}, true},
        ConstructionCase{
            "TimeoutWithUnit", {"-p", "x", "-t", "10s"}, 0, 1, "x", 0, false, "", {}, true},
        ConstructionCase{
            "TimeoutHex", {"-p", "x", "-t", "0x10"}, 0, 1, "x", 0, false, "", {}, true},
        ConstructionCase{
            "TimeoutNegative", {"-p", "x", "-t", "-5"}, 0, 1, "x", 0, false, "", {}, true},
        ConstructionCase{"TimeoutEmpty", {"-p", "x", "-t", ""}, 0, 1, "x", 0, false, "", {}, true},
        ConstructionCase{"TimeoutWithoutDevice", {"-t", "bad"}, 0, 0, "", 0, false, "", {}, true},
        ConstructionCase{"FirmwareSigned",
                         {"-p", "x", "-f", "tv5100,1"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         kSignedTv,
                         {},
                         false},
        ConstructionCase{"FirmwareSelectorLeadingZero",
                         {"-p", "x", "-f", "TV5100,01"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         kSignedTv,
                         {},
                         false},
        ConstructionCase{"FirmwareUnsigned",
                         {"-p", "x", "-f", "tv5200,0"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         kUnsignedTv,
                         {},
                         false},
        ConstructionCase{"FirmwareSelectorNotNumber",
                         {"-p", "x", "-f", "tv5200,x"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         kUnsignedTv,
                         {},
                         false},
        ConstructionCase{"FirmwareSelectorTwo",
                         {"-p", "x", "-f", "tv5200,2"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         kUnsignedTv,
                         {},
                         false},
        ConstructionCase{"FirmwareSelectorEmpty",
                         {"-p", "x", "-f", "tv5200,"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         kUnsignedTv,
                         {},
                         false},
        ConstructionCase{"FirmwareSeriesInsideText",
                         {"-p", "x", "-f", "tv5200evk,1"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         kSignedTv,
                         {},
                         false},
        ConstructionCase{"FirmwareUnknownSeries",
                         {"-p", "x", "-f", "abc,1"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         "@/bl_fw/ABC/abc_blfw_signed.bin",
                         {},
                         false},
        ConstructionCase{"FirmwareCustomPath",
                         {"-p", "x", "-f", "/opt/fw/My.bin"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         "/opt/fw/My.bin",
                         {},
                         false},
        ConstructionCase{"FirmwareThreeFields",
                         {"-p", "x", "-f", "tv5100,1,2"},
                         0,
                         1,
                         "x",
                         0,
                         true,
                         "",
                         {},
                         false},
        ConstructionCase{"FirmwareEmpty", {"-p", "x", "-f", ""}, 0, 1, "x", 0, true, "", {}, false},
        ConstructionCase{"CommandsInOrder",
                         {"-r", "query-rte", "-p", "x", "--run", "reset  0", "-r", ""},
                         0,
                         1,
                         "x",
                         0,
                         false,
                         "",
                         {"query-rte", "reset  0", ""},
                         false},
        ConstructionCase{"ImageModeIgnoresTheRest",
                         {"-i", "-p", "COM3", "-u", "2", "-t", "10s", "-f", "tv5100,1", "-r",
                          "create-image a.json", "-r", "second"},
                         1,
                         0,
                         "",
                         0,
                         false,
                         "",
                         {"create-image a.json", "second"},
                         false}),
    [](const ::testing::TestParamInfo<ConstructionCase>& info) { return info.param.name; });

}  // namespace
}  // namespace RomCmd
