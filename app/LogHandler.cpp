#include "app/LogHandler.h"

#include <QMutexLocker>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/LogScrambler.h"

namespace RomCmd {

namespace {

// One write() in the normal case; 0, or the error that stopped it.
int writeAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const std::ptrdiff_t written = LogFile::writeSome(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        data += written;
        left -= size_t(written);
    }
    return 0;
}

// "[hh:mm:ss]", as QTime::toString(Qt::TextDate) writes the time.
std::string stampOf(const QTime& time) {
    char text[16];
    std::snprintf(text, sizeof text, "[%02d:%02d:%02d]", time.hour(), time.minute(), time.second());
    return text;
}

int64_t monotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

QString LogHandler::executableDirectory() {
    return LogFile::executableDirectory();
}

LogHandler& LogHandler::instance() {
    // Never destroyed: messages may still arrive while other statics are torn down.
    static LogHandler* const handler = new LogHandler;
    return *handler;
}

void LogHandler::install() {
    instance();
    qInstallMessageHandler(&LogHandler::handleMessage);
}

void LogHandler::handleMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    instance().handle(type, text);
}

QByteArray LogHandler::prefix(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return QByteArrayLiteral("[Debug] ");
        case QtWarningMsg:
            return QByteArrayLiteral("[Warning] ");
        case QtCriticalMsg:
            return QByteArrayLiteral("[Critical] ");
        case QtFatalMsg:
            return QByteArrayLiteral("[Fatal] ");
        case QtInfoMsg:
            return QByteArrayLiteral("[Info] ");
    }
    return QByteArrayLiteral("[Unknow Message Type] ");
}

QByteArray LogHandler::fileLine(const QTime& time, QtMsgType type, const QString& text) {
    return '[' + time.toString(Qt::TextDate).toLatin1() + ']' +
           LogScrambler::scramble(prefix(type) + text.toLocal8Bit());
}

QString LogHandler::besideDirectory(const QString& applicationDirectory) {
    return applicationDirectory + "/logs/tarvo_manufacturing_tool";
}

QString LogHandler::fallbackDirectory() {
    return LogFile::fallbackDirectory();
}

QString LogHandler::fileName(const QDate& date) {
    return date.toString(QStringLiteral("yyyy-MM-dd")) + ".log";
}

void LogHandler::setClock(Clock newClock) {
    QMutexLocker locker(&mutex);
    clock = std::move(newClock);
    stampSecond = -1;
}

void LogHandler::setApplicationDirectory(const QString& newDirectory) {
    QMutexLocker locker(&mutex);
    applicationDirectory = newDirectory;
    closeLocked();
    folder = Beside;
    fallbackAnnounced = false;
    writeFailureReported = false;
}

void LogHandler::setConsole(FILE* stream) {
    QMutexLocker locker(&mutex);
    console = stream;
    consoleTerminal = Unknown;
    progressLine = ProgressLine();
}

QString LogHandler::logDirectory() {
    QMutexLocker locker(&mutex);
    return besideDirectory(applicationDirectoryLocked());
}

QString LogHandler::logFilePath(const QDate& date) {
    return logDirectory() + '/' + fileName(date);
}

QString LogHandler::openFilePath() {
    QMutexLocker locker(&mutex);
    return file.isOpen() ? file.pathText() : QString();
}

QString LogHandler::applicationDirectoryLocked() {
    if (applicationDirectory.isEmpty()) {
        applicationDirectory = executableDirectory();
    }
    return applicationDirectory;
}

FILE* LogHandler::consoleStreamLocked() const {
    return console ? console : stdout;
}

bool LogHandler::consoleIsTerminalLocked() {
    if (consoleTerminal == Unknown) {
        consoleTerminal = LogFile::isTerminal(consoleStreamLocked()) ? IsTerminal : NotTerminal;
    }
    return consoleTerminal == IsTerminal;
}

void LogHandler::consoleLocked(const QByteArray& prefix, const QByteArray& text) {
    // Past stdio, which splits what exceeds its buffer; anything printed through the stream
    // before goes out first.
    FILE* stream = consoleStreamLocked();
    std::fflush(stream);
    consoleBytes.clear();
    // A transfer's line on the terminal ends before any other message.
    progressLine.close(&consoleBytes);
    consoleBytes.append(prefix.constData(), size_t(prefix.size()))
        .append(text.constData(), size_t(text.size()))
        .append("\n\n");
    writeAll(fileno(stream), consoleBytes);
}

void LogHandler::progressLocked(const QByteArray& prefix, const ProgressRecord& record) {
    FILE* stream = consoleStreamLocked();
    std::fflush(stream);
    consoleBytes.clear();
    const int columns = progressLine.isOpen() ? 0 : LogFile::terminalColumns(stream);
    progressLine.update(prefix, record, monotonicMs(), columns, &consoleBytes);
    if (!consoleBytes.empty()) {
        writeAll(fileno(stream), consoleBytes);
    }
}

void LogHandler::closeLocked() {
    file.close();
    fileDate = QDate();
    checkedSecond = -1;
}

bool LogHandler::fileReadyLocked(const QDate& date, const QTime& time) {
    if (folder == NoFolder) {
        return false;
    }
    if (file.isOpen() && date == fileDate) {
        // A file removed or rotated underneath us is noticed within a second.
        const int second = time.msecsSinceStartOfDay() / 1000;
        if (second == checkedSecond) {
            return true;
        }
        checkedSecond = second;
        if (file.stillAtItsPath()) {
            return true;
        }
    }
    closeLocked();
    return openLocked(date, time);
}

bool LogHandler::openLocked(const QDate& date, const QTime& time) {
    const QString name = fileName(date);
    QStringList failures;
    while (folder != NoFolder) {
        const QString directory =
            folder == Beside ? besideDirectory(applicationDirectoryLocked()) : fallbackDirectory();
        QString error;
        if (file.open(directory, name, folder == Fallback, &error)) {
            fileDate = date;
            checkedSecond = time.msecsSinceStartOfDay() / 1000;
            if (folder == Fallback && !fallbackAnnounced) {
                fallbackAnnounced = true;
                const QString text = "The log folder beside the tool cannot be written (" +
                                     failures.join(", ") + "), the log goes to: " + directory;
                consoleLocked(prefix(QtWarningMsg), text.toLocal8Bit());
                const QByteArray line = fileLine(time, QtWarningMsg, text) + '\n';
                writeFileLocked(std::string(line.constData(), size_t(line.size())));
            }
            return true;
        }
        failures.append(directory + ": " + error);
        folder = Folder(folder + 1);
    }
    const QString text = "No log folder can be written (" + failures.join(", ") +
                         "), this run is not logged to a file";
    consoleLocked(prefix(QtWarningMsg), text.toLocal8Bit());
    return false;
}

void LogHandler::writeFileLocked(const std::string& line) {
    const int error = writeAll(file.descriptor(), line);
    if (error != 0 && !writeFailureReported) {
        writeFailureReported = true;
        const QString text = "Writing the log file " + file.pathText() + " failed (" +
                             LogFile::errorText(error) + "), log lines are lost";
        consoleLocked(prefix(QtWarningMsg), text.toLocal8Bit());
    }
}

// QDateTime::currentDateTime() has glibc examine /etc/localtime on every call; localtime_r
// reads the zone once per process. Both are asked once a second only.
void LogHandler::nowLocked(QDate* date, QTime* time) {
    if (clock) {
        const QDateTime now = clock();
        const qint64 second = now.toSecsSinceEpoch();
        if (second != stampSecond) {
            stampSecond = second;
            stampDate = now.date();
            stampTime = now.time();
            stamp = stampOf(stampTime);
        }
    } else {
        const std::time_t second = LogFile::currentSecond();
        if (second != stampSecond) {
            const tm local = LogFile::localTime(second);
            stampSecond = second;
            stampDate = QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
            stampTime = QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59));
            stamp = stampOf(stampTime);
        }
    }
    *date = stampDate;
    *time = stampTime;
}

void LogHandler::handle(QtMsgType type, const QString& text) {
    QMutexLocker locker(&mutex);

    // One reading of the clock, so the file chosen and the stamp written always agree.
    QDate date;
    QTime time;
    nowLocked(&date, &time);
    const bool haveFile = fileReadyLocked(date, time);
    const QByteArray levelPrefix = prefix(type);
    const QByteArray clear = text.toLocal8Bit();
    if (type != QtDebugMsg) {
        const ProgressRecord* const progress = progressBeingLogged();
        if (progress != nullptr && consoleIsTerminalLocked()) {
            progressLocked(levelPrefix, *progress);
        } else {
            consoleLocked(levelPrefix, clear);
        }
    }
    if (haveFile) {
        // Written whole, fatal included, so the reason for an abort is kept and the next
        // run's first line does not get glued to a half-written one.
        clearBytes.assign(levelPrefix.constData(), size_t(levelPrefix.size()))
            .append(clear.constData(), size_t(clear.size()));
        fileBytes = stamp;
        LogScrambler::appendScrambled(clearBytes.data(), clearBytes.size(), &scrambleBytes,
                                      &fileBytes);
        fileBytes += '\n';
        writeFileLocked(fileBytes);
    }
    if (type == QtFatalMsg) {
        std::abort();
    }
}

}  // namespace RomCmd
