#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace RomCmd {

// The log handler's contact with the operating system: the day's file, the folders it may go
// to, the local time and the console. One source file per system implements it
// (LogFile_unix.cpp, LogFile_win.cpp), chosen by the build.
class LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() { close(); }

    // Opens `name` in `folder` for appending, creating the missing folders first, private to
    // the user when `userOnly`. On failure returns false with the reason in *error.
    bool open(const QString& folder, const QString& name, bool userOnly, QString* error);
    bool isOpen() const { return fd >= 0; }
    // Whether the path opened still leads to this file, not removed or rotated away.
    bool stillAtItsPath() const;
    void close();
    int descriptor() const { return fd; }
    // The path as the user writes it.
    QString pathText() const;

    // One system write: the count written, or -1 with errno set.
    static std::ptrdiff_t writeSome(int to, const char* data, size_t count);
    // The user's own log folder, for when the folder beside the program cannot be written.
    static QString fallbackDirectory();
    // The running program's folder. QCoreApplication::applicationDirPath() may not work yet
    // and warns when asked too early, and a warning from inside the handler would deadlock on
    // its own mutex.
    static QString executableDirectory();
    static std::time_t currentSecond();
    static tm localTime(std::time_t second);
    static bool isTerminal(FILE* stream);
    // The terminal's width in columns, 0 when unknown.
    static int terminalColumns(FILE* stream);
    static QString errorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

private:
    int fd = -1;
#ifdef _WIN32
    QString path;
#else
    QByteArray path;
    dev_t device = 0;
    ino_t inode = 0;
#endif
};

}  // namespace RomCmd
