#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/LogHandler.h"
#include "app/Version.h"
#include "tests/common/ToolRun.h"

namespace RomCmd {
namespace {

using Test::ToolResult;
using Test::ToolRun;

const std::string kClosing =
    std::string("[Info] \r\nTarvo Manufacturing Tool End! Version:  \"") + kVersion + "\" \r\n";
const char kNoDevice[] =
    "[Critical] Please select device type! 'p' is serial port, 'u' is usb device.";

// Splits tarvo_log_decode output into its entries ("[hh:mm:ss] " starts each one),
// keeping line breaks inside messages and dropping the stamps.
QStringList entries(const QString& decoded) {
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] "),
                                          QRegularExpression::MultilineOption);
    QStringList result;
    int start = -1;
    QRegularExpressionMatchIterator it = stamp.globalMatch(decoded);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (start >= 0) {
            result.append(decoded.mid(start, match.capturedStart() - start - 1));
        }
        start = match.capturedEnd();
    }
    if (start >= 0) {
        result.append(decoded.mid(start, decoded.size() - start - 1));
    }
    return result;
}

// The closing line ends the output; only the serial port's own close line may follow it.
bool endsWithClosingLine(const QString& output) {
    static const QRegularExpression tail(
        QRegularExpression::escape(QString::fromStdString(kClosing)) +
        "\n\n(\\[Info\\] serial close fd: [^\n]*\n\n)?\\z");
    return tail.match(output).hasMatch();
}

// A run without -p or -u logs exactly its complaint and the closing line.
void expectNoDeviceRunLogged(const ToolRun& tool) {
    const QStringList logged = entries(tool.decodedLog());
    ASSERT_EQ(logged.size(), 2) << tool.decodedLog().toStdString();
    EXPECT_EQ(logged.at(0).toStdString(), kNoDevice);
    EXPECT_EQ(logged.at(1).toStdString(), kClosing);
}

struct Decoded {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Decoded runDecoder(
    const QStringList& arguments, const QByteArray& input = QByteArray(),
    const QString& program = QStringLiteral(TARVO_BIN_DIR "/tarvo_log_decode"),
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    Decoded result;
    QProcess decoder;
    decoder.setProcessEnvironment(environment);
    decoder.start(program, arguments);
    if (!decoder.waitForStarted(10000)) {
        return result;
    }
    decoder.write(input);
    decoder.closeWriteChannel();
    if (!decoder.waitForFinished(30000)) {
        decoder.kill();
        decoder.waitForFinished(5000);
        return result;
    }
    result.exitCode = decoder.exitCode();
    result.out = decoder.readAllStandardOutput();
    result.err = decoder.readAllStandardError();
    return result;
}

TEST(ToolTest, VersionOption) {
    ToolRun tool;
    for (const char* option : {"--version", "-v"}) {
        const ToolResult result = tool.run({option});
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output.toStdString(),
                  std::string("tarvo_manufacturing_tool ") + kVersion + "\n");
    }
}

TEST(ToolTest, HelpListsOptionsInOrderWithValueNames) {
    ToolRun tool;
    const ToolResult result = tool.run({"--help"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);

    QFile description(tool.appDir() + "/console_instruction");
    ASSERT_TRUE(description.open(QIODevice::ReadOnly));
    const QString firstLine = QString::fromUtf8(description.readLine()).trimmed();
    ASSERT_FALSE(firstLine.isEmpty());
    EXPECT_TRUE(result.output.contains(firstLine)) << result.output.toStdString();

    const char* const expectedOrder[] = {
        "-v, --version",      "-h, --help",          "-c, --console\n",
        "-p, --port <p> ",    "-u, --usb <u> ",      "-r, --run <command>",
        "-t, --timeout <p> ", "-f, --firmware <f> ", "-i, --image\n",
    };
    int previous = -1;
    for (const char* entry : expectedOrder) {
        const int at = result.output.indexOf(QRegularExpression(
            QStringLiteral("\\n  ") + QRegularExpression::escape(entry).replace("\\\n", " +")));
        SCOPED_TRACE(entry);
        EXPECT_GT(at, previous) << result.output.toStdString();
        previous = at;
    }
    EXPECT_TRUE(result.output.contains("set timeout for commmand, unit is millisecond"));
    EXPECT_FALSE(result.output.contains("Tarvo Manufacturing Tool End!"));
}

TEST(ToolTest, HelpWithoutDescriptionFile) {
    ToolRun tool;
    ASSERT_TRUE(QFile::remove(tool.appDir() + "/console_instruction"));
    const ToolResult result = tool.run({"--help"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.output.contains("-r, --run <command>"));
}

TEST(ToolTest, ParserErrorsExitWithOne) {
    struct Case {
        QStringList arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"--bogus"}, "Unknown option 'bogus'"},
        {{"-r", "query-rte", "-x"}, "Unknown option 'x'"},
        {{"-r"}, "Missing value after '-r'"},
        {{"-r", "query-rte", "-p"}, "Missing value after '-p'"},
        {{"-p", "COM3", "-t"}, "Missing value after '-t'"},
    };
    ToolRun tool;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ToolResult result = tool.run(c.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.output.contains(c.message)) << result.output.toStdString();
        EXPECT_FALSE(result.output.contains("Tarvo Manufacturing Tool End!"));
    }
}

TEST(ToolTest, NoDeviceTypeStillEndsNormally) {
    ToolRun tool;
    const QDate day = QDate::currentDate();
    const ToolResult result = tool.run({"-r", "query-rte"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.output.toStdString(), std::string(kNoDevice) + "\n\n" + kClosing + "\n\n");

    if (QDate::currentDate() != day) {
        GTEST_SKIP() << "the run crossed midnight";
    }
    expectNoDeviceRunLogged(tool);
}

TEST(ToolTest, LogFileHoldsEveryMessageDebugIncluded) {
    ToolRun tool;
    const QDate day = QDate::currentDate();
    const ToolResult result = tool.run({"-p", "/dev/tarvo_none_port", "-t", "later"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_FALSE(result.output.contains("Parse device info")) << result.output.toStdString();
    EXPECT_TRUE(result.output.startsWith(
        "[Warning] timeout value format error, default timeout value will be used.\n\n"))
        << result.output.toStdString();
    EXPECT_TRUE(endsWithClosingLine(result.output)) << result.output.toStdString();

    if (QDate::currentDate() != day) {
        GTEST_SKIP() << "the run crossed midnight";
    }
    const QStringList logged = entries(tool.decodedLog());
    ASSERT_GE(logged.size(), 3);
    EXPECT_EQ(logged.at(1).toStdString(), "[Debug] Parse device info:  \"/dev/tarvo_none_port\"");
    // The console shows exactly the non-debug entries, each followed by an empty line.
    QString console;
    for (const QString& entry : logged) {
        if (!entry.startsWith("[Debug] ")) {
            console += entry + "\n\n";
        }
    }
    EXPECT_EQ(result.output.toStdString(), console.toStdString());
}

// A word that no option reads is a mistake (here a forgotten -r): refused before anything runs.
TEST(ToolTest, StrayArgumentIsRefused) {
    ToolRun tool;
    // A port path holding a "-" stays the value of -p; the word after it is read by no option.
    const ToolResult result = tool.run({"-i", "-p", "/dev/serial/by-id/usb-x", "create-image"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output.toStdString(),
              "tarvo_manufacturing_tool: Unexpected argument: create-image\n");
}

// The HID layer takes any file it can open for a device and crashes on what is none: a -u
// path that names a file must be a HID device node.
TEST(ToolTest, UsbPathThatIsNoHidDeviceIsRefused) {
    ToolRun tool;
    const QString file = tool.appDir() + "/not-a-device";
    QFile plain(file);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    for (const QString& path : {file, QStringLiteral("/dev/null")}) {
        SCOPED_TRACE(path.toStdString());
        const ToolResult result = tool.run({"-u", path});
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 2) << result.output.toStdString();
        EXPECT_TRUE(result.output.startsWith(
            "[Critical] Usb device open failed!  vid:  0  pid:  0  devicePath:  \"" + path +
            "\"\n\n"))
            << result.output.toStdString();
    }
}

// Line scripts branch on the exit status; the closing line is printed whatever it is.
TEST(ToolTest, ExitStatusTellsHowTheRunEnded) {
    struct Case {
        const char* name;
        QStringList arguments;
        int status;
    };
    const QString noPort = QStringLiteral("/dev/tarvo_none_port");
    const QString noFirmware = QStringLiteral("/nonexistent/tarvo_fw.bin");
    const Case cases[] = {
        {"ImageModeWithNothingToDo", {"-i"}, 0},
        {"NoDeviceType", {"-r", "query-rte"}, 2},
        {"BadBaudRate", {"-p", noPort + ",fast", "-r", "query-rte"}, 2},
        {"BadProductId", {"-u", "0xZZ", "-r", "query-rte"}, 2},
        {"CommandFailed", {"-p", noPort, "-r", "query-rte"}, 3},
        {"ImageCommandFailed", {"-i", "-r", "gen-image a.json"}, 3},
        {"PortThatCannotOpen", {"-p", noPort}, 2},
        {"FirmwareIgnoredPortThatCannotOpen", {"-p", noPort, "-f", noFirmware}, 2},
        {"FirmwareIgnoredThenCommandFailed", {"-p", noPort, "-f", noFirmware, "-r", "reset 0"}, 3},
    };
    ToolRun tool;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolResult result = tool.run(c.arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, c.status) << result.output.toStdString();
        EXPECT_TRUE(endsWithClosingLine(result.output)) << result.output.toStdString();
    }
}

TEST(ToolTest, ClosedConsoleDoesNotEndTheRun) {
    ToolRun tool;
    const QDate day = QDate::currentDate();
    // The reader has gone before the tool writes its first line.
    QProcess shell;
    shell.start("/bin/sh", {"-c", "(sleep 0.3; exec \"$0\" -r query-rte) | true", tool.toolPath()});
    ASSERT_TRUE(shell.waitForFinished(30000));
    if (QDate::currentDate() != day) {
        GTEST_SKIP() << "the run crossed midnight";
    }
    expectNoDeviceRunLogged(tool);
}

// A SIGTERM while the image tool runs ends the tool instead of waiting for it.
TEST(ToolTest, InterruptionEndsTheImageTool) {
    ToolRun tool;
    const QString imageTool = tool.appDir() + "/tools/tarvo_img_util";
    QFile::remove(imageTool);
    QFile script(imageTool);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho working\nexec sleep 60\n");
    script.close();
    ASSERT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString json = tool.appDir() + "/image.json";
    QFile description(json);
    ASSERT_TRUE(description.open(QIODevice::WriteOnly));
    description.close();

    const auto process = tool.start({"-i", "-r", "create-image " + json});
    QString output;
    ASSERT_TRUE(RomCmd::Test::waitForOutput(*process, "working", 30000, &output))
        << output.toStdString();
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ASSERT_EQ(::kill(pid_t(process->processId()), SIGTERM), 0);
    ASSERT_TRUE(process->waitForFinished(30000));
    EXPECT_LT(sinceSignal.elapsed(), 5000);
    EXPECT_EQ(process->exitCode(), 143);
    output += QString::fromLocal8Bit(process->readAll());
    EXPECT_TRUE(output.endsWith("[Critical] Run interrupted by SIGTERM!\n\n" +
                                QString::fromStdString(kClosing) + "\n\n"))
        << output.toStdString();
    EXPECT_EQ(output.count("[Critical]"), 1) << output.toStdString();
}

TEST(LogDecodeTest, DecodesGoodLinesAndMarksTheRest) {
    const QByteArray good = LogHandler::fileLine(QTime(8, 9, 10), QtInfoMsg, "abc");
    const QByteArray debug =
        LogHandler::fileLine(QTime(23, 59, 59), QtDebugMsg, "Parse device info:  \"COM3\"");
    struct Case {
        const char* name;
        QByteArray input;
        QByteArray output;
    };
    const Case cases[] = {
        {"Good", good + "\n", "[08:09:10] [Info] abc\n"},
        {"Debug", debug + "\n", "[23:59:59] [Debug] Parse device info:  \"COM3\"\n"},
        {"NoFinalLineFeed", good, "[08:09:10] [Info] abc\n"},
        {"CarriageReturn", good + "\r\n", "[08:09:10] [Info] abc\n"},
        {"NoStamp", "hello\n", "[undecodable] hello\n"},
        {"StampOnly", "[08:09:10]\n", "[undecodable] [08:09:10]\n"},
        {"BadText", "[08:09:10]@@@\n", "[undecodable] [08:09:10]@@@\n"},
        {"BadStamp", "[8:09:10]" + good.mid(10) + "\n",
         "[undecodable] [8:09:10]" + good.mid(10) + "\n"},
        {"EmptyLine", "\n", "[undecodable] \n"},
        {"CutShortLineGluedToNext", "[07:00:00]" + good + "\n",
         "[07:00:00] [incomplete]\n[08:09:10] [Info] abc\n"},
        {"Mixed", good + "\nnoise\n" + debug + "\n",
         "[08:09:10] [Info] abc\n[undecodable] noise\n[23:59:59] [Debug] Parse device info:  "
         "\"COM3\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded decoded = runDecoder({}, c.input);
        EXPECT_EQ(decoded.exitCode, 0);
        EXPECT_EQ(decoded.out.toStdString(), c.output.toStdString());
    }
}

TEST(LogDecodeTest, MissingFileDoesNotStopTheOthers) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString first = dir.filePath("2026-03-01.log");
    const QString second = dir.filePath("2026-03-02.log");
    const QString missing = dir.filePath("2026-02-30.log");
    for (const QString& path : {first, second}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(LogHandler::fileLine(QTime(1, 2, 3), QtWarningMsg, path.right(14)) + "\n");
    }

    const Decoded decoded = runDecoder({first, missing, second, dir.path()});
    EXPECT_EQ(decoded.exitCode, 1);
    EXPECT_EQ(decoded.out.toStdString(),
              ("==> " + first + " <==\n[01:02:03] [Warning] 2026-03-01.log\n" + "==> " + missing +
               " <==\n" + "==> " + second + " <==\n[01:02:03] [Warning] 2026-03-02.log\n" + "==> " +
               dir.path() + " <==\n")
                  .toStdString());
    EXPECT_TRUE(decoded.err.contains(missing.toLocal8Bit())) << decoded.err.toStdString();
    EXPECT_TRUE(decoded.err.contains(dir.path().toLocal8Bit())) << decoded.err.toStdString();

    const Decoded alone = runDecoder({second});
    EXPECT_EQ(alone.exitCode, 0);
    EXPECT_EQ(alone.out.toStdString(), "[01:02:03] [Warning] 2026-03-02.log\n");
}

// Only regular files are decoded: /dev/zero never ends, and a FIFO may never even open.
TEST(LogDecodeTest, RefusesWhatIsNoRegularFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("fifo.log");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {QStringLiteral("/dev/zero"), fifo}) {
        SCOPED_TRACE(path.toStdString());
        const Decoded decoded = runDecoder({path});
        EXPECT_EQ(decoded.exitCode, 1);
        EXPECT_EQ(decoded.out.toStdString(), "");
        EXPECT_EQ(decoded.err.toStdString(),
                  "tarvo_log_decode: cannot open " + path.toStdString() + ": not a regular file\n");
    }
}

TEST(LogDecodeTest, DayReadsTheFolderBesideTheToolAndTheStateFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString app = dir.path() + "/app";
    const QString decoder = app + "/tarvo_log_decode";
    ASSERT_TRUE(QDir().mkpath(app));
    ASSERT_TRUE(QFile::copy(TARVO_BIN_DIR "/tarvo_log_decode", decoder));
    ASSERT_TRUE(
        QFile::setPermissions(decoder, QFile::permissions(TARVO_BIN_DIR "/tarvo_log_decode")));
    const QString beside = LogHandler::besideDirectory(app) + "/2026-03-01.log";
    const QString fallback = dir.path() + "/state/tarvo_manufacturing_tool/logs/2026-03-01.log";
    const QPair<QString, const char*> logs[] = {{beside, "by root"}, {fallback, "by operator"}};
    for (const auto& log : logs) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(log.first).path()));
        QFile file(log.first);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(LogHandler::fileLine(QTime(1, 2, 3), QtInfoMsg, log.second) + "\n");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_STATE_HOME", dir.path() + "/state");

    struct Case {
        QStringList arguments;
        int exitCode;
        QString out;
        QString err;  // a fragment
    };
    const Case cases[] = {
        {{"--day", "2026-03-01"},
         0,
         "==> " + beside + " <==\n[01:02:03] [Info] by root\n==> " + fallback +
             " <==\n[01:02:03] [Info] by operator\n",
         ""},
        {{"--day", "2026-03-02"},
         1,
         "",
         "no log of 2026-03-02 in " + QFileInfo(beside).path() + ", "},
        {{"--day", "1.3.2026"}, 1, "", "--day needs a date as yyyy-MM-dd, or today"},
        {{"--day"}, 1, "", "--day needs a date"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Decoded decoded = runDecoder(c.arguments, {}, decoder, environment);
        EXPECT_EQ(decoded.exitCode, c.exitCode);
        EXPECT_EQ(QString::fromLocal8Bit(decoded.out).toStdString(), c.out.toStdString());
        EXPECT_TRUE(QString::fromLocal8Bit(decoded.err).contains(c.err))
            << decoded.err.toStdString();
    }
}

}  // namespace
}  // namespace RomCmd
