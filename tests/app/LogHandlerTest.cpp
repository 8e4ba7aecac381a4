#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/LogHandler.h"
#include "app/LogScrambler.h"
#include "console/ProgressMessage.h"

namespace RomCmd {
namespace {

const QDateTime kNoon(QDate(2026, 3, 1), QTime(10, 11, 12));

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray("<missing>");
    }
    return file.readAll();
}

// Clear text of every line of a log file, each preceded by its stamp.
QList<QByteArray> decodedLines(const QString& path) {
    QList<QByteArray> result;
    for (const QByteArray& line : readAll(path).split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        QByteArray clear;
        if (line.size() < 10 || !LogScrambler::unscramble(line.mid(10), &clear)) {
            result.append("<undecodable> " + line);
        } else {
            result.append(line.left(10) + clear);
        }
    }
    return result;
}

class LogHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        consolePath = dir.filePath("console.txt");
        console = std::fopen(QFile::encodeName(consolePath).constData(), "w+");
        ASSERT_NE(console, nullptr);
        // Never the real per-user folder, whatever a case does to the folder beside the tool.
        savedState = qgetenv("XDG_STATE_HOME");
        hadState = qEnvironmentVariableIsSet("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath("state")));
        handler().setApplicationDirectory(dir.path());
        handler().setConsole(console);
        setTime(kNoon);
    }
    void TearDown() override {
        handler().setClock({});
        handler().setApplicationDirectory(QString());
        handler().setConsole(nullptr);
        std::fclose(console);
        if (hadState) {
            qputenv("XDG_STATE_HOME", savedState);
        } else {
            qunsetenv("XDG_STATE_HOME");
        }
    }

    static LogHandler& handler() { return LogHandler::instance(); }
    static void log(QtMsgType type, const QString& text) {
        LogHandler::handleMessage(type, QMessageLogContext(), text);
    }
    void setTime(const QDateTime& time) {
        handler().setClock([time] { return time; });
    }
    QByteArray consoleText() const { return readAll(consolePath); }
    QString logFile(const QString& day) const {
        return dir.path() + "/logs/tarvo_manufacturing_tool/" + day + ".log";
    }

    void clearConsole() {
        ASSERT_EQ(std::fflush(console), 0);
        ASSERT_EQ(::ftruncate(fileno(console), 0), 0);
        std::rewind(console);
    }

    QTemporaryDir dir;
    QString consolePath;
    FILE* console = nullptr;
    QByteArray savedState;
    bool hadState = false;
};

TEST_F(LogHandlerTest, EachLevelReachesConsoleAndFile) {
    struct Case {
        QtMsgType type;
        QByteArray console;  // empty: the level never reaches the console
        QByteArray clear;
    };
    const Case cases[] = {
        {QtInfoMsg, "[Info] abc\n\n", "[Info] abc"},
        {QtWarningMsg, "[Warning] abc\n\n", "[Warning] abc"},
        {QtCriticalMsg, "[Critical] abc\n\n", "[Critical] abc"},
        {QtDebugMsg, "", "[Debug] abc"},
        {QtMsgType(5), "[Unknow Message Type] abc\n\n", "[Unknow Message Type] abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clear.toStdString());
        QFile::resize(logFile("2026-03-01"), 0);
        clearConsole();

        log(c.type, "abc");

        EXPECT_EQ(consoleText().toStdString(), c.console.toStdString());
        EXPECT_EQ(readAll(logFile("2026-03-01")).toStdString(),
                  ("[10:11:12]" + LogScrambler::scramble(c.clear) + "\n").toStdString());
    }
}

TEST_F(LogHandlerTest, InfoLineMatchesKnownScrambledText) {
    log(QtInfoMsg, "abc");
    EXPECT_EQ(readAll(logFile("2026-03-01")).toStdString(), "[10:11:12]BVtYGA0cAR4WLwg5Kg9rYg==\n");
}

TEST_F(LogHandlerTest, MessagesAppendInOrderAndKeepLineBreaksInside) {
    const QString texts[] = {
        "first",
        "\r\nTarvo Manufacturing Tool End! Version:  \"0.6.0\" \r\n",
        QString::fromUtf8("temp \xe6\xb8\xa9\xe5\xba\xa6 \xc3\xa4\xc3\xb6\xc3\xbc"),
        QString(200, QChar('x')),
    };
    for (const QString& text : texts) {
        log(QtInfoMsg, text);
    }
    const QList<QByteArray> lines = decodedLines(logFile("2026-03-01"));
    ASSERT_EQ(lines.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(QString::fromLocal8Bit(lines.at(i)).toStdString(),
                  ("[10:11:12][Info] " + texts[i]).toStdString());
    }
    QByteArray expectedConsole;
    for (const QString& text : texts) {
        expectedConsole += "[Info] " + text.toLocal8Bit() + "\n\n";
    }
    EXPECT_EQ(consoleText().toHex().toStdString(), expectedConsole.toHex().toStdString());
}

TEST_F(LogHandlerTest, MidnightStartsNextDaysFile) {
    setTime(QDateTime(QDate(2026, 2, 28), QTime(23, 59, 59)));
    log(QtInfoMsg, "before");
    setTime(QDateTime(QDate(2026, 3, 1), QTime(0, 0, 0)));
    log(QtInfoMsg, "after");

    const QList<QByteArray> before = decodedLines(logFile("2026-02-28"));
    const QList<QByteArray> after = decodedLines(logFile("2026-03-01"));
    ASSERT_EQ(before.size(), 1);
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(before.at(0).toStdString(), "[23:59:59][Info] before");
    EXPECT_EQ(after.at(0).toStdString(), "[00:00:00][Info] after");
}

TEST_F(LogHandlerTest, CreatesMissingFolders) {
    const QString appDir = dir.path() + "/not/yet";
    handler().setApplicationDirectory(appDir);
    log(QtDebugMsg, "hidden");

    EXPECT_TRUE(QDir(appDir + "/logs").exists());
    const QList<QByteArray> lines =
        decodedLines(appDir + "/logs/tarvo_manufacturing_tool/2026-03-01.log");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.at(0).toStdString(), "[10:11:12][Debug] hidden");
    EXPECT_EQ(consoleText().toStdString(), "");
}

TEST_F(LogHandlerTest, UnwritableLogFolderFallsBackToTheStateFolder) {
    struct Case {
        const char* name;
        const char* blocker;  // made a plain file or a folder in the way of the log
        bool asFolder;
        bool stateBlocked;  // a plain file in the way of the state folder as well
    };
    const Case cases[] = {
        {"LogsIsAFile", "logs", false, false},
        {"DayFileIsAFolder", "logs/tarvo_manufacturing_tool/2026-03-01.log", true, false},
        {"NoFolderAtAll", "logs", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir appDir;
        QTemporaryDir stateDir;
        const QString blocker = appDir.path() + "/" + c.blocker;
        if (c.asFolder) {
            ASSERT_TRUE(QDir().mkpath(blocker));
        } else {
            QFile file(blocker);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        if (c.stateBlocked) {
            QFile file(stateDir.filePath("tarvo_manufacturing_tool"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        qputenv("XDG_STATE_HOME", QFile::encodeName(stateDir.path()));
        handler().setApplicationDirectory(appDir.path());
        clearConsole();

        // Installed for real, so a warning from inside the handler would show up on stderr.
        const QtMessageHandler previous = qInstallMessageHandler(&LogHandler::handleMessage);
        ::testing::internal::CaptureStderr();
        qCritical() << "still shown";
        qInfo("and again");
        const std::string stderrText = ::testing::internal::GetCapturedStderr();
        qInstallMessageHandler(previous);
        EXPECT_EQ(stderrText, "");

        // One warning, before the first message, naming the folder used (or saying none is).
        const QString fallback = stateDir.path() + "/tarvo_manufacturing_tool/logs";
        const QString shown = QString::fromLocal8Bit(consoleText());
        const QString warning = shown.section("\n\n", 0, 0);
        EXPECT_TRUE(warning.startsWith("[Warning] ")) << shown.toStdString();
        EXPECT_TRUE(warning.contains(appDir.path() + "/logs/tarvo_manufacturing_tool"))
            << warning.toStdString();
        EXPECT_TRUE(warning.endsWith(c.stateBlocked ? QString("this run is not logged to a file")
                                                    : "the log goes to: " + fallback))
            << warning.toStdString();
        EXPECT_EQ(shown.mid(warning.size()).toStdString(),
                  "\n\n[Critical] still shown\n\n[Info] and again\n\n");
        EXPECT_EQ(QFileInfo(blocker).isDir(), c.asFolder);

        const QList<QByteArray> lines = decodedLines(fallback + "/2026-03-01.log");
        if (c.stateBlocked) {
            EXPECT_EQ(lines, QList<QByteArray>{"<undecodable> <missing>"});
        } else {
            ASSERT_EQ(lines.size(), 3);
            EXPECT_EQ(QString::fromLocal8Bit(lines.at(0)), "[10:11:12]" + warning);
            EXPECT_EQ(lines.at(1).toStdString(), "[10:11:12][Critical] still shown");
            EXPECT_EQ(lines.at(2).toStdString(), "[10:11:12][Info] and again");
        }
    }
}

mode_t modeOf(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777
                                                                      : mode_t(-1);
}

// The day's file is written only as a regular file of our own, never through a link: whoever
// can write the folder could otherwise point the log at any file of ours. What the handler
// creates is private, as the log holds memory dumps.
TEST_F(LogHandlerTest, DayFileThatIsNotOursGoesToTheFallback) {
    struct Case {
        const char* name;
        const char* planted;  // what stands at the day's path: link, dangling, foreign or none
        const char* reason;
    };
    const Case cases[] = {
        {"Nothing", "none", nullptr},
        {"LinkToAFile", "link", "2026-03-01.log is a symbolic link"},
        {"LinkToNothing", "dangling", "2026-03-01.log is a symbolic link"},
        {"FileOfAnotherUser", "foreign", "2026-03-01.log is not a regular file of this user"},
    };
    const passwd* nobody = ::getpwnam("nobody");
    const mode_t savedMask = ::umask(022);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray planted(c.planted);
        if (planted == "foreign" && (::geteuid() != 0 || nobody == nullptr)) {
            std::printf("skipped %s: needs root and the user nobody\n", c.name);
            continue;
        }
        QTemporaryDir appDir;
        QTemporaryDir stateDir;
        QTemporaryDir elsewhere;
        const QString folder = appDir.path() + "/logs/tarvo_manufacturing_tool";
        const QString dayFile = folder + "/2026-03-01.log";
        const QString victim = elsewhere.filePath("victim");
        {
            QFile file(victim);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("keep");
        }
        if (planted != "none") {
            ASSERT_TRUE(QDir().mkpath(folder));
        }
        if (planted == "link") {
            ASSERT_TRUE(QFile::link(victim, dayFile));
        } else if (planted == "dangling") {
            ASSERT_TRUE(QFile::link(elsewhere.filePath("created"), dayFile));
        } else if (planted == "foreign") {
            ASSERT_TRUE(QFile::copy(victim, dayFile));
            ASSERT_EQ(
                ::chown(QFile::encodeName(dayFile).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        qputenv("XDG_STATE_HOME", QFile::encodeName(stateDir.path()));
        handler().setApplicationDirectory(appDir.path());
        clearConsole();
        log(QtInfoMsg, "secret");

        const QString fallback = stateDir.path() + "/tarvo_manufacturing_tool/logs";
        const QString used = c.reason != nullptr ? fallback : folder;
        const QString shown = QString::fromLocal8Bit(consoleText());
        if (c.reason != nullptr) {
            EXPECT_EQ(
                shown.toStdString(),
                ("[Warning] The log folder beside the tool cannot be written (" + folder + ": " +
                 c.reason + "), the log goes to: " + fallback + "\n\n[Info] secret\n\n")
                    .toStdString());
            EXPECT_EQ(modeOf(fallback), mode_t(0700));
            EXPECT_EQ(modeOf(stateDir.path() + "/tarvo_manufacturing_tool"), mode_t(0700));
        } else {
            EXPECT_EQ(shown.toStdString(), "[Info] secret\n\n");
            EXPECT_EQ(modeOf(appDir.path() + "/logs"), mode_t(0750));
            EXPECT_EQ(modeOf(folder), mode_t(0750));
        }
        const QList<QByteArray> lines = decodedLines(used + "/2026-03-01.log");
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.last().toStdString(), "[10:11:12][Info] secret");
        EXPECT_EQ(modeOf(used + "/2026-03-01.log"), mode_t(0640));
        EXPECT_EQ(readAll(victim), QByteArray("keep"));
        EXPECT_FALSE(QFileInfo::exists(elsewhere.filePath("created")));
        if (planted == "foreign") {
            EXPECT_EQ(readAll(dayFile), QByteArray("keep"));
        }
    }
    ::umask(savedMask);
}

TEST(LogHandlerPaths, FallbackFolderFollowsXdgStateHome) {
    struct Case {
        const char* state;  // nullptr: unset
        const char* expected;
    };
    const Case cases[] = {
        {"/srv/state", "/srv/state/tarvo_manufacturing_tool/logs"},
        {nullptr, "/home/op/.local/state/tarvo_manufacturing_tool/logs"},
        {"", "/home/op/.local/state/tarvo_manufacturing_tool/logs"},
        {"relative/state", "/home/op/.local/state/tarvo_manufacturing_tool/logs"},
    };
    const QByteArray savedHome = qgetenv("HOME");
    const bool hadState = qEnvironmentVariableIsSet("XDG_STATE_HOME");
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", "/home/op");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state ? c.state : "unset");
        if (c.state) {
            qputenv("XDG_STATE_HOME", c.state);
        } else {
            qunsetenv("XDG_STATE_HOME");
        }
        EXPECT_EQ(LogHandler::fallbackDirectory().toStdString(), c.expected);
    }
    qputenv("HOME", savedHome);
    if (hadState) {
        qputenv("XDG_STATE_HOME", savedState);
    } else {
        qunsetenv("XDG_STATE_HOME");
    }
}

TEST_F(LogHandlerTest, RemovedOrRotatedFileIsReopened) {
    struct Case {
        const char* name;
        bool rotate;  // renamed away instead of removed
        bool create;  // and a new empty file made at the path, as logrotate's "create" does
    };
    const Case cases[] = {
        {"Removed", false, false}, {"Rotated", true, false}, {"RotatedThenCreated", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = logFile("2026-03-01");
        const QString rotated = path + ".1";
        QFile::remove(path);
        QFile::remove(rotated);
        setTime(kNoon);
        log(QtInfoMsg, "before");
        if (c.rotate) {
            ASSERT_TRUE(QFile::rename(path, rotated));
        } else {
            ASSERT_TRUE(QFile::remove(path));
        }
        if (c.create) {
            QFile created(path);
            ASSERT_TRUE(created.open(QIODevice::WriteOnly));
        }
        setTime(kNoon.addSecs(1));
        log(QtInfoMsg, "after");

        EXPECT_EQ(decodedLines(path), QList<QByteArray>{"[10:11:13][Info] after"});
        if (c.rotate) {
            EXPECT_EQ(decodedLines(rotated), QList<QByteArray>{"[10:11:12][Info] before"});
        }
    }
}

TEST_F(LogHandlerTest, FailedFileWriteIsReportedOnce) {
    const QString path = logFile("2026-03-01");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    // The day's file already at the size limit: every line written to it fails (the console
    // file stays far below the limit).
    constexpr rlim_t kLimit = 4096;
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(QByteArray(int(kLimit), '\n')), qint64(kLimit));
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = kLimit;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    log(QtInfoMsg, "first");
    log(QtInfoMsg, "second");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(consoleText().toStdString(), "[Info] first\n\n[Warning] Writing the log file " +
                                               path.toStdString() +
                                               " failed (File too large), log lines are lost\n\n"
                                               "[Info] second\n\n");
}

TEST_F(LogHandlerTest, ConcurrentMessagesStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kMessages = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int m = 0; m < kMessages; ++m) {
                log(QtInfoMsg,
                    QString("thread %1 message %2 %3").arg(t).arg(m).arg(QString(40, 'y')));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    const QList<QByteArray> lines = decodedLines(logFile("2026-03-01"));
    ASSERT_EQ(lines.size(), kThreads * kMessages);
    QList<QByteArray> consoleMessages = consoleText().split('\n');
    int next[kThreads] = {};
    for (const QByteArray& line : lines) {
        ASSERT_TRUE(line.startsWith("[10:11:12][Info] thread ")) << line.toStdString();
        const QList<QByteArray> words = line.split(' ');
        const int t = words.at(2).toInt();
        ASSERT_TRUE(t >= 0 && t < kThreads);
        // Each thread's messages keep their order.
        EXPECT_EQ(words.at(4).toInt(), next[t]++);
    }
    // Console: message, line end, empty line, for every message with nothing in between.
    ASSERT_EQ(consoleMessages.size(), kThreads * kMessages * 2 + 1);
    for (int i = 0; i < kThreads * kMessages; ++i) {
        EXPECT_TRUE(consoleMessages.at(2 * i).startsWith("[Info] thread "));
        EXPECT_TRUE(consoleMessages.at(2 * i + 1).isEmpty());
    }
}

TEST_F(LogHandlerTest, FatalWritesWholeLineThenAborts) {
    ::testing::FLAGS_gtest_death_test_style = "fast";
    EXPECT_DEATH(log(QtFatalMsg, "boom"), "");

    const QList<QByteArray> lines = decodedLines(logFile("2026-03-01"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.at(0).toStdString(), "[10:11:12][Fatal] boom");
    EXPECT_EQ(consoleText().toStdString(), "[Fatal] boom\n\n");
}

// The progress of two transfers and the messages around them, through the real message path.
void logTwoTransfers() {
    const QtMessageHandler previous = qInstallMessageHandler(&LogHandler::handleMessage);
    logProgress("Write Memory.", 1100, 496);
    qInfo("between");
    logProgress("Load Image.", 1016, 508);
    logProgress("Load Image.", 1016, 1016);
    qInfo("after");
    qInstallMessageHandler(previous);
}

const char* const kTwoTransfersInFile[] = {
    "[10:11:12][Info] Write Memory.  Progress:  496  Total:  1100",
    "[10:11:12][Info] between",
    "[10:11:12][Info] Load Image.  Progress:  508  Total:  1016",
    "[10:11:12][Info] Load Image.  Progress:  1016  Total:  1016",
    "[10:11:12][Info] after",
};

// Everything the other end of the pipe or terminal got until it was quiet for a moment.
QByteArray drain(int fd) {
    QByteArray bytes;
    char buffer[4096];
    pollfd input{fd, POLLIN, 0};
    while (::poll(&input, 1, 300) == 1) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        bytes.append(buffer, int(n));
    }
    return bytes;
}

// What a raw terminal of this many columns shows of the two transfers.
QString shownOnTerminal(unsigned short columns, FILE* console) {
    int master = -1;
    int slave = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
    termios raw{};
    EXPECT_EQ(::tcgetattr(slave, &raw), 0);
    ::cfmakeraw(&raw);
    EXPECT_EQ(::tcsetattr(slave, TCSANOW, &raw), 0);
    FILE* terminal = ::fdopen(slave, "w");
    if (terminal == nullptr) {
        ADD_FAILURE() << "no terminal";
        return QString();
    }
    LogHandler::instance().setConsole(terminal);

    logTwoTransfers();
    LogHandler::instance().setConsole(console);
    const QString shown = QString::fromLatin1(drain(master));
    std::fclose(terminal);
    ::close(master);
    return shown;
}

TEST_F(LogHandlerTest, TerminalShowsOneRewrittenLinePerTransfer) {
    const QString shown = shownOnTerminal(80, console);

    // The first state of a transfer has no rate yet; the last is always drawn and ends the
    // line, as does any other message.
    const QRegularExpression expected(QRegularExpression::anchoredPattern(
        "\\r\\[Info\\] Write Memory\\.   45%  496 B of 1\\.1 KiB  -- B/s  --:-- left\n\n"
        "\\[Info\\] between\n\n"
        "\\r\\[Info\\] Load Image\\.   50%  508 B of 1016 B  -- B/s  --:-- left"
        "\\r\\[Info\\] Load Image\\.  100%  1016 B of 1016 B  "
        "(-- B/s|[0-9.]+ (B|KiB|MiB)/s)  0:00 left *\n\n"
        "\\[Info\\] after\n\n"));
    EXPECT_TRUE(expected.match(shown).hasMatch()) << shown.toStdString();
    const QList<QByteArray> lines = decodedLines(logFile("2026-03-01"));
    ASSERT_EQ(lines.size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines.at(i).toStdString(), kTwoTransfersInFile[i]);
    }
}

// A line reaching the last column would wrap, and "\r" would then rewrite only its last row.
TEST_F(LogHandlerTest, ProgressLineStopsBeforeTheTerminalsLastColumn) {
    EXPECT_EQ(shownOnTerminal(40, console).toStdString(),
              "\r[Info] Write Memory.   45%  496 B of 1.\n\n"
              "[Info] between\n\n"
              "\r[Info] Load Image.   50%  508 B of 1016"
              "\r[Info] Load Image.  100%  1016 B of 101\n\n"
              "[Info] after\n\n");
}

TEST_F(LogHandlerTest, PipeGetsEveryProgressLineAsItIs) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    FILE* pipe = ::fdopen(ends[1], "w");
    ASSERT_NE(pipe, nullptr);
    handler().setConsole(pipe);

    logTwoTransfers();
    handler().setConsole(console);
    std::fclose(pipe);
    const QByteArray shown = drain(ends[0]);
    ::close(ends[0]);

    EXPECT_EQ(shown.toStdString(),
              "[Info] Write Memory.  Progress:  496  Total:  1100\n\n"
              "[Info] between\n\n"
              "[Info] Load Image.  Progress:  508  Total:  1016\n\n"
              "[Info] Load Image.  Progress:  1016  Total:  1016\n\n"
              "[Info] after\n\n");
    const QList<QByteArray> lines = decodedLines(logFile("2026-03-01"));
    ASSERT_EQ(lines.size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines.at(i).toStdString(), kTwoTransfersInFile[i]);
    }
}

TEST(LogHandlerPaths, FolderAndFileNames) {
    LogHandler::instance().setApplicationDirectory("/opt/tarvo");
    EXPECT_EQ(LogHandler::instance().logDirectory().toStdString(),
              "/opt/tarvo/logs/tarvo_manufacturing_tool");
    EXPECT_EQ(LogHandler::instance().logFilePath(QDate(2026, 3, 1)).toStdString(),
              "/opt/tarvo/logs/tarvo_manufacturing_tool/2026-03-01.log");
    LogHandler::instance().setApplicationDirectory(QString());
    // By default the folder of the running program, found without QCoreApplication.
    EXPECT_EQ(
        LogHandler::instance().logDirectory().toStdString(),
        (QCoreApplication::applicationDirPath() + "/logs/tarvo_manufacturing_tool").toStdString());
}

}  // namespace
}  // namespace RomCmd
