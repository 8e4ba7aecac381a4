#include "app/LogFile.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace RomCmd {

bool LogFile::open(const QString& folder, const QString& name, bool, QString* error) {
    if (!QDir().mkpath(folder)) {
        // Qt creates folders with Win32 calls, which leave errno alone.
        *error = QStringLiteral("the folder cannot be created");
        return false;
    }
    // Binary, so the file holds exactly the bytes written; not inherited by the image tool.
    const QString filePath = folder + '/' + name;
    const int opened =
        ::_wopen(reinterpret_cast<const wchar_t*>(filePath.utf16()),
                 _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (opened < 0) {
        *error = errorText(errno);
        return false;
    }
    fd = opened;
    path = filePath;
    return true;
}

// Windows renames or removes no file open without delete sharing, as ours is, so a file at
// the path is ours.
bool LogFile::stillAtItsPath() const {
    struct _stat64 status;
    return ::_wstat64(reinterpret_cast<const wchar_t*>(path.utf16()), &status) == 0;
}

void LogFile::close() {
    if (fd >= 0) {
        ::_close(fd);
    }
    fd = -1;
}

QString LogFile::pathText() const {
    return QDir::toNativeSeparators(path);
}

std::ptrdiff_t LogFile::writeSome(int to, const char* data, size_t count) {
    // The C runtime takes an unsigned count.
    return ::_write(to, data, unsigned(std::min<size_t>(count, INT_MAX)));
}

QString LogFile::fallbackDirectory() {
    QString local = QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA"));
    if (!QDir::isAbsolutePath(local)) {
        local = QDir::homePath() + "/AppData/Local";
    }
    return local + "/tarvo_manufacturing_tool/logs";
}

QString LogFile::executableDirectory() {
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

std::time_t LogFile::currentSecond() {
    return std::time(nullptr);
}

tm LogFile::localTime(std::time_t second) {
    tm local;
    ::localtime_s(&local, &second);
    return local;
}

bool LogFile::isTerminal(FILE* stream) {
    return ::_isatty(::_fileno(stream)) != 0;
}

int LogFile::terminalColumns(FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE console = HANDLE(::_get_osfhandle(::_fileno(stream)));
    if (::GetConsoleScreenBufferInfo(console, &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 0;
}

}  // namespace RomCmd
