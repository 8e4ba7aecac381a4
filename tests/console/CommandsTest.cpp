#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstring>

#include "romcmd/RteRecords.h"
#include "tests/common/ToolRun.h"
#include "tests/console/ConsoleHarness.h"

namespace RomCmd {
namespace Test {

namespace {

QByteArray memoryRecord(uint8_t unitShift, uint32_t unitCount) {
    MemoryAttribute attribute;
    std::memset(&attribute, 0, sizeof(attribute));
    attribute.memoryType = 1;
    attribute.unitShift = unitShift;
    attribute.memoryId = 1;
    attribute.unitCount = unitCount;
    return QByteArray(reinterpret_cast<const char*>(&attribute), sizeof(attribute));
}

QStringList firstBytes(const QList<QByteArray>& packets) {
    QStringList codes;
    for (const QByteArray& packet : packets) {
        codes.append(hex(packet.left(1)));
    }
    return codes;
}

QStringList packetsHex(const QList<QByteArray>& packets) {
    QStringList texts;
    for (const QByteArray& packet : packets) {
        texts.append(hex(packet));
    }
    return texts;
}

// Parameter rules: each case fails in the handler (or the dispatcher) before the command
// itself reaches the device.
struct RuleCase {
    const char* command;
    QStringList criticals;
    QStringList sentCodes;  // first byte of each packet; only the query ahead of an erase
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << "'" << c.command << "'";
}

class ParameterRuleTest : public ConsoleTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(ParameterRuleTest, ReportsTheFirstBadParameter) {
    const RuleCase& c = GetParam();
    EXPECT_FALSE(dispatch(c.command));
    const QStringList lines = log->lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), QString("[Info] Run command:  \"%1\"").arg(c.command));
    EXPECT_EQ(log->lines("[Critical]"), c.criticals);
    EXPECT_EQ(firstBytes(rom->written), c.sentCodes);
}

const char* const kCount = "[Critical] Number of parameter is incorrect!";
const char* const kQueryNotNumber = "[Critical] Parameter is not a number!";

INSTANTIATE_TEST_SUITE_P(
    Console, ParameterRuleTest,
    ::testing::Values(
        RuleCase{"", {"[Critical] Number of command parameter is zero!"}, {}},
        RuleCase{"   ", {"[Critical] Number of command parameter is zero!"}, {}},
        RuleCase{"Reset 0", {"[Critical] Command is not exist!  Command:  \"Reset\""}, {}},
        RuleCase{
            "unknown command", {"[Critical] Command is not exist!  Command:  \"unknown\""}, {}},
        RuleCase{"query-rte 0x4", {kQueryNotNumber}, {}},
        RuleCase{"query-rte x 10", {kQueryNotNumber}, {}},
        RuleCase{"query-rte 4 zz", {kQueryNotNumber}, {}}, RuleCase{"config-rte 1", {kCount}, {}},
        RuleCase{"config-rte 1 115200 3", {kCount}, {}},
        RuleCase{
            "config-rte zz 115200", {"[Critical] Parameter 'PeripheralMask' is not a number!"}, {}},
        RuleCase{"config-rte 1 0x10", {"[Critical] Parameter 'BaudRate' is not a number!"}, {}},
        RuleCase{"reset", {kCount}, {}}, RuleCase{"reset 0 1", {kCount}, {}},
        RuleCase{"reset soft", {"[Critical] Parameter 'ResetType' is not a number!"}, {}},
        RuleCase{"config-memory 1 2000 3", {kCount}, {}}, RuleCase{"config-memory 1", {kCount}, {}},
        RuleCase{"config-memory x 2000", {"[Critical] Parameter 'MemoryId' is not a number!"}, {}},
        RuleCase{"config-memory 1 2000z", {"[Critical] Parameter 'Address' is not a number!"}, {}},
        RuleCase{"read-memory 1 0", {kCount}, {}},
        RuleCase{"read-memory g 0 4", {"[Critical] Parameter 'Memory' is not a number!"}, {}},
        RuleCase{"read-memory 1 q 4", {"[Critical] Parameter 'Address' is not a number!"}, {}},
        RuleCase{"read-memory 1 0 4g", {"[Critical] Parameter 'Length' is not a number!"}, {}},
        RuleCase{"write-memory 1 0", {kCount}, {}},
        RuleCase{"write-memory 1 0 [[1]] x", {kCount}, {}},
        RuleCase{"write-memory z 0 [[1]]", {"[Critical] Parameter 'Memory' is not a number!"}, {}},
        RuleCase{"write-memory 1 z [[1]]", {"[Critical] Parameter 'Address' is not a number!"}, {}},
        RuleCase{"write-memory 1 0 [[1,zz]]",
                 {"[Critical] Parameter is not a number! value:  \"zz\""},
                 {}},
        RuleCase{
            "write-memory 1 0 [[]]", {"[Critical] Parameter is not a number! value:  \"\""}, {}},
        RuleCase{"write-memory 1 0 [[1,,2]]",
                 {"[Critical] Parameter is not a number! value:  \"\""},
                 {}},
        RuleCase{"write-memory 1 0 [[1,2",
                 {"[Critical] Parameter 'path' is not exist!  Path:  \"[[1,2\""},
                 {}},
        RuleCase{"write-memory 1 0 /no/such/file",
                 {"[Critical] Parameter 'path' is not exist!  Path:  \"/no/such/file\""},
                 {}},
        RuleCase{"verify-checksum 1 0", {kCount}, {}},
        RuleCase{
            "verify-checksum z 0 [[1]]", {"[Critical] Parameter 'Memory' is not a number!"}, {}},
        RuleCase{
            "verify-checksum 1 z [[1]]", {"[Critical] Parameter 'Address' is not a number!"}, {}},
        RuleCase{"verify-checksum 1 0 [[1,,2]]",
                 {"[Critical] Parameter is not a number! value:  \"\""},
                 {}},
        RuleCase{"verify-checksum 1 0 /no/such/file",
                 {"[Critical] Parameter 'path' is not exist!  Path:  \"/no/such/file\""},
                 {}},
        RuleCase{"erase-chip", {kCount}, {}}, RuleCase{"erase-region", {kCount}, {}},
        RuleCase{"erase-chip 1 2", {kCount}, {"01"}},
        RuleCase{"erase-chip q",
                 {kQueryNotNumber, "[Critical] Parameter 'MemoryId' is not a number!"},
                 {}},
        RuleCase{"erase-region 1 0", {kCount}, {"01"}},
        RuleCase{"erase-region x 0 10",
                 {kQueryNotNumber, "[Critical] Parameter 'MemoryId' is not a number!"},
                 {}},
        RuleCase{
            "erase-region 1 y 10", {"[Critical] Parameter 'Address' is not a number!"}, {"01"}},
        RuleCase{"erase-region 1 0 1x", {"[Critical] Parameter 'Length' is not a number!"}, {"01"}},
        RuleCase{"load-image", {kCount}, {}}, RuleCase{"load-image a b", {kCount}, {}},
        RuleCase{"load-image /no/such/image",
                 {"[Critical] File is not exist!  File Path: \"/no/such/image\""},
                 {}}));

TEST_F(ConsoleTest, TokensDropEveryBlankRun) {
    const struct {
        const char* text;
        QStringList tokens;
    } cases[] = {{"  reset   0 ", {"reset", "0"}},
                 {"read-memory 1 0 10", {"read-memory", "1", "0", "10"}},
                 {"", {}},
                 {"    ", {}},
                 {"a\tb", {"a\tb"}}};
    for (const auto& c : cases) {
        EXPECT_EQ(ConsoleTestAccess::splitTokens(c.text), c.tokens) << c.text;
    }
}

// Successful commands: the exact payloads that reach the device.
struct SendCase {
    const char* command;
    QStringList packets;
};

void PrintTo(const SendCase& c, std::ostream* os) {
    *os << "'" << c.command << "'";
}

class CommandPayloadTest : public ConsoleTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(CommandPayloadTest, SendsThePayload) {
    const SendCase& c = GetParam();
    EXPECT_TRUE(dispatch(c.command));
    EXPECT_EQ(packetsHex(rom->written), c.packets);
    EXPECT_EQ(log->lines("[Critical]"), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Console, CommandPayloadTest,
    ::testing::Values(
        SendCase{"query-rte", {"01 01 00 00 00 00 00 00"}},
        SendCase{"query-rte 1 2 3", {"01 01 00 00 00 00 00 00"}},
        SendCase{"query-rte 2", {"01 01 00 00 02 00 00 00"}},
        SendCase{"query-rte 4 10", {"01 02 00 00 04 00 00 00 10 00 00 00"}},
        SendCase{"config-rte 10 115200",
                 {"02 04 00 00 01 00 00 00 03 00 00 00 10 00 00 00 00 c2 01 00"}},
        SendCase{"config-rte 0x10 115200",
                 {"02 04 00 00 01 00 00 00 03 00 00 00 10 00 00 00 00 c2 01 00"}},
        SendCase{"config-memory 1 0x2000", {"03 02 02 00 01 00 00 00 00 20 00 00"}},
        SendCase{"reset 0", {"08 01 00 00 00 00 00 00"}},
        SendCase{"  reset   0 ", {"08 01 00 00 00 00 00 00"}},
        SendCase{"reset 4294967295", {"08 01 00 00 ff ff ff ff"}},
        SendCase{"gen-keyblob 1 2 3", {}},
        SendCase{"write-memory 0 20000000 [[1,2,0x3]]",
                 {"04 03 00 00 00 00 00 20 0c 00 00 00 00 00 00 00 01 00 00 00 02 00 00 00 03 00 "
                  "00 00"}},
        SendCase{"write-memory 1 0 [[FFFFFFFF]]",
                 {"04 03 00 00 00 00 00 00 04 00 00 00 01 00 00 00 ff ff ff ff"}},
        SendCase{"erase-chip 1",
                 {"01 02 00 00 04 00 00 00 01 00 00 00", "07 02 00 00 01 00 00 00 01 00 00 00"}},
        SendCase{"erase-region 20000 0x100 1000",
                 {"01 02 00 00 04 00 00 00 00 00 02 00",
                  "07 04 00 00 00 00 00 00 00 00 02 00 00 01 00 00 e8 03 00 00"}},
        SendCase{"erase-region 1 0 1F",
                 {"01 02 00 00 04 00 00 00 01 00 00 00",
                  "07 04 00 00 00 00 00 00 01 00 00 00 00 00 00 00 1f 00 00 00"}}));

TEST_F(ConsoleTest, VerifyChecksumSendsTheDigestOfTheWords) {
    EXPECT_TRUE(dispatch("verify-checksum 1 80000000 [[1,2]]"));
    const QByteArray data = QByteArray::fromHex("0100000002000000");
    const QByteArray expected = QByteArray::fromHex(
                                    "0a0d000000000080080000000100000001000000"
                                    "20000000") +
                                QCryptographicHash::hash(data, QCryptographicHash::Sha256);
    ASSERT_EQ(rom->written.size(), 1);
    EXPECT_EQ(hex(rom->written.first()), hex(expected));
}

TEST_F(ConsoleTest, LongWordArrayIsSentWhole) {
    QStringList words;
    for (int i = 0; i < 275; ++i) {
        words.append(QString::number(i, 16));
    }
    EXPECT_TRUE(dispatch(QString("write-memory 0 0 [[%1]]").arg(words.join(','))));
    ASSERT_EQ(rom->written.size(), 3);
    // 1100 bytes: 16 + 496, 4 + 508, 4 + 96
    EXPECT_EQ(hex(rom->written.at(0).left(16)), "04 03 00 00 00 00 00 00 4c 04 00 00 00 00 00 00");
    EXPECT_EQ(rom->written.at(2).size(), 100);
    EXPECT_EQ(hex(rom->written.at(2).right(4)), "12 01 00 00");
    EXPECT_EQ(log->lines("[Info] Write Memory."),
              QStringList({"[Info] Write Memory.  Progress:  496  Total:  1100",
                           "[Info] Write Memory.  Progress:  1004  Total:  1100",
                           "[Info] Write Memory.  Progress:  1100  Total:  1100"}));
}

// Engine failures: the handler's one line with its parameters, status and message text.
struct FailureCase {
    const char* command;
    QList<int> writeResults;
    QString critical;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << "'" << c.command << "'";
}

class EngineFailureTest : public ConsoleTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EngineFailureTest, NamesParametersStatusAndMessage) {
    const FailureCase& c = GetParam();
    rom->writeResults = c.writeResults;
    EXPECT_FALSE(dispatch(c.command));
    const QStringList criticals = log->lines("[Critical]");
    ASSERT_FALSE(criticals.isEmpty());
    EXPECT_EQ(criticals.last(), c.critical);
}

INSTANTIATE_TEST_SUITE_P(
    Console, EngineFailureTest,
    ::testing::Values(
        FailureCase{"reset 0",
                    {4},
                    "[Critical] Reset failed!  resetType:  0  status:  4  message:  \"TimeOut\""},
        FailureCase{"config-rte 10 115200",
                    {1},
                    "[Critical] ConfigRTE failed!  peripheral:  16  baudRate:  115200  status:  "
                    "1  message:  \"NAK\""},
        FailureCase{"query-rte 4 10",
                    {4},
                    "[Critical] QueryRTE failed!  rteId:  4  arg:  16  status:  4  message:  "
                    "\"TimeOut\""},
        FailureCase{"config-memory 1 2000",
                    {6},
                    "[Critical] Config Memory failed!  memoryId:  1  address:  8192  status:  6  "
                    "message:  \"Write header failed\""},
        FailureCase{"read-memory 1 80000000 10",
                    {4},
                    "[Critical] Read Memory failed!  memoryId:  1  address:  2147483648  length:  "
                    "10  status:  4  message:  \"TimeOut\""},
        FailureCase{"read-memory 1 0 0x10 /no/such/dir/out.bin extra",
                    {4},
                    "[Critical] Read Memory failed!  memoryId:  1  address:  0  length:  16  "
                    "filePath:  \"/no/such/dir/out.bin\"  status:  4  message:  \"TimeOut\""},
        FailureCase{"write-memory 0 20000000 [[1,2,0x3]]",
                    {4},
                    "[Critical] Write memory failed!  memoryId:  0  address:  536870912  buffer:  "
                    "\"1,2,0x3\"  status:  4  message:  \"TimeOut\""},
        FailureCase{"verify-checksum 0 20000000 [[1,2,0x3]]",
                    {4},
                    "[Critical] Verify checksum failed!  memoryId:  0  address:  536870912  "
                    "buffer:  \"1,2,0x3\"  status:  4  message:  \"TimeOut\""},
        FailureCase{"erase-chip 1",
                    {0, 4},
                    "[Critical] Erase all failed!  memoryId:  1  status:  4  message:  "
                    "\"TimeOut\""},
        FailureCase{"erase-region 1 0 1000",
                    {0, 4},
                    "[Critical] Erase all failed!  memoryId:  1  address:  0  length:  1000  "
                    "status:  4  message:  \"TimeOut\""}));

TEST_F(ConsoleTest, StatusTextFollowsTheResultTable) {
    const struct {
        int code;
        const char* text;
    } cases[] = {{0, "OK"},
                 {4, "TimeOut"},
                 {16, "Set timeout failed"},
                 {17, "Command execute failed, check the log file to get more details."},
                 {19, "Command is disallowed by ROM, check whether life cycle is in secure mode!"},
                 {20, "Interrupted"},
                 {21, ""},
                 {-1, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(RomConsoleMode::statusText(c.code), QString(c.text)) << c.code;
    }
}

TEST_F(ConsoleTest, ParseNumberTriesDecimalThenHexadecimal) {
    const struct {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {{"10", true, 10},
                 {"0x10", true, 16},
                 {"1F", true, 31},
                 {"1f", true, 31},
                 {"0", true, 0},
                 {"4294967295", true, 0xFFFFFFFF},
                 {"FFFFFFFF", true, 0xFFFFFFFF},
                 {"4294967296", false, 0},
                 {"100000000", true, 100000000},
                 {"1g", false, 0},
                 {"", false, 0},
                 {"-1", false, 0},
                 {"0x", false, 0}};
    for (const auto& c : cases) {
        bool ok = !c.ok;
        const uint32_t value = RomConsoleMode::parseNumber(c.text, &ok);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST_F(ConsoleTest, EraseTimeOutComesFromTheReportedSize) {
    const struct {
        QList<int> writeResults;
        QByteArray record;
        const char* flashLine;
        QList<int> timeouts;
    } cases[] = {
        // 2 Mbytes: 20 s for the erase, then back to the default.
        {{}, memoryRecord(12, 512), "[Info] current flash size:  2 Mbytes", {20000, 10000}},
        // Below 1 Mbyte: no time-out of its own.
        {{}, memoryRecord(0, 1536), "[Info] current flash size:  0 Mbytes", {}},
        // The query fails: the erase still runs, with nothing to go on.
        {{4}, memoryRecord(12, 512), "[Info] current flash size:  0 Mbytes", {}},
    };
    for (const auto& c : cases) {
        for (const char* command : {"erase-chip 1", "erase-region 1 0 1000"}) {
            TearDown();
            SetUp();
            rom->writeResults = c.writeResults;
            rom->rteRecords[4] = c.record;
            access->memorySizeMb = 7;
            EXPECT_TRUE(dispatch(command)) << command;
            EXPECT_EQ(log->lines("[Info] current flash size"), QStringList{c.flashLine}) << command;
            EXPECT_EQ(rom->timeouts, c.timeouts) << command;
            ASSERT_EQ(rom->written.size(), 2) << command;
            EXPECT_EQ(hex(rom->written.last().left(1)), "07") << command;
        }
    }
}

TEST_F(ConsoleTest, EraseWithoutMemoryIdAsksNothing) {
    access->memorySizeMb = 3;
    EXPECT_FALSE(dispatch("erase-chip"));
    EXPECT_EQ(access->memorySizeMb, 0u);
    EXPECT_TRUE(rom->written.isEmpty());
}

TEST_F(ConsoleTest, ReadMemoryDumpsWhatArrives) {
    const struct {
        const char* command;
        QString lengthParameter;
        QByteArray data;
        QStringList lines;
    } cases[] = {
        {"read-memory 1 0 20",
         "14 00 00 00",
         QByteArray::fromHex("000102030405060708090a0b0c0d0e0f10111213"),
         {"[Info] \"00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \"",
          "[Info] \"10 11 12 13 \""}},
        {"read-memory 1 0 0x10",
         "10 00 00 00",
         QByteArray(16, '\xab'),
         {"[Info] \"ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab \""}},
        {"read-memory 1 0 1F",
         "1f 00 00 00",
         QByteArray(31, '\x01'),
         {"[Info] \"01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 \"",
          "[Info] \"01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 \""}},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        rom->reads = {{0, FakeRom::response(0)}, {0, FakeRom::dataPacket(c.data)}};
        EXPECT_TRUE(dispatch(c.command)) << c.command;
        ASSERT_EQ(rom->written.size(), 1);
        EXPECT_EQ(hex(rom->written.first().mid(8, 4)), c.lengthParameter) << c.command;
        EXPECT_EQ(log->lines("[Info] \""), c.lines) << c.command;
    }
}

class ConsoleFileTest : public ConsoleTest {
protected:
    QString makeFile(const QString& name, const QByteArray& content) {
        const QString path = writeFileIn(dir.path(), name, content);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(ConsoleFileTest, ReadMemoryToFileKeepsTheData) {
    const QString path = dir.path() + "/out.bin";
    const QByteArray data = QByteArray::fromHex("0102030405060708");
    rom->reads = {{0, FakeRom::response(0)}, {0, FakeRom::dataPacket(data)}};
    EXPECT_TRUE(dispatch(QString("read-memory 1 0 8 %1 ignored").arg(path)));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(hex(file.readAll()), hex(data));
    EXPECT_EQ(log->lines("[Info] Read Memory to File."),
              QStringList{"[Info] Read Memory to File.  Progress:  8  Total:  8"});
    EXPECT_TRUE(log->lines("[Info] \"").isEmpty());
}

TEST_F(ConsoleFileTest, FileDataGoesOutWithProgress) {
    QByteArray content(1016, '\0');
    for (int i = 0; i < content.size(); ++i) {
        content[i] = char(i * 7);
    }
    const QString data = makeFile("data.bin", content.left(600));
    const QString image = makeFile("image.bin", content);
    const struct {
        QString command;
        QString label;
        QStringList progress;
        int packets;
    } cases[] = {
        {"write-memory 0 1000 " + data,
         "[Info] Write File to Memory.",
         {"[Info] Write File to Memory.  Progress:  496  Total:  600",
          "[Info] Write File to Memory.  Progress:  600  Total:  600"},
         2},
        {"load-image " + image,
         "[Info] Load Image.",
         {"[Info] Load Image.  Progress:  508  Total:  1016",
          "[Info] Load Image.  Progress:  1016  Total:  1016"},
         2},
        {"verify-checksum 0 1000 " + data, "[Info] Write File to Memory.", {}, 1},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        EXPECT_TRUE(dispatch(c.command)) << qPrintable(c.command);
        EXPECT_EQ(log->lines(c.label), c.progress) << qPrintable(c.command);
        EXPECT_EQ(rom->written.size(), c.packets) << qPrintable(c.command);
        EXPECT_EQ(log->lines("[Critical]"), QStringList()) << qPrintable(c.command);
    }
    // The whole file is digested.
    ASSERT_EQ(rom->written.size(), 1);
    EXPECT_EQ(hex(rom->written.first().mid(8, 4)), "58 02 00 00");
    EXPECT_EQ(hex(rom->written.first().mid(24)),
              hex(QCryptographicHash::hash(content.left(600), QCryptographicHash::Sha256)));
}

TEST_F(ConsoleFileTest, FileCommandFailuresNameThePath) {
    const QString data = makeFile("data.bin", QByteArray(8, '\1'));
    const QString empty = makeFile("empty.bin", {});
    const struct {
        QString command;
        QList<int> writeResults;
        QString critical;
        int packets;
    } cases[] = {
        {"write-memory 0 0 " + data,
         {4},
         QString("[Critical] Write memory failed!  memoryId:  0  address:  0  file path:  \"%1\"  "
                 "status:  4  message:  \"TimeOut\"")
             .arg(data),
         1},
        {"verify-checksum 0 0 " + data,
         {4},
         QString("[Critical] Verify checksum failed!  memoryId:  0  address:  0  file path:  "
                 "\"%1\"  status:  4  message:  \"TimeOut\"")
             .arg(data),
         1},
        {"load-image " + data,
         {4},
         QString("[Critical] Load image failed!  file path:  \"%1\"  status:  4  message:  "
                 "\"TimeOut\"")
             .arg(data),
         1},
        {"load-image " + empty,
         {},
         QString("[Critical] File is empty!  File Path: \"%1\"").arg(empty),
         0},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        rom->writeResults = c.writeResults;
        EXPECT_FALSE(dispatch(c.command)) << qPrintable(c.command);
        const QStringList criticals = log->lines("[Critical]");
        ASSERT_FALSE(criticals.isEmpty()) << qPrintable(c.command);
        EXPECT_EQ(criticals.last(), c.critical);
        EXPECT_EQ(rom->written.size(), c.packets) << qPrintable(c.command);
    }
}

// Command texts pieced together from names and parameter fragments: whatever the mix, a
// command either succeeds silently or fails with a critical line, and never crashes.
TEST_F(ConsoleTest, ArbitraryCommandTextsFailLoudlyOrSucceedQuietly) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(scratch.path()));
    const QStringList names{"query-rte",
                            "config-rte",
                            "config-memory",
                            "write-memory",
                            "read-memory",
                            "load-image",
                            "erase-region",
                            "erase-chip",
                            "reset",
                            "gen-keyblob",
                            "verify-checksum",
                            "unknown",
                            "",
                            "query-rte query-rte"};
    const QStringList fragments{"0",        "1",         "10",       "0x",         "0x10", "1F",
                                "zz",       "-1",        "[[",       "]]",         ",",    ",,",
                                "[[1,2]]",  "[[]]",      "ffffffff", "4294967296", " ",    "  ",
                                "20000000", "[[0x1,,]]", "]][[",     "[[1]"};
    QRandomGenerator random(20261208);
    for (int round = 0; round < 3000; ++round) {
        QString command = names.at(int(random.bounded(uint32_t(names.size()))));
        const int parameters = int(random.bounded(6u));
        for (int i = 0; i < parameters; ++i) {
            command += ' ';
            const int pieces = 1 + int(random.bounded(3u));
            for (int j = 0; j < pieces; ++j) {
                command += fragments.at(int(random.bounded(uint32_t(fragments.size()))));
            }
        }
        log->clear();
        const bool result = dispatch(command);
        const QStringList criticals = log->lines("[Critical]");
        if (result) {
            EXPECT_TRUE(criticals.isEmpty()) << qPrintable(command);
        } else {
            EXPECT_FALSE(criticals.isEmpty()) << qPrintable(command);
        }
        rom->written.clear();
    }
    EXPECT_TRUE(QDir::setCurrent(previous));
}

}  // namespace

}  // namespace Test
}  // namespace RomCmd
