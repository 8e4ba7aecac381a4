// The image tool run as a program: the images it writes and the way it refuses bad descriptions.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QString kTool = QStringLiteral(TARVO_BIN_DIR "/tools/tarvo_img_util");

struct ToolOutcome {
    bool finished = false;
    int exitCode = -1;
    QString output;
};

ToolOutcome runTool(const QStringList& arguments, const QString& workingDirectory = QString()) {
    ToolOutcome run;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDirectory.isEmpty()) {
        process.setWorkingDirectory(workingDirectory);
    }
    process.start(kTool, arguments);
    run.finished = process.waitForFinished(30000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct ImageCase {
    const char* name;
    QByteArray json;
    QString output;  // relative to the description's folder
    QByteArray expectedHex;
};

void PrintTo(const ImageCase& c, std::ostream* out) {
    *out << c.name;
}

class ImageToolWrites : public ::testing::TestWithParam<ImageCase> {};

// Inputs: a.bin "1234" and sub/b.bin "56789"; CRC-16/XMODEM of "123456789" is 0x31c3.
TEST_P(ImageToolWrites, HeaderAndDataMatchTheDescription) {
    const ImageCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(writeFile(dir.filePath("desc/a.bin"), "1234"));
    ASSERT_TRUE(writeFile(dir.filePath("desc/sub/b.bin"), "56789"));
    ASSERT_TRUE(writeFile(dir.filePath("desc/image.json"), c.json));

    // Run from another folder: relative names count from the description's folder.
    const ToolOutcome run =
        runTool({"--", "create_image", dir.filePath("desc/image.json")}, dir.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QString imagePath = QDir::cleanPath(dir.filePath("desc/" + c.output));
    EXPECT_EQ(readFile(imagePath).toHex(), c.expectedHex) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Created image: " + imagePath)) << run.output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageToolWrites,
    ::testing::Values(
        ImageCase{"FirmwareInRam",
                  R"({"output": "out.bin", "loadMemory": 0, "loadAddress": "0x20000000",
                      "entry": "0x20000101", "bootLoaderFirmware": true,
                      "inputs": ["a.bin", "sub/b.bin"]})",
                  "out.bin",
                  "5456494d"
                  "29000000"
                  "00000000"
                  "00000020"
                  "01010020"
                  "01000000"
                  "c3310000"
                  "00000000"
                  "313233343536373839"},
        ImageCase{"DecimalNumbersEntryDefaultsToLoadAddress",
                  R"({"output": "../images/flash.img", "loadMemory": 1,
                      "loadAddress": 134217728, "inputs": ["sub/b.bin", "a.bin"]})",
                  "../images/flash.img",
                  "5456494d"
                  "29000000"
                  "01000000"
                  "00000008"
                  "00000008"
                  "00000000"
                  "c5540000"
                  "00000000"
                  "353637383931323334"},
        ImageCase{"HighestAddressThatFits",
                  R"({"output": "top.bin", "loadMemory": "0x20000",
                      "loadAddress": "0xFFFFFFF7", "entry": "4294967295",
                      "bootLoaderFirmware": false, "inputs": ["a.bin", "sub/b.bin"]})",
                  "top.bin",
                  "5456494d"
                  "29000000"
                  "00000200"
                  "f7ffffff"
                  "ffffffff"
                  "00000000"
                  "c3310000"
                  "00000000"
                  "313233343536373839"}),
    [](const ::testing::TestParamInfo<ImageCase>& info) { return info.param.name; });

struct ErrorCase {
    const char* name;
    QStringList arguments;  // DESC stands for the description's path
    QByteArray json;        // not written when empty
    QString message;        // expected within the output
    int exitCode;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
    *out << c.name;
}

class ImageToolRefuses : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ImageToolRefuses, WithAClearMessageAndNoImage) {
    const ErrorCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(writeFile(dir.filePath("a.bin"), "1234"));
    ASSERT_TRUE(writeFile(dir.filePath("empty.bin"), ""));
    const QString description = dir.filePath("image.json");
    if (!c.json.isEmpty()) {
        ASSERT_TRUE(writeFile(description, c.json));
    }
    QStringList arguments = c.arguments;
    arguments.replaceInStrings("DESC", description);

    const ToolOutcome run = runTool(arguments, dir.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output.toStdString();
    const QString message = QString(c.message).replace("DIR", dir.path());
    EXPECT_TRUE(run.output.contains("tarvo_img_util: error: " + message))
        << "output: " << run.output.toStdString() << "\nexpected: " << message.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("out.bin")));
    EXPECT_FALSE(run.output.contains("Created image"));
}

const QStringList kCreate = {"--", "create_image", "DESC"};

QByteArray description(const char* members) {
    return QByteArray(R"({"output": "out.bin", "inputs": ["a.bin"], )") + members + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageToolRefuses,
    ::testing::Values(
        ErrorCase{"MissingDescription", kCreate, "", "cannot read the JSON file DIR/image.json", 1},
        ErrorCase{"NotJson", kCreate, "{\"output\": ", "DIR/image.json is not valid JSON: ", 1},
        ErrorCase{"NotAnObject", kCreate, "[1, 2]", "DIR/image.json must hold one JSON object", 1},
        ErrorCase{"MisspeltKey", kCreate, description(R"("loadMemory": 0, "loadAdress": 0)"),
                  "unknown key \"loadAdress\" in DIR/image.json", 1},
        ErrorCase{"MissingLoadAddress", kCreate, description(R"("loadMemory": 0)"),
                  "missing key \"loadAddress\" in DIR/image.json", 1},
        ErrorCase{"MissingInput", kCreate,
                  R"({"output": "out.bin", "loadMemory": 0, "loadAddress": 0,
                      "inputs": ["a.bin", "gone.bin"]})",
                  "cannot read the input file DIR/gone.bin", 1},
        ErrorCase{"InputIsAFolder", kCreate,
                  R"({"output": "out.bin", "loadMemory": 0, "loadAddress": 0, "inputs": ["."]})",
                  "cannot read the input file DIR", 1},
        ErrorCase{"NoInputs", kCreate,
                  R"({"output": "out.bin", "loadMemory": 0, "loadAddress": 0, "inputs": []})",
                  "\"inputs\" must be a non-empty list of file names", 1},
        ErrorCase{"OnlyEmptyInputs", kCreate,
                  R"({"output": "out.bin", "loadMemory": 0, "loadAddress": 0,
                      "inputs": ["empty.bin"]})",
                  "the input files hold no data", 1},
        ErrorCase{"NegativeAddress", kCreate, description(R"("loadMemory": 0, "loadAddress": -1)"),
                  "\"loadAddress\" is out of range: -1", 1},
        ErrorCase{"AddressAbove32Bits", kCreate,
                  description(R"("loadMemory": 0, "loadAddress": 4294967296)"),
                  "\"loadAddress\" is out of range: 4294967296", 1},
        ErrorCase{"HexTextAbove32Bits", kCreate,
                  description(R"("loadMemory": "0x100000000", "loadAddress": 0)"),
                  "\"loadMemory\" is out of range: 0x100000000", 1},
        ErrorCase{
            "HugeDecimalText", kCreate,
            description(R"("loadMemory": 0, "loadAddress": 0, "entry": "99999999999999999999999")"),
            "\"entry\" is out of range: 99999999999999999999999", 1},
        ErrorCase{"Fraction", kCreate, description(R"("loadMemory": 0.5, "loadAddress": 0)"),
                  "\"loadMemory\" is out of range: 0.5", 1},
        ErrorCase{"TextNotANumber", kCreate,
                  description(R"("loadMemory": 0, "loadAddress": "0x2000zz00")"),
                  "\"loadAddress\" is not a number: \"0x2000zz00\"", 1},
        ErrorCase{"SignedText", kCreate, description(R"("loadMemory": "+1", "loadAddress": 0)"),
                  "\"loadMemory\" is not a number: \"+1\"", 1},
        ErrorCase{"DataRunsPastTheAddressSpace", kCreate,
                  description(R"("loadMemory": 0, "loadAddress": "0xFFFFFFFE")"),
                  "the data (4 bytes) at load address 0xfffffffe runs past the end of the 32-bit "
                  "address space",
                  1},
        ErrorCase{"FlagNotBoolean", kCreate,
                  description(R"("loadMemory": 0, "loadAddress": 0, "bootLoaderFirmware": 1)"),
                  "\"bootLoaderFirmware\" must be true or false", 1},
        ErrorCase{"UnknownCommand",
                  {"--", "make_image", "DESC"},
                  "",
                  "unknown command \"make_image\"; expected: create_image",
                  2},
        ErrorCase{"NoCommand", {"--"}, "", "no command given", 2},
        ErrorCase{"NoDescription",
                  {"--", "create_image"},
                  "",
                  "create_image takes exactly one JSON description file",
                  2},
        ErrorCase{"UnknownOption",
                  {"--bogus", "--", "create_image", "DESC"},
                  "",
                  "Unknown option 'bogus'",
                  2}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

TEST(ImageTool, AcceptsTheCallWithoutTheSeparatorAndAnOutputOverride) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(writeFile(dir.filePath("a.bin"), "1234"));
    ASSERT_TRUE(writeFile(dir.filePath("image.json"),
                          description(R"("loadMemory": 0, "loadAddress": "0x20000000")")));
    const ToolOutcome plain = runTool({"create_image", dir.filePath("image.json")});
    ASSERT_TRUE(plain.finished);
    EXPECT_EQ(plain.exitCode, 0) << plain.output.toStdString();
    EXPECT_EQ(readFile(dir.filePath("out.bin")).size(), 36);

    const ToolOutcome moved = runTool({"--output", dir.filePath("elsewhere/x.bin"), "--",
                                       "create_image", dir.filePath("image.json")});
    ASSERT_TRUE(moved.finished);
    EXPECT_EQ(moved.exitCode, 0) << moved.output.toStdString();
    EXPECT_EQ(readFile(dir.filePath("elsewhere/x.bin")).toHex(),
              readFile(dir.filePath("out.bin")).toHex());
}

// A failed run must not destroy an image that is already there.
TEST(ImageTool, KeepsTheOldImageWhenAnInputIsMissing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(writeFile(dir.filePath("out.bin"), "previous"));
    ASSERT_TRUE(writeFile(dir.filePath("image.json"),
                          R"({"output": "out.bin", "loadMemory": 0, "loadAddress": 0,
                              "inputs": ["gone.bin"]})"));
    const ToolOutcome run = runTool({"--", "create_image", dir.filePath("image.json")});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(readFile(dir.filePath("out.bin")), QByteArray("previous"));
}

}  // namespace
