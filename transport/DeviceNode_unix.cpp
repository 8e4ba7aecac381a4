#include "transport/DeviceNode.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace RomCmd {

namespace DeviceNode {

namespace {

// Whether /proc/devices gives the character major `wanted` to the driver `name`.
bool isCharacterMajorOf(unsigned wanted, const char* name) {
    std::ifstream devices("/proc/devices");
    std::string line;
    bool inCharacterSection = false;
    while (std::getline(devices, line)) {
        if (line == "Character devices:") {
            inCharacterSection = true;
            continue;
        }
        if (line.empty()) {
            inCharacterSection = false;
            continue;
        }
        std::istringstream fields(line);
        unsigned number = 0;
        std::string driver;
        if (inCharacterSection && fields >> number >> driver && number == wanted && driver == name)
            return true;
    }
    return false;
}

}  // namespace

Kind classify(const std::string& path, const char* subsystem, bool orPseudoTerminal) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return Kind::Missing;
    if (!S_ISCHR(info.st_mode))
        return Kind::Other;
    // Without sysfs (some containers) the class cannot be known; the open decides.
    if (::access("/sys/dev/char", F_OK) != 0)
        return Kind::Matches;
    char entry[64];
    std::snprintf(entry, sizeof entry, "/sys/dev/char/%u:%u/subsystem", major(info.st_rdev),
                  minor(info.st_rdev));
    char target[256];
    const ssize_t length = ::readlink(entry, target, sizeof target - 1);
    if (length > 0) {
        target[length] = '\0';
        const char* slash = std::strrchr(target, '/');
        return std::strcmp(slash != nullptr ? slash + 1 : target, subsystem) == 0 ? Kind::Matches
                                                                                  : Kind::Other;
    }
    if (orPseudoTerminal && isCharacterMajorOf(major(info.st_rdev), "pts"))
        return Kind::Matches;
    return Kind::Other;
}

}  // namespace DeviceNode

}  // namespace RomCmd
