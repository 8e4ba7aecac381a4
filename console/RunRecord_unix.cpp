#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QThread>
#include <cerrno>
#include <cstring>

#include "console/RunRecord.h"

namespace RomCmd {

namespace {

// Another run holds the lock only for one write; this long means it hangs.
constexpr int kLockWaitMs = 10000;
constexpr int kLockPollMs = 5;

QString errorText(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

bool lockWithin(int fd, QString* error) {
    for (int waited = 0;; waited += kLockPollMs) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = errorText(errno);
            return false;
        }
        if (waited >= kLockWaitMs) {
            *error = QStringLiteral("another process held the file locked for 10 s");
            return false;
        }
        QThread::msleep(kLockPollMs);
    }
}

}  // namespace

bool RunRecord::append(const QString& path, const QByteArray& line, QString* error) {
    const QByteArray name = QFile::encodeName(path);
    const mode_t mode = S_IRUSR | S_IWUSR | S_IRGRP;
    bool created = true;
    int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0) {
        *error = errorText(errno);
        return false;
    }
    // The umask may have taken the group's read right; the record is meant for it.
    if (created) {
        ::fchmod(fd, mode);
    }
    bool ok = lockWithin(fd, error);
    struct stat before {};
    if (ok && ::fstat(fd, &before) != 0) {
        *error = errorText(errno);
        ok = false;
    }
    if (ok) {
        const ssize_t n = ::write(fd, line.constData(), size_t(line.size()));
        if (n != ssize_t(line.size())) {
            *error = n < 0 ? errorText(errno) : QStringLiteral("the disk took only part of it");
            // Half a line would break every reader of the file: it goes again.
            if (n > 0 && S_ISREG(before.st_mode)) {
                (void)::ftruncate(fd, before.st_size);
            }
            ok = false;
        } else if (S_ISREG(before.st_mode) && ::fdatasync(fd) != 0) {
            *error = errorText(errno);
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

QString RunRecord::userName() {
    const struct passwd* entry = ::getpwuid(::geteuid());
    if (entry != nullptr && entry->pw_name != nullptr) {
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return qEnvironmentVariable("USER");
}

}  // namespace RomCmd
