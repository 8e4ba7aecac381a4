// Image editor mode in process, with the real image tool beside the test program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "console/RomConsoleMode.h"
#include "tests/console/ConsoleTestAccess.h"
#include "tests/firmware/FirmwareTestSupport.h"
#include "tools/ImageFormat.h"

namespace RomCmd {
namespace Test {
namespace {

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

struct CommandCase {
    const char* name;
    QString command;
    QStringList criticals;
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << c.name;
}

class ImageCommandRefused : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ImageCommandRefused, WithItsMessage) {
    const CommandCase& c = GetParam();
    auto parser = makeParser({"tool", "-i"});
    RomConsoleMode console(*parser);
    ConsoleTestAccess access(console);

    LogCapture log;
    EXPECT_FALSE(access.runImageCommand(c.command));
    const QStringList infos = log.texts(QtInfoMsg);
    ASSERT_EQ(infos.size(), 1) << log.dump().toStdString();
    EXPECT_EQ(infos.first(), "Run command:  \"" + c.command + "\"");
    EXPECT_EQ(log.texts(QtCriticalMsg).join('\n'), c.criticals.join('\n'));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageCommandRefused,
    ::testing::Values(CommandCase{"Blank", "   ", {"Number of command parameter is zero!"}},
                      CommandCase{"Empty", "", {"Number of command parameter is zero!"}},
                      CommandCase{"GenImage",
                                  "gen-image x.json",
                                  {"Command is not exist!  Command:  \"gen-image\""}},
                      CommandCase{"GenExipImage",
                                  "gen-exip-image x.json",
                                  {"Command is not exist!  Command:  \"gen-exip-image\""}},
                      CommandCase{"CaseMatters",
                                  "Create-Image x.json",
                                  {"Command is not exist!  Command:  \"Create-Image\""}},
                      CommandCase{"UnderscoreName",
                                  "create_image x.json",
                                  {"Command is not exist!  Command:  \"create_image\""}},
                      CommandCase{"NoPath", "create-image", {"Number of parameter is incorrect!"}},
                      CommandCase{"TwoPaths",
                                  "create-image a.json b.json",
                                  {"Number of parameter is incorrect!"}},
                      CommandCase{"MissingJson",
                                  "create-image  /nonexistent/a.json",
                                  {"Can not find json path:  \"/nonexistent/a.json\""}}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

class ImageCommandRuns : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(writeFile(dir.filePath("payload.bin"), "123456789"));
        previous = QDir::currentPath();
        // Relative description paths count from the current folder.
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
    }
    void TearDown() override { QDir::setCurrent(previous); }

    QTemporaryDir dir;
    QString previous;
    std::unique_ptr<QCommandLineParser> parser = makeParser({"tool", "-i"});
};

TEST_F(ImageCommandRuns, RelaysTheToolOutputAndWritesTheImage) {
    ASSERT_TRUE(writeFile(dir.filePath("image.json"),
                          R"({"output": "out.bin", "loadMemory": 0, "loadAddress": "0x20000000",
                              "bootLoaderFirmware": true, "inputs": ["payload.bin"]})"));
    RomConsoleMode console(*parser);
    ConsoleTestAccess access(console);
    LogCapture log;
    EXPECT_TRUE(access.runImageCommand("create-image image.json"));

    const QStringList infos = log.texts(QtInfoMsg);
    ASSERT_GE(infos.size(), 2) << log.dump().toStdString();
    EXPECT_EQ(infos.first(), "Run command:  \"create-image image.json\"");
    // Relayed chunks are plain text: joined they give the tool's output exactly.
    const QString relayed = infos.mid(1).join(QString());
    EXPECT_TRUE(relayed.startsWith("Created image: " + QDir(dir.path()).filePath("out.bin") + "\n"))
        << relayed.toStdString();
    EXPECT_TRUE(relayed.contains("  flags: 0x00000001 (boot-loader firmware), data CRC: 0x31c3\n"))
        << relayed.toStdString();
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty()) << log.dump().toStdString();

    QFile image(dir.filePath("out.bin"));
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    const QByteArray content = image.readAll();
    ImageFormat::Header header;
    ASSERT_TRUE(ImageFormat::decodeHeader(reinterpret_cast<const uint8_t*>(content.constData()),
                                          size_t(content.size()), &header));
    EXPECT_EQ(header.totalSize, uint32_t(content.size()));
    EXPECT_EQ(content.mid(32), QByteArray("123456789"));
}

// The tool's own message stays relayed; its exit status fails the command with one line.
TEST_F(ImageCommandRuns, ToolFailureIsRelayedAndFailsTheCommand) {
    ASSERT_TRUE(writeFile(dir.filePath("broken.json"), "{ not json"));
    RomConsoleMode console(*parser);
    ConsoleTestAccess access(console);
    LogCapture log;
    EXPECT_FALSE(access.runImageCommand("create-image broken.json"));
    const QString relayed = log.texts(QtInfoMsg).mid(1).join(QString());
    EXPECT_TRUE(relayed.startsWith("tarvo_img_util: error: broken.json is not valid JSON"))
        << log.dump().toStdString();
    EXPECT_EQ(log.texts(QtCriticalMsg), QStringList{"Image editor tools failed!  exit code:  1"});
    EXPECT_FALSE(QFile::exists(dir.filePath("out.bin")));
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
