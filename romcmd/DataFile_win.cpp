#include <QFileInfo>

#include "romcmd/DataFile.h"

namespace RomCmd {

namespace DataFile {

// Opening a named pipe does not block here, so the file is opened first and then examined.
Input openInput(const QString& path, QFile* file) {
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly)) {
        return Input::OpenFailed;
    }
    if (!QFileInfo(path).isFile()) {
        file->close();
        return Input::NotRegular;
    }
    return Input::Opened;
}

// Creating a link takes a privilege there, so another user's link is no hazard of ours.
bool refuseReadTarget(const QString&, const QString&) {
    return false;
}

}  // namespace DataFile

}  // namespace RomCmd
