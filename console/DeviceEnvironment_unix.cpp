#include <sys/stat.h>

#include <QFile>

#include "console/DeviceEnvironment.h"

namespace RomCmd {

bool DeviceEnvironment::isCharacterDevice(const QString& path) const {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
}

}  // namespace RomCmd
