#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <QDir>
#include <QThread>

#include "console/RunRecord.h"

namespace RomCmd {

namespace {

// Another run holds the lock only for one write; this long means it hangs.
constexpr int kLockWaitMs = 10000;
constexpr int kLockPollMs = 5;

QString errorText(DWORD code) {
    return QStringLiteral("Windows error %1").arg(code);
}

}  // namespace

bool RunRecord::append(const QString& path, const QByteArray& line, QString* error) {
    const QString native = QDir::toNativeSeparators(path);
    // Appending only: every write lands at the end, whoever else writes.
    HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(native.utf16()), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = errorText(::GetLastError());
        return false;
    }
    OVERLAPPED whole{};
    bool locked = false;
    for (int waited = 0; !locked; waited += kLockPollMs) {
        locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                              MAXDWORD, MAXDWORD, &whole) != 0;
        if (!locked) {
            if (::GetLastError() != ERROR_LOCK_VIOLATION || waited >= kLockWaitMs) {
                *error = waited >= kLockWaitMs
                             ? QStringLiteral("another process held the file locked for 10 s")
                             : errorText(::GetLastError());
                ::CloseHandle(file);
                return false;
            }
            QThread::msleep(kLockPollMs);
        }
    }
    DWORD written = 0;
    bool ok = ::WriteFile(file, line.constData(), DWORD(line.size()), &written, nullptr) != 0 &&
              written == DWORD(line.size());
    if (!ok) {
        *error = errorText(::GetLastError());
    } else if (!::FlushFileBuffers(file)) {
        *error = errorText(::GetLastError());
        ok = false;
    }
    ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    ::CloseHandle(file);
    return ok;
}

QString RunRecord::userName() {
    return qEnvironmentVariable("USERNAME");
}

}  // namespace RomCmd
