#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QUuid>

#include "console/RunRecord.h"
#include "tests/common/SimProcess.h"
#include "tests/common/ToolRun.h"

namespace RomCmd {
namespace Test {

namespace {

constexpr int kBoundMs = 60000;

// Every line of the file parsed; a line that is not one whole JSON object fails the test.
QVector<QJsonObject> recordLines(const QString& path) {
    QVector<QJsonObject> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "no record file " << path.toStdString();
        return records;
    }
    const QByteArray all = file.readAll();
    EXPECT_TRUE(all.endsWith('\n'));
    for (const QByteArray& line : all.split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.left(200).toStdString();
        EXPECT_TRUE(document.isObject());
        records.append(document.object());
    }
    return records;
}

QString sha256Of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray pattern(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) {
        bytes[i] = char((i * 13 + seed) & 0xFF);
    }
    return bytes;
}

class RunRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFileInfo::exists(SimProcess::romsimPath())) {
            GTEST_SKIP() << "the virtual device is not built";
        }
        recordPath = files.path() + "/runs.jsonl";
    }

    QString makeFile(const QString& name, const QByteArray& content) {
        const QString path = writeFileIn(files.path(), name, content);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
        return path;
    }

    ToolResult run(const QStringList& arguments, const QProcessEnvironment& environment =
                                                     QProcessEnvironment::systemEnvironment()) {
        return tool.run(arguments + QStringList{"--record", recordPath}, environment, kBoundMs);
    }

    SimProcess sim;
    ToolRun tool;
    QTemporaryDir files;
    QString recordPath;
};

// One command's record: its result, code and ROM status as the run saw them.
struct CommandCase {
    QString text;  // %1: the data file, %2: the copy file
    QString result;
    QJsonValue code;
    QJsonValue romStatus;
};

struct RecordCase {
    const char* name;
    bool hid;
    QVector<CommandCase> commands;
    int exitStatus;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.name;
}

class RunRecordOutcome : public RunRecordTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RunRecordOutcome, OneLineWithEveryField) {
    const RecordCase& c = GetParam();
    ASSERT_TRUE(sim.start({}, c.hid));
    const QByteArray data = pattern(65536, 7);
    const QString dataPath = makeFile("data.bin", data);
    const QString copyPath = files.path() + "/copy.bin";
    QStringList arguments =
        c.hid ? QStringList{"-u", ""} : QStringList{"-p", sim.ptyPath() + ",921600"};
    QStringList texts;
    for (const CommandCase& command : c.commands) {
        texts << QString(command.text).replace("%1", dataPath).replace("%2", copyPath);
        arguments << "-r" << texts.last();
    }
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    const ToolResult result =
        run(arguments, c.hid ? sim.hidEnvironment() : QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, c.exitStatus) << result.output.toStdString();

    const QVector<QJsonObject> records = recordLines(recordPath);
    ASSERT_EQ(records.size(), 1);
    const QJsonObject record = records.first();
    EXPECT_EQ(record.value("schema").toInt(), 1);
    EXPECT_EQ(record.value("tool_version").toString(), "0.6.0");
    EXPECT_FALSE(QUuid::fromString(record.value("run_id").toString()).isNull());
    const QDateTime start =
        QDateTime::fromString(record.value("start").toString(), Qt::ISODateWithMs);
    const QDateTime end = QDateTime::fromString(record.value("end").toString(), Qt::ISODateWithMs);
    EXPECT_TRUE(record.value("start").toString().endsWith('Z'));
    EXPECT_LE(before, start);
    EXPECT_LE(start, end);
    EXPECT_LE(end, QDateTime::currentDateTimeUtc());
    EXPECT_EQ(record.value("duration_ms").toDouble(), double(start.msecsTo(end)));
    EXPECT_FALSE(record.value("host").toString().isEmpty());
    EXPECT_FALSE(record.value("user").toString().isEmpty());
    const QJsonArray commandLine = record.value("command_line").toArray();
    ASSERT_EQ(commandLine.size(), arguments.size() + 3);
    EXPECT_EQ(commandLine.at(0).toString(), tool.toolPath());
    EXPECT_EQ(commandLine.at(arguments.size() + 2).toString(), recordPath);
    EXPECT_EQ(record.value("exit_status").toInt(), c.exitStatus);
    EXPECT_TRUE(QFileInfo(record.value("log_file").toString()).isFile());
    EXPECT_TRUE(record.value("log_file").toString().startsWith(tool.appDir()));
    EXPECT_EQ(record.value("firmware").toObject(),
              (QJsonObject{{"step", "not asked"}, {"attempts", 0}, {"file", QJsonValue()}}));
    // The default device: ROM R1.2.0, SoC A1.0.0, life cycle 03.
    EXPECT_EQ(
        record.value("rom").toObject(),
        (QJsonObject{{"version", "R1.2.0"}, {"soc_revision", "A1.0.0"}, {"life_cycle", "03"}}));

    const QJsonObject device = record.value("device").toObject();
    if (c.hid) {
        EXPECT_EQ(device.value("carrier").toString(), "hid");
        EXPECT_EQ(device.value("path").toString(), "tarvosim:0");
        // -u without a value names no IDs; the device is known by its path.
        EXPECT_TRUE(device.value("vid").isNull());
        EXPECT_TRUE(device.value("pid").isNull());
        // The virtual device's first serial number.
        EXPECT_EQ(device.value("serial").toString(), "TVSIM0001");
    } else {
        EXPECT_EQ(device,
                  (QJsonObject{{"carrier", "uart"}, {"port", sim.ptyPath()}, {"baud", 921600}}));
    }

    const QJsonArray commands = record.value("commands").toArray();
    ASSERT_EQ(commands.size(), c.commands.size());
    for (int i = 0; i < commands.size(); ++i) {
        SCOPED_TRACE(texts.at(i).toStdString());
        const QJsonObject command = commands.at(i).toObject();
        const CommandCase& expected = c.commands.at(i);
        EXPECT_EQ(command.value("text").toString(), texts.at(i));
        EXPECT_EQ(command.value("result").toString(), expected.result);
        EXPECT_EQ(command.value("code"), expected.code);
        EXPECT_EQ(command.value("rom_status"), expected.romStatus);
        EXPECT_EQ(command.value("code_text").isNull(), expected.code.isNull());
        EXPECT_GE(command.value("duration_ms").toDouble(), 0);
        const QJsonArray fileList = command.value("files").toArray();
        const bool moves = texts.at(i).startsWith("write-memory") ||
                           (texts.at(i).startsWith("read-memory") && expected.result == "ok");
        EXPECT_EQ(command.value("bytes").toDouble(), moves ? 65536.0 : 0.0);
        if (texts.at(i).contains(dataPath)) {
            ASSERT_EQ(fileList.size(), 1);
            EXPECT_EQ(fileList.at(0).toObject(), (QJsonObject{{"path", dataPath},
                                                              {"access", "read"},
                                                              {"size", 65536},
                                                              {"sha256", sha256Of(data)}}));
        } else if (texts.at(i).contains(copyPath) && expected.result == "ok") {
            ASSERT_EQ(fileList.size(), 1);
            EXPECT_EQ(fileList.at(0).toObject(), (QJsonObject{{"path", copyPath},
                                                              {"access", "written"},
                                                              {"size", 65536},
                                                              {"sha256", sha256Of(data)}}));
        }
    }
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(recordPath).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

const QJsonValue kNull;
const QString kWrite = "write-memory 0 20000000 %1";
const QString kReadBack = "read-memory 0 20000000 65536 %2";
const QString kVerify = "verify-checksum 0 20000000 %1";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunRecordOutcome,
    ::testing::Values(
        RecordCase{"UartWriteReadVerify",
                   false,
                   {{"query-rte", "ok", 0, 0},
                    {kWrite, "ok", 0, 0},
                    {kReadBack, "ok", 0, 0},
                    {kVerify, "ok", 0, 0}},
                   0},
        RecordCase{"HidWriteReadVerify",
                   true,
                   {{"query-rte", "ok", 0, 0},
                    {kWrite, "ok", 0, 0},
                    {kReadBack, "ok", 0, 0},
                    {kVerify, "ok", 0, 0}},
                   0},
        // The device refuses: code 17 with the ROM's own status.
        RecordCase{"RomRefuses",
                   false,
                   {{"query-rte", "ok", 0, 0},
                    {"verify-checksum 0 20000000 [[DEADBEEF]]", "failed", 17, 1001013}},
                   3},
        // Refused before any exchange: no code, no ROM status.
        RecordCase{"BadParameter",
                   false,
                   {{"query-rte", "ok", 0, 0}, {"read-memory 1 0", "failed", kNull, kNull}},
                   3},
        // Erase asks for the memory size first; the erase's own answer stands for the command.
        RecordCase{
            "EraseUnconfigured",
            false,
            {{"query-rte", "ok", 0, 0}, {"erase-region 1 8000000 0x1000", "failed", 17, 1001009}},
            3}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.name); });

// A run stopped by a signal writes its record before it exits 130.
TEST_F(RunRecordTest, InterruptedRunWritesItsRecord) {
    ASSERT_TRUE(sim.start({"--baud", "9600"}));
    const QString data = makeFile("data.bin", pattern(16384, 3));
    const auto process = tool.start(
        {"-p", sim.ptyPath(), "-r", "write-memory 0 20000000 " + data, "--record", recordPath});
    QString output;
    ASSERT_TRUE(waitForOutput(*process, "Progress:", kBoundMs, &output)) << output.toStdString();
    ASSERT_EQ(::kill(pid_t(process->processId()), SIGINT), 0);
    ASSERT_TRUE(process->waitForFinished(kBoundMs));
    EXPECT_EQ(process->exitCode(), 130);
    const QVector<QJsonObject> records = recordLines(recordPath);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records.first().value("exit_status").toInt(), 130);
    const QJsonObject command = records.first().value("commands").toArray().at(0).toObject();
    EXPECT_EQ(command.value("result").toString(), "failed");
    EXPECT_EQ(command.value("code").toInt(), 20);
    EXPECT_GT(command.value("bytes").toDouble(), 0);
    EXPECT_LT(command.value("bytes").toDouble(), 16384);
}

// A record that cannot be written turns a success into 5 with one critical line; a failed
// run keeps its own status.
TEST_F(RunRecordTest, UnwritableRecordIsExitFive) {
    ASSERT_TRUE(sim.start());
    recordPath = files.path() + "/no/such/folder/runs.jsonl";
    for (const auto& [command, status] :
         {std::pair<QString, int>{"query-rte", 5}, std::pair<QString, int>{"read-memory 1 0", 3}}) {
        const ToolResult result = run({"-p", sim.ptyPath(), "-r", command});
        EXPECT_EQ(result.exitCode, status) << result.output.toStdString();
        EXPECT_TRUE(
            result.output.contains("[Critical] The run record could not be written! File:  \"" +
                                   recordPath + "\"  error:  \"No such file or directory\"\n"))
            << result.output.toStdString();
        EXPECT_EQ(result.output.count("[Critical]"), status == 5 ? 1 : 3)
            << result.output.toStdString();
    }
}

// The tool itself, 8 processes at once, each run after run, appending to one file: every
// line whole. TARVO_RECORD_RUNS sets the runs per process (100 in the CTest case of 800 lines).
TEST_F(RunRecordTest, ToolRunsShareOneFile) {
    const int runs = qEnvironmentVariableIsSet("TARVO_RECORD_RUNS")
                         ? qEnvironmentVariableIntValue("TARVO_RECORD_RUNS")
                         : 10;
    constexpr int kProcesses = 8;
    std::vector<std::unique_ptr<QProcess>> workers(kProcesses);
    std::vector<int> started(kProcesses, 0);
    int failures = 0;
    const auto next = [&](int w) {
        workers[size_t(w)] = tool.start({"-r", "query-rte", "--record", recordPath});
        ++started[size_t(w)];
    };
    for (int w = 0; w < kProcesses; ++w) {
        next(w);
    }
    for (bool busy = true; busy;) {
        busy = false;
        for (int w = 0; w < kProcesses; ++w) {
            QProcess* process = workers[size_t(w)].get();
            if (process == nullptr) {
                continue;
            }
            busy = true;
            if (!process->waitForFinished(10)) {
                continue;
            }
            // No device given: the run ends with 2 and still writes its record.
            failures += process->exitCode() != 2;
            if (started[size_t(w)] < runs) {
                next(w);
            } else {
                workers[size_t(w)].reset();
            }
        }
    }
    EXPECT_EQ(failures, 0);
    const QVector<QJsonObject> records = recordLines(recordPath);
    ASSERT_EQ(records.size(), kProcesses * runs);
    QSet<QString> ids;
    for (const QJsonObject& record : records) {
        EXPECT_EQ(record.value("exit_status").toInt(), 2);
        ids.insert(record.value("run_id").toString());
    }
    EXPECT_EQ(ids.size(), kProcesses * runs);
}

// Many processes appending at once never mix their lines: each child appends lines of very
// different lengths, up to 256 KiB, while the others do the same.
TEST(RunRecordFile, SharedByManyProcesses) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/shared.jsonl";
    constexpr int kProcesses = 8;
    constexpr int kLines = 100;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int i = 0; i < kLines; ++i) {
                const QJsonObject object{
                    {"process", p}, {"line", i}, {"fill", QString((i * 2617) % 262144, 'x')}};
                QString error;
                failures += !RunRecord::append(
                    path, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', &error);
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const QVector<QJsonObject> records = recordLines(path);
    ASSERT_EQ(records.size(), kProcesses * kLines);
    QSet<QPair<int, int>> seen;
    for (const QJsonObject& record : records) {
        seen.insert({record.value("process").toInt(), record.value("line").toInt()});
    }
    EXPECT_EQ(seen.size(), kProcesses * kLines);
}

}  // namespace

}  // namespace Test
}  // namespace RomCmd
