#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

#include "console/DeviceEnvironment.h"

namespace RomCmd {

namespace {

const QString kDevicePrefix = QStringLiteral("\\\\.\\");

}  // namespace

// A device such as COM12 exists while the system has a DOS device name for it; asking so
// does not open it, so a port another program holds counts too.
bool DeviceEnvironment::isCharacterDevice(const QString& path) const {
    if (!path.startsWith(kDevicePrefix) || path.size() == kDevicePrefix.size()) {
        return false;
    }
    const std::wstring name = path.mid(kDevicePrefix.size()).toStdWString();
    std::vector<wchar_t> target(MAX_PATH);
    return ::QueryDosDeviceW(name.c_str(), target.data(), DWORD(target.size())) != 0 ||
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace RomCmd
