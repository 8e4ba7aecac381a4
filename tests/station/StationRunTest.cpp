#include <gtest/gtest.h>
#include <signal.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <vector>

#include "tests/common/SimProcess.h"
#include "tests/common/ToolRun.h"

namespace RomCmd {
namespace Test {
namespace {

constexpr int kBoundMs = 120000;

QString stationPath() {
    return QStringLiteral(TARVO_BIN_DIR) + "/tarvo_station";
}

QVector<QJsonObject> recordLines(const QString& path) {
    QVector<QJsonObject> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return records;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.left(200).toStdString();
        records.append(document.object());
    }
    return records;
}

class StationRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFileInfo::exists(SimProcess::romsimPath()) || !QFileInfo::exists(stationPath())) {
            GTEST_SKIP() << "the virtual device or the runner is not built";
        }
        recordPath = files.path() + "/runs.jsonl";
    }

    std::unique_ptr<QProcess> startStation(const QStringList& arguments,
                                           const QProcessEnvironment& environment) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setWorkingDirectory(files.path());
        process->start(stationPath(),
                       QStringList{"--tool", tool.toolPath(), "--record", recordPath} + arguments);
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }

    ToolRun tool;
    QTemporaryDir files;
    QString recordPath;
};

struct BoardsCase {
    const char* name;
    int faultyUart;  // index of the UART device started with a fault, -1 for none
    int exitStatus;
};

class StationBoards : public StationRun, public ::testing::WithParamInterface<BoardsCase> {};

// 8 USB-HID boards of one virtual device and 8 UART boards, one slot each: each writes 64 KiB,
// reads it back and verifies it.
TEST_P(StationBoards, SixteenBoardsInOneCall) {
    const BoardsCase& c = GetParam();
    SimProcess hid;
    ASSERT_TRUE(hid.start({"--devices", "8"}, true));
    std::vector<std::unique_ptr<SimProcess>> uarts;
    QStringList arguments;
    for (int i = 0; i < 8; ++i) {
        uarts.push_back(std::make_unique<SimProcess>());
        // The third packet (the first data packet) is refused with a NAK.
        ASSERT_TRUE(uarts.back()->start(i == c.faultyUart ? QStringList{"--fault", "nak@3"}
                                                          : QStringList{}));
        arguments << "-p" << uarts.back()->ptyPath();
    }
    for (int i = 0; i < 8; ++i) {
        arguments << "-u" << QString("tarvosim:%1").arg(i);
    }
    QByteArray data(65536, '\0');
    for (int i = 0; i < data.size(); ++i) {
        data[i] = char((i * 31 + 5) & 0xFF);
    }
    const QString dataPath = files.path() + "/data.bin";
    QFile dataFile(dataPath);
    ASSERT_TRUE(dataFile.open(QIODevice::WriteOnly));
    dataFile.write(data);
    dataFile.close();
    arguments << "--"
              << "-r"
              << "write-memory 0 20000000 " + dataPath << "-r"
              << "read-memory 0 20000000 65536 /dev/null"
              << "-r"
              << "verify-checksum 0 20000000 " + dataPath;

    const auto station = startStation(arguments, hid.hidEnvironment());
    ASSERT_TRUE(station->waitForFinished(kBoundMs));
    const QString output = QString::fromLocal8Bit(station->readAll());
    EXPECT_EQ(station->exitCode(), c.exitStatus) << output.toStdString();
    // A pipe gets plain lines, never a terminal's escape codes.
    EXPECT_FALSE(output.contains('\x1b'));
    EXPECT_TRUE(output.contains(QString("Total: 16 boards, %1 passed, %2 failed")
                                    .arg(c.faultyUart < 0 ? 16 : 15)
                                    .arg(c.faultyUart < 0 ? 0 : 1)))
        << output.toStdString();
    if (c.faultyUart >= 0) {
        // The failed slot shows the tool's own exit status and message.
        const QString device = "-p " + uarts.at(size_t(c.faultyUart))->ptyPath();
        const QString row = QString("%1  %2  FAILED      3")
                                .arg(QString::number(c.faultyUart + 1), -4)
                                .arg(device, -28);
        const int at = output.indexOf(row);
        ASSERT_GE(at, 0) << output.toStdString();
        EXPECT_TRUE(output.mid(at, output.indexOf('\n', at) - at)
                        .endsWith("Write memory failed!  memoryId:  0  address:  536870912  "
                                  "file path:  \"" +
                                  dataPath + "\"  status:  1  message:  \"NAK\""))
            << output.toStdString();
    }

    const QVector<QJsonObject> records = recordLines(recordPath);
    ASSERT_EQ(records.size(), 16);
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    int failed = 0;
    for (const QJsonObject& record : records) {
        EXPECT_EQ(record.value("schema").toInt(), 1);
        const QJsonObject write = record.value("commands").toArray().at(0).toObject();
        EXPECT_EQ(write.value("files").toArray().at(0).toObject().value("sha256").toString(),
                  digest);
        failed += record.value("exit_status").toInt() != 0;
    }
    EXPECT_EQ(failed, c.faultyUart < 0 ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Table, StationBoards,
                         ::testing::Values(BoardsCase{"AllPass", -1, 0},
                                           BoardsCase{"OneFaulty", 5, 3}),
                         [](const ::testing::TestParamInfo<BoardsCase>& info) {
                             return std::string(info.param.name);
                         });

// --watch: three boards in a row at one port are three runs; a board that leaves the bus during
// its own firmware step is one. Ctrl-C then ends the runner with 130.
TEST_F(StationRun, WatchCountsEachBoardOnce) {
    const QString link = files.path() + "/port";
    const QString firmware = tool.appDir() + "/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_unsigned.bin";
    ASSERT_TRUE(QFileInfo::exists(firmware));
    const auto station =
        startStation({"--watch", "-p", link, "--", "-f", firmware, "-r", "query-rte"},
                     QProcessEnvironment::systemEnvironment());
    QString output;
    for (int board = 1; board <= 3; ++board) {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--link", link, "--leave-ms", "300"}));
        ASSERT_TRUE(waitForOutput(*station, QString("finished: passed"), kBoundMs, &output))
            << output.toStdString();
        output.clear();
        // The board stays a moment: still the same board, no second run.
        QThread::msleep(1200);
        sim.stop();
        ASSERT_TRUE(waitForOutput(*station, "board left", kBoundMs, &output))
            << output.toStdString();
        EXPECT_FALSE(output.contains("started")) << output.toStdString();
        output.clear();
    }
    ASSERT_EQ(::kill(pid_t(station->processId()), SIGINT), 0);
    ASSERT_TRUE(station->waitForFinished(kBoundMs));
    output += QString::fromLocal8Bit(station->readAll());
    EXPECT_EQ(station->exitCode(), 130) << output.toStdString();
    EXPECT_TRUE(output.contains("Total: 3 boards, 3 passed, 0 failed")) << output.toStdString();
    const QVector<QJsonObject> records = recordLines(recordPath);
    ASSERT_EQ(records.size(), 3);
    for (const QJsonObject& record : records) {
        EXPECT_EQ(record.value("firmware").toObject().value("step").toString(), "loaded");
    }
}

// --watch --all-usb: each USB port is a slot. Both boards leave the bus during their firmware
// step and come back under another path (--renumber); each is still one board. When they leave
// and two new ones arrive, those are two more.
TEST_F(StationRun, WatchUsbPortsFollowsRenumberedBoards) {
    const QString firmware = tool.appDir() + "/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_unsigned.bin";
    SimProcess sim;
    const QStringList simArguments{"--devices", "2", "--renumber", "--leave-ms", "300"};
    ASSERT_TRUE(sim.start(simArguments, true));
    const auto station = startStation(
        {"--watch", "--all-usb", "--", "-f", firmware, "-r", "query-rte"}, sim.hidEnvironment());
    QString output;
    for (int round = 0; round < 2; ++round) {
        for (int board = 0; board < 2; ++board) {
            ASSERT_TRUE(waitForOutput(*station, "finished: passed", kBoundMs, &output))
                << output.toStdString();
            output = output.mid(output.indexOf("finished: passed") + 1);
        }
        // Still the same two boards: no new run.
        QThread::msleep(1500);
        output += QString::fromLocal8Bit(station->readAll());
        EXPECT_FALSE(output.contains("started")) << output.toStdString();
        sim.stop();
        for (int board = 0; board < 2; ++board) {
            ASSERT_TRUE(waitForOutput(*station, "board left", kBoundMs, &output))
                << output.toStdString();
            output = output.mid(output.indexOf("board left") + 1);
        }
        output.clear();
        if (round == 0) {
            ASSERT_TRUE(sim.start(simArguments, true));
        }
    }
    ASSERT_EQ(::kill(pid_t(station->processId()), SIGINT), 0);
    ASSERT_TRUE(station->waitForFinished(kBoundMs));
    output += QString::fromLocal8Bit(station->readAll());
    EXPECT_EQ(station->exitCode(), 130) << output.toStdString();
    EXPECT_TRUE(output.contains("Total: 4 boards, 4 passed, 0 failed")) << output.toStdString();
    EXPECT_EQ(output.count(QRegularExpression("\\n[12] +-u port:\\S+ +passed +0 ")), 2)
        << output.toStdString();
    EXPECT_EQ(recordLines(recordPath).size(), 4);
}

// --all-usb without a board: exit status 2.
TEST_F(StationRun, AllUsbWithoutBoardIsExitTwo) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({}, true));
    QProcessEnvironment environment = sim.hidEnvironment();
    sim.stop();
    const auto station = startStation({"--all-usb", "--", "-r", "query-rte"}, environment);
    ASSERT_TRUE(station->waitForFinished(kBoundMs));
    const QString output = QString::fromLocal8Bit(station->readAll());
    EXPECT_EQ(station->exitCode(), 2) << output.toStdString();
    EXPECT_TRUE(output.contains("tarvo_station: no device found")) << output.toStdString();
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
