#include "app/LogFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <vector>

namespace RomCmd {

namespace {

QString homeDirectory() {
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty()) {
        return QFile::decodeName(home);
    }
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr ? QFile::decodeName(entry->pw_dir) : QString();
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

}  // namespace

bool LogFile::open(const QString& folder, const QString& name, bool userOnly, QString* error) {
    // Private: the log holds memory and OTP dumps. The per-user folder is the user's alone.
    const int folderError = makeFolders(QFile::encodeName(folder), userOnly ? 0700 : 0750);
    if (folderError != 0) {
        *error = errorText(folderError);
        return false;
    }
    // Never through a link, and only into a file of our own: another user who can write the
    // folder could otherwise point the day's file at any file of ours. Not waiting on a FIFO.
    const QByteArray filePath = QFile::encodeName(folder + '/' + name);
    const int opened =
        ::open(filePath.constData(),
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
    path = filePath;
    device = status.st_dev;
    inode = status.st_ino;
    return true;
}

bool LogFile::stillAtItsPath() const {
    struct stat status;
    return ::stat(path.constData(), &status) == 0 && status.st_dev == device &&
           status.st_ino == inode;
}

void LogFile::close() {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
}

QString LogFile::pathText() const {
    return QFile::decodeName(path);
}

std::ptrdiff_t LogFile::writeSome(int to, const char* data, size_t count) {
    return ::write(to, data, count);
}

QString LogFile::fallbackDirectory() {
    // A relative XDG_STATE_HOME is invalid and ignored, as for every XDG variable.
    QString state = QFile::decodeName(qgetenv("XDG_STATE_HOME"));
    if (!QDir::isAbsolutePath(state)) {
        state = homeDirectory() + "/.local/state";
    }
    return state + "/tarvo_manufacturing_tool/logs";
}

QString LogFile::executableDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return QDir::currentPath();
        }
        if (size_t(length) < buffer.size()) {
            return QFileInfo(QString::fromLocal8Bit(buffer.data(), int(length))).absolutePath();
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::time_t LogFile::currentSecond() {
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

tm LogFile::localTime(std::time_t second) {
    tm local;
    ::localtime_r(&second, &local);
    return local;
}

bool LogFile::isTerminal(FILE* stream) {
    return ::isatty(fileno(stream));
}

int LogFile::terminalColumns(FILE* stream) {
    winsize size{};
    return ::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace RomCmd
