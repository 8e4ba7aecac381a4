#include <gtest/gtest.h>

#include <QCommandLineParser>
#include <QPointer>

#include "app/Options.h"
#include "console/RomConsoleMode.h"
#include "tests/common/LogCapture.h"
#include "tests/console/ConsoleTestAccess.h"

namespace RomCmd {
namespace {

using Test::LogCapture;

class ControllerTest : public ::testing::Test {
protected:
    RomConsoleMode* make(const QStringList& arguments) {
        addOptions(parser);
        EXPECT_TRUE(parser.parse(QStringList{"tool"} + arguments));
        console.reset(new RomConsoleMode(parser));
        access = std::make_unique<ConsoleTestAccess>(*console);
        return console.get();
    }

    QCommandLineParser parser;
    std::unique_ptr<RomConsoleMode> console;
    std::unique_ptr<ConsoleTestAccess> access;
};

TEST_F(ControllerTest, NoDeviceTypeEndsTheRunWithOneComplaint) {
    LogCapture capture;
    make({"-r", "query-rte", "-t", "5"})->run();

    ASSERT_EQ(LogCapture::messages().size(), 1);
    EXPECT_EQ(LogCapture::messages().at(0).first, QtCriticalMsg);
    EXPECT_EQ(LogCapture::messages().at(0).second.toStdString(),
              "Please select device type! 'p' is serial port, 'u' is usb device.");
    EXPECT_EQ(access->romCmd, nullptr);
}

TEST_F(ControllerTest, ImageModeStopsAtFirstFailingCommand) {
    LogCapture capture;
    make({"-i", "-p", "COM3", "-r", "create-image /nonexistent/tarvo.json", "-r",
          "create-image second-never-run.json"})
        ->run();

    ASSERT_FALSE(LogCapture::messages().isEmpty());
    EXPECT_EQ(LogCapture::messages().first().first, QtInfoMsg);
    EXPECT_EQ(LogCapture::messages().first().second.toStdString(), "Run Imgage Edit Commands:");
    EXPECT_GE(
        LogCapture::find(QtCriticalMsg,
                         "Run command failed!  command:  \"create-image /nonexistent/tarvo.json\""),
        0);
    EXPECT_FALSE(LogCapture::anyContains("second-never-run"));
    // Image editing talks to no device.
    EXPECT_EQ(access->romCmd, nullptr);
    EXPECT_FALSE(LogCapture::anyContains("Parse device info"));
}

TEST_F(ControllerTest, ImageModeWithoutCommandsOnlyAnnounces) {
    LogCapture capture;
    make({"-i"})->run();

    ASSERT_EQ(LogCapture::messages().size(), 1);
    EXPECT_EQ(LogCapture::messages().at(0).second.toStdString(), "Run Imgage Edit Commands:");
}

TEST_F(ControllerTest, DeviceTextEchoedAtDebugLevel) {
    struct Case {
        QStringList arguments;
        const char* echo;
    };
    const Case cases[] = {
        {{"-p", "/dev/tarvo_none_port,9600"}, "Parse device info:  \"/dev/tarvo_none_port,9600\""},
        {{"-u", "/dev/tarvo_none_hid", "-p", "/dev/tarvo_none_port"},
         "Parse device info:  \"/dev/tarvo_none_port\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.echo);
        QCommandLineParser caseParser;
        addOptions(caseParser);
        ASSERT_TRUE(caseParser.parse(QStringList{"tool"} + c.arguments));
        LogCapture capture;
        RomConsoleMode caseConsole(caseParser);
        caseConsole.run();
        ASSERT_FALSE(LogCapture::messages().isEmpty());
        EXPECT_EQ(LogCapture::messages().first().first, QtDebugMsg);
        EXPECT_EQ(LogCapture::messages().first().second.toStdString(), c.echo);
    }
}

TEST_F(ControllerTest, CommandLoopStopsAtFirstFailure) {
    make({"-p", "/dev/tarvo_none_port", "-r", "bogus-first 1", "-r", "bogus-second 2"});
    LogCapture capture;

    EXPECT_FALSE(access->runRomApiCommands());

    const int announce = LogCapture::find(QtInfoMsg, "Run Rom API Commands:");
    const int failure =
        LogCapture::find(QtCriticalMsg, "Run command failed!  command:  \"bogus-first 1\"");
    EXPECT_GE(announce, 0);
    EXPECT_GT(failure, announce);
    EXPECT_FALSE(LogCapture::anyContains("bogus-second"));
    EXPECT_NE(access->romCmd, nullptr);
}

TEST_F(ControllerTest, CommandLoopWithoutCommandsSucceedsForEitherCarrier) {
    for (const char* option : {"-p", "-u"}) {
        SCOPED_TRACE(option);
        QCommandLineParser caseParser;
        addOptions(caseParser);
        ASSERT_TRUE(caseParser.parse({"tool", option, "/dev/tarvo_none_device"}));
        RomConsoleMode caseConsole(caseParser);
        ConsoleTestAccess caseAccess(caseConsole);
        LogCapture capture;

        EXPECT_TRUE(caseAccess.runRomApiCommands());
        EXPECT_GE(LogCapture::find(QtInfoMsg, "Run Rom API Commands:"), 0);
        EXPECT_EQ(LogCapture::find(QtCriticalMsg, "Run command failed!"), -1);
        EXPECT_NE(caseAccess.romCmd, nullptr);
    }
}

TEST_F(ControllerTest, EngineKeptAcrossCallsAndDeletedAtTeardown) {
    make({"-p", "/dev/tarvo_none_port"});
    LogCapture capture;
    ASSERT_TRUE(access->runRomApiCommands());
    QPointer<RomCmd> engine = access->romCmd;
    ASSERT_FALSE(engine.isNull());

    ASSERT_TRUE(access->runRomApiCommands());
    EXPECT_EQ(access->romCmd, engine.data());

    // No event loop runs after the controller: a deferred deletion would never close the port.
    access.reset();
    console.reset();
    EXPECT_TRUE(engine.isNull());
    EXPECT_GE(LogCapture::find(QtInfoMsg, "serial close fd: "), 0);
}

}  // namespace
}  // namespace RomCmd
