#pragma once

#include <sys/stat.h>

namespace RomCmd {
namespace Test {

// Whether `fd` is open on the character device a fault wrapper was armed for: the wrappers
// see every read() and write() of the test process and must leave the others alone.
inline bool isFaultDevice(int fd, dev_t device) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device;
}

}  // namespace Test
}  // namespace RomCmd
