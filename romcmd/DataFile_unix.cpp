#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDebug>

#include "romcmd/DataFile.h"

namespace RomCmd {

namespace DataFile {

namespace {

QString userName(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

}  // namespace

Input openInput(const QString& path, QFile* file) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Input::OpenFailed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Input::NotRegular;
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Input::OpenFailed;
    }
    return Input::Opened;
}

// The kernel follows a link in a sticky folder only when the link belongs to the follower or
// to root; a dump written through another user's link would replace a file of ours, so the
// same rule holds in every folder. A FIFO would hold the open until a reader comes.
bool refuseReadTarget(const QString& id, const QString& path) {
    QString current = path;
    // Each link of a chain counts; the kernel's limit on a chain's length.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(QFile::encodeName(current).constData(), &info) != 0) {
            return false;
        }
        if (!S_ISLNK(info.st_mode)) {
            if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
                qCritical() << "Id: " << id << "\r\n"
                            << "Cmd 'Read Memory to File' file is a FIFO or socket! file: "
                            << current;
                return true;
            }
            return false;
        }
        if (info.st_uid != ::geteuid() && info.st_uid != 0) {
            qCritical() << "Id: " << id << "\r\n"
                        << "Cmd 'Read Memory to File' will not write through a link of another "
                           "user! link: "
                        << current << " owner: " << userName(info.st_uid);
            return true;
        }
        const QString target = QFile::symLinkTarget(current);
        if (target.isEmpty()) {
            return false;
        }
        current = target;
    }
    return false;
}

}  // namespace DataFile

}  // namespace RomCmd
