#include "app/LogHandler.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "app/LogScrambler.h"

namespace RomCmd {

namespace {

#ifndef _WIN32
QString homeDirectory() {
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty()) {
        return QFile::decodeName(home);
    }
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr ? QFile::decodeName(entry->pw_dir) : QString();
}
#endif

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// One write() in the normal case; 0, or the error that stopped it.
int writeAll(int fd, const char* data, size_t left) {
    while (left > 0) {
#ifdef _WIN32
        // The C runtime takes an unsigned count.
        const int written = ::_write(fd, data, unsigned(std::min<size_t>(left, INT_MAX)));
#else
        const ssize_t written = ::write(fd, data, left);
#endif
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

int writeAll(int fd, const std::string& bytes) {
    return writeAll(fd, bytes.data(), bytes.size());
}

#ifdef _WIN32
int closeFile(int fd) {
    return ::_close(fd);
}

bool isTerminal(int fd) {
    return ::_isatty(fd) != 0;
}

std::time_t currentSecond() {
    return std::time(nullptr);
}

void localTimeOf(std::time_t second, tm* local) {
    ::localtime_s(local, &second);
}

QString pathText(const QString& path) {
    return QDir::toNativeSeparators(path);
}
#else
int closeFile(int fd) {
    return ::close(fd);
}

bool isTerminal(int fd) {
    return ::isatty(fd);
}

std::time_t currentSecond() {
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

void localTimeOf(std::time_t second, tm* local) {
    ::localtime_r(&second, local);
}

QString pathText(const QByteArray& path) {
    return QFile::decodeName(path);
}

// Creates the missing folders of `path` with `mode`; folders already there keep theirs.
// 0, or the error that stopped it.
int makeFolders(const QByteArray& path, mode_t mode) {
    struct stat status;
    if (::stat(path.constData(), &status) == 0) {
        return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
    }
    const int slash = path.lastIndexOf('/');
    if (slash > 0) {
        const int error = makeFolders(path.left(slash), mode);
        if (error != 0) {
            return error;
        }
    }
    return ::mkdir(path.constData(), mode) == 0 || errno == EEXIST ? 0 : errno;
}
#endif

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

int terminalColumns(FILE* stream) {
#if defined(TIOCGWINSZ)
    winsize size{};
    if (::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0) {
        return size.ws_col;
    }
#elif defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE console = HANDLE(::_get_osfhandle(::_fileno(stream)));
    if (::GetConsoleScreenBufferInfo(console, &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
#else
    Q_UNUSED(stream);
#endif
    return 0;
}

bool isProgressMessage(const QMessageLogContext& context) {
    const char* const name = progressCategory().categoryName();
    return context.category != nullptr &&
           (context.category == name || std::strcmp(context.category, name) == 0);
}

}  // namespace

// QCoreApplication::applicationDirPath() may not exist yet and warns when asked too early,
// and a warning from inside the handler would deadlock on its own mutex.
#ifdef _WIN32
QString LogHandler::executableDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0) {
            return QDir::currentPath();
        }
        // A full buffer means the path was cut.
        if (length < buffer.size()) {
            return QFileInfo(QString::fromWCharArray(buffer.data(), int(length))).absolutePath();
        }
        buffer.resize(buffer.size() * 2);
    }
}
#else
QString LogHandler::executableDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return QDir::currentPath();
        }
        if (size_t(length) < buffer.size()) {
            const QString path = QString::fromLocal8Bit(buffer.data(), int(length));
            return QFileInfo(path).absolutePath();
        }
        buffer.resize(buffer.size() * 2);
    }
}
#endif

LogHandler& LogHandler::instance() {
    // Never destroyed: messages may still arrive while other statics are torn down.
    static LogHandler* const handler = new LogHandler;
    return *handler;
}

void LogHandler::install() {
    instance();
    qInstallMessageHandler(&LogHandler::handleMessage);
}

void LogHandler::handleMessage(QtMsgType type, const QMessageLogContext& context,
                               const QString& text) {
    instance().handle(type, context, text);
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
#ifdef _WIN32
    QString local = QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA"));
    if (!QDir::isAbsolutePath(local)) {
        local = QDir::homePath() + "/AppData/Local";
    }
    return local + "/tarvo_manufacturing_tool/logs";
#else
    // A relative XDG_STATE_HOME is invalid and ignored, as for every XDG variable.
    QString state = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (!QDir::isAbsolutePath(state)) {
        state = homeDirectory() + "/.local/state";
    }
    return state + "/tarvo_manufacturing_tool/logs";
#endif
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
    return fd >= 0 ? pathText(filePath) : QString();
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
        consoleTerminal = isTerminal(fileno(consoleStreamLocked())) ? IsTerminal : NotTerminal;
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
    const int columns = progressLine.isOpen() ? 0 : terminalColumns(stream);
    progressLine.update(prefix, record, monotonicMs(), columns, &consoleBytes);
    if (!consoleBytes.empty()) {
        writeAll(fileno(stream), consoleBytes);
    }
}

void LogHandler::closeLocked() {
    if (fd >= 0) {
        closeFile(fd);
    }
    fd = -1;
    fileDate = QDate();
    checkedSecond = -1;
}

#ifdef _WIN32
// Windows renames or removes no file open without delete sharing, as ours is, so a file at
// the path is ours.
bool LogHandler::stillOursLocked() const {
    struct _stat64 status;
    return ::_wstat64(reinterpret_cast<const wchar_t*>(filePath.utf16()), &status) == 0;
}
#else
bool LogHandler::stillOursLocked() const {
    struct stat status;
    return ::stat(filePath.constData(), &status) == 0 && status.st_dev == fileDevice &&
           status.st_ino == fileInode;
}
#endif

bool LogHandler::fileReadyLocked(const QDate& date, const QTime& time) {
    if (folder == NoFolder) {
        return false;
    }
    if (fd >= 0 && date == fileDate) {
        // A file removed or rotated underneath us is noticed within a second.
        const int second = time.msecsSinceStartOfDay() / 1000;
        if (second == checkedSecond) {
            return true;
        }
        checkedSecond = second;
        if (stillOursLocked()) {
            return true;
        }
    }
    closeLocked();
    return openLocked(date, time);
}

bool LogHandler::openIn(const QString& folderPath, const QString& name, QString* error) {
#ifdef _WIN32
    if (!QDir().mkpath(folderPath)) {
        // Qt creates folders with Win32 calls, which leave errno alone.
        *error = QStringLiteral("the folder cannot be created");
        return false;
    }
    // Binary, so the file holds exactly the bytes written; not inherited by the image tool.
    const QString path = folderPath + '/' + name;
    const int opened =
        ::_wopen(reinterpret_cast<const wchar_t*>(path.utf16()),
                 _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (opened < 0) {
        *error = errorText(errno);
        return false;
    }
    fd = opened;
    filePath = path;
    return true;
#else
    // Private: the log holds memory and OTP dumps. The per-user folder is the user's alone.
    const int folderError =
        makeFolders(QFile::encodeName(folderPath), folder == Fallback ? 0700 : 0750);
    if (folderError != 0) {
        *error = errorText(folderError);
        return false;
    }
    // Never through a link, and only into a file of our own: another user who can write the
    // folder could otherwise point the day's file at any file of ours. Not waiting on a FIFO.
    const QByteArray path = QFile::encodeName(folderPath + '/' + name);
    const int opened =
        ::open(path.constData(),
               O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
    if (opened < 0 && errno == ELOOP) {
        *error = name + " is a symbolic link";
        return false;
    }
    struct stat status;
    if (opened < 0 || ::fstat(opened, &status) != 0) {
        *error = errorText(errno);
        if (opened >= 0) {
            ::close(opened);
        }
        return false;
    }
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        ::close(opened);
        *error = name + " is not a regular file of this user";
        return false;
    }
    fd = opened;
    filePath = path;
    fileDevice = status.st_dev;
    fileInode = status.st_ino;
    return true;
#endif
}

bool LogHandler::openLocked(const QDate& date, const QTime& time) {
    const QString name = fileName(date);
    QStringList failures;
    while (folder != NoFolder) {
        const QString directory =
            folder == Beside ? besideDirectory(applicationDirectoryLocked()) : fallbackDirectory();
        QString error;
        if (openIn(directory, name, &error)) {
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
    const int error = writeAll(fd, line);
    if (error != 0 && !writeFailureReported) {
        writeFailureReported = true;
        const QString text = "Writing the log file " + pathText(filePath) + " failed (" +
                             errorText(error) + "), log lines are lost";
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
        const std::time_t second = currentSecond();
        if (second != stampSecond) {
            tm local;
            localTimeOf(second, &local);
            stampSecond = second;
            stampDate = QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
            stampTime = QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59));
            stamp = stampOf(stampTime);
        }
    }
    *date = stampDate;
    *time = stampTime;
}

void LogHandler::handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    QMutexLocker locker(&mutex);

    // One reading of the clock, so the file chosen and the stamp written always agree.
    QDate date;
    QTime time;
    nowLocked(&date, &time);
    const bool haveFile = fileReadyLocked(date, time);
    const QByteArray levelPrefix = prefix(type);
    const QByteArray clear = text.toLocal8Bit();
    if (type != QtDebugMsg) {
        if (isProgressMessage(context) && consoleIsTerminalLocked() &&
            parseProgress(text, &progress)) {
            progressLocked(levelPrefix, progress);
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
