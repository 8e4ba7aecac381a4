#include <cstring>

#include "romcmd/RteRecords.h"
#include "tests/console/ConsoleHarness.h"

namespace RomCmd {
namespace Test {

namespace {

template <typename Record>
Record zeroed() {
    Record record;
    std::memset(&record, 0, sizeof(record));
    return record;
}

RomParamInfo romParams(uint32_t version, uint32_t revision, uint8_t lifeCycle,
                       uint32_t capabilities) {
    auto info = zeroed<RomParamInfo>();
    info.romVersion = version;
    info.socRevision = revision;
    info.lifeCycle = lifeCycle;
    info.capabilities = capabilities;
    return info;
}

MemoryAttribute memory(uint8_t type, uint8_t unitShift, uint32_t unitCount) {
    auto info = zeroed<MemoryAttribute>();
    info.memoryType = type;
    info.unitShift = unitShift;
    info.memoryId = 0x20000;
    info.startAddress = 0x08000000;
    info.endAddress = 0x081FFFFF;
    info.unitCount = unitCount;
    info.pageSize = 256;
    info.sectorSize = 4096;
    info.blockSize = 65536;
    return info;
}

struct ReportCase {
    const char* name;
    int rteId;
    QVariant variant;
    QStringList lines;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.name;
}

class ReportTest : public ConsoleTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(ReportTest, PrintsTheItem) {
    const ReportCase& c = GetParam();
    invokeRteSlot(c.rteId, c.variant);
    EXPECT_EQ(log->lines(), c.lines);
}

SerialInfParam peripheral(uint32_t mask, uint32_t speed) {
    auto info = zeroed<SerialInfParam>();
    info.words = 3;
    info.periphMask = mask;
    info.speed = speed;
    return info;
}

CmdStatusInfo lastCommand(uint8_t command, uint32_t status) {
    auto info = zeroed<CmdStatusInfo>();
    info.lastCommand = command;
    info.lastStatus = status;
    return info;
}

BootStatusInfo bootStatus(uint8_t mode, uint32_t device, uint32_t status) {
    auto info = zeroed<BootStatusInfo>();
    info.bootMode = mode;
    info.bootDevice = device;
    info.bootStatus = status;
    return info;
}

const char* const kPagedMemory =
    "[Info] Memory Property: \r\nMemory identifier:  \"0x00020000\" \r\nMemory unit size:  4 "
    "Kbytes \r\nMemory start address:  \"0x08000000\" \r\nMemory end address:  \"0x081fffff\" "
    "\r\nMemory Size:  2 Mbytes";

INSTANTIATE_TEST_SUITE_P(
    Console, ReportTest,
    ::testing::Values(
        ReportCase{"RomParameters",
                   0,
                   QVariant::fromValue(romParams(0x46010203, 0x41000100, 0x05, 0x10005)),
                   {"[Info] ROM Version:  \"F1.2.3\"", "[Info] SoC Revision:  \"A0.1.0\"",
                    "[Info] SoC LifeCycle:  \"05\"", "[Info] \"Support Primary Boot\"",
                    "[Info] \"Support Serial Boot\"", "[Info] \"Support ECDSA-P256\""}},
        ReportCase{"RomParametersUntitledBits",
                   0,
                   QVariant::fromValue(romParams(0x66000100, 0x410A0B0C, 0x0A, 0x80000103)),
                   {"[Info] ROM Version:  \"f0.1.0\"", "[Info] SoC Revision:  \"A10.11.12\"",
                    "[Info] SoC LifeCycle:  \"0a\"", "[Info] \"Support Primary Boot\"",
                    "[Info] \"Support Recovery Boot\"", "[Info] \"Support Secure Boot\""}},
        ReportCase{"Uart",
                   1,
                   QVariant::fromValue(peripheral(1, 115200)),
                   {"[Info] Active peripheral: UART", "[Info] Baud Rate:  115200"}},
        ReportCase{"UsbHid",
                   1,
                   QVariant::fromValue(peripheral(16, 115200)),
                   {"[Info] Active peripheral: USB-HID"}},
        ReportCase{"OtherPeripheral", 1, QVariant::fromValue(peripheral(17, 115200)), {}},
        ReportCase{"LastCommandErase",
                   2,
                   QVariant::fromValue(lastCommand(7, 1001013)),
                   {"[Info] Last Command Status Info: \r\nLast Command:  \"erase\" \r\nLast "
                    "Command Status:  1001013"}},
        ReportCase{"LastCommandConfigure",
                   2,
                   QVariant::fromValue(lastCommand(3, 0)),
                   {"[Info] Last Command Status Info: \r\nLast Command:  \"configure-memory\" "
                    "\r\nLast Command Status:  0"}},
        ReportCase{"LastCommandZero",
                   2,
                   QVariant::fromValue(lastCommand(0, 0)),
                   {"[Info] Last Command Status Info: \r\nLast Command:  \"Unknown command\" "
                    "\r\nLast Command Status:  0"}},
        ReportCase{"LastCommandTwelve",
                   2,
                   QVariant::fromValue(lastCommand(12, 4294967295u)),
                   {"[Info] Last Command Status Info: \r\nLast Command:  \"Unknown command\" "
                    "\r\nLast Command Status:  4294967295"}},
        ReportCase{"BootStatus",
                   3,
                   QVariant::fromValue(bootStatus(200, 3, 4000000000u)),
                   {"[Info] Last Boot Status Info: \r\nboot mode:  200 \r\nboot device:  3 "
                    "\r\nboot status:  4000000000"}},
        ReportCase{"PagedMemory",
                   4,
                   QVariant::fromValue(memory(8, 12, 512)),
                   {kPagedMemory,
                    "[Info] Page Size:  256 bytes \r\nSector Size:  4 Kbytes \r\nBlock Size:  64 "
                    "Kbytes"}},
        ReportCase{
            "OtherMemory", 4, QVariant::fromValue(memory(1, 12 | 0xE0, 512)), {kPagedMemory}},
        ReportCase{"SmallMemory",
                   4,
                   QVariant::fromValue(memory(1, 0, 1536)),
                   {"[Info] Memory Property: \r\nMemory identifier:  \"0x00020000\" \r\nMemory "
                    "unit size:  1 bytes \r\nMemory start address:  \"0x08000000\" \r\nMemory end "
                    "address:  \"0x081fffff\" \r\nMemory Size:  1.50 Kbytes"}},
        ReportCase{"WrongVariantReadsAsZeros",
                   4,
                   QVariant(QStringLiteral("not a record")),
                   {"[Info] Memory Property: \r\nMemory identifier:  \"0x00000000\" \r\nMemory "
                    "unit size:  1 bytes \r\nMemory start address:  \"0x00000000\" \r\nMemory end "
                    "address:  \"0x00000000\" \r\nMemory Size:  0 bytes"}},
        ReportCase{"SupportedCommands",
                   5,
                   QVariant(uint(0x7FE)),
                   {"[Info] Supported commands:\r\nquery-rte\r\nconfig-memory\r\nwrite-memory\r\n"
                    "read-memory\r\nload-image\r\nload-blfw\r\nerase-region\r\nerase-chip\r\n"
                    "reset\r\nverify-checksum"}},
        ReportCase{"SupportedCommandsAllBits",
                   5,
                   QVariant(uint(0xFFFFFFFF)),
                   {"[Info] Supported commands:\r\nquery-rte\r\nconfig-memory\r\nwrite-memory\r\n"
                    "read-memory\r\nload-image\r\nload-blfw\r\nerase-region\r\nerase-chip\r\n"
                    "reset\r\nverify-checksum"}},
        ReportCase{"SupportedCommandsUnexamined",
                   5,
                   QVariant(uint(0xFFFFFA05)),
                   {"[Info] Supported commands:\r\n"}},
        ReportCase{"SupportedCommandsFew",
                   5,
                   QVariant(uint(0x102)),
                   {"[Info] Supported commands:\r\nquery-rte\r\nreset"}},
        ReportCase{"UnknownItem", 6, QVariant(uint(0xFFFFFFFF)), {}}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

TEST_F(ConsoleTest, MemoryReportKeepsTheSizeInMegabytes) {
    const struct {
        MemoryAttribute attribute;
        uint64_t megabytes;
    } cases[] = {{memory(8, 12, 512), 2},
                 {memory(1, 12, 256), 1},
                 {memory(1, 0, 1536), 0},
                 {memory(1, 20, 4095), 4095},
                 {memory(1, 31, 2), 0} /* 32-bit product wraps to 0 */};
    for (const auto& c : cases) {
        access->memorySizeMb = 99;
        invokeRteSlot(4, QVariant::fromValue(c.attribute));
        EXPECT_EQ(access->memorySizeMb, c.megabytes) << int(c.attribute.unitShift);
    }
}

TEST_F(ConsoleTest, RomVersionTellsWhetherFirmwareRuns) {
    const struct {
        bool loadFirmware;
        uint32_t version;
        int32_t before;
        int32_t after;
    } cases[] = {{true, 0x46010203, 0, 1},
                 {true, 0x66010203, 0, 1},
                 {true, 0x56010203, 1, 0},
                 {false, 0x46010203, 0, 0},
                 {false, 0x56010203, 1, 1}};
    for (const auto& c : cases) {
        access->loadFirmware = c.loadFirmware;
        access->firmwareLoaded = c.before;
        invokeRteSlot(0, QVariant::fromValue(romParams(c.version, 0, 0, 0)));
        EXPECT_EQ(access->firmwareLoaded, c.after) << std::hex << c.version;
    }
}

TEST_F(ConsoleTest, FormatSizePicksTheUnit) {
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {{0, "0 bytes"},
                 {1023, "1023 bytes"},
                 {1024, "1 Kbytes"},
                 {1536, "1.50 Kbytes"},
                 {1048575, "1024.00 Kbytes"},
                 {1048576, "1 Mbytes"},
                 {1572864, "1.50 Mbytes"},
                 {1073741824, "1 Gbytes"},
                 {4294967296ull, "4 Gbytes"},
                 {6442450944ull, "6 Gbytes"},
                 {5368709121ull, "5.00 Gbytes"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ConsoleTestAccess::formatSize(c.bytes), QString(c.text)) << c.bytes;
    }
}

TEST_F(ConsoleTest, DumpPrintsSixteenBytesPerLine) {
    QByteArray twenty;
    for (int i = 0; i < 20; ++i) {
        twenty.append(char(0xF0 + i));
    }
    invokeDumpSlot(twenty);
    EXPECT_EQ(log->lines(),
              QStringList({"[Info] \"f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \"",
                           "[Info] \"00 01 02 03 \""}));

    log->clear();
    QByteArray block;
    for (int i = 0; i < 512; ++i) {
        block.append(char(i));
    }
    invokeDumpSlot(block);
    const QStringList lines = log->lines();
    ASSERT_EQ(lines.size(), 32);
    EXPECT_EQ(lines.first(), "[Info] \"00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \"");
    EXPECT_EQ(lines.at(16), "[Info] \"00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \"");
    EXPECT_EQ(lines.last(), "[Info] \"f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \"");

    log->clear();
    invokeDumpSlot(QByteArray());
    EXPECT_EQ(log->lines(), QStringList());
}

TEST_F(ConsoleTest, ProgressLinesCarryLabelProgressAndTotal) {
    const struct {
        const char* slot;
        const char* line;
    } cases[] = {
        {"slotMemory2FileReadProgress", "[Info] Read Memory to File.  Progress:  512  Total:  -3"},
        {"slotMemoryWriteProgress", "[Info] Write Memory.  Progress:  512  Total:  -3"},
        {"slotFile2MemoryWriteProgress",
         "[Info] Write File to Memory.  Progress:  512  Total:  -3"},
        {"slotImageLoadProgress", "[Info] Load Image.  Progress:  512  Total:  -3"},
    };
    for (const auto& c : cases) {
        log->clear();
        invokeProgressSlot(c.slot, -3, 512);
        EXPECT_EQ(log->lines(), QStringList{c.line}) << c.slot;
    }
}

}  // namespace

}  // namespace Test
}  // namespace RomCmd
