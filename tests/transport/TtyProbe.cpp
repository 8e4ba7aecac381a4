#include "TtyProbe.h"

// Kept apart from <termios.h>, which clashes with the kernel's termios2 header.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cstdarg>
#include <mutex>

extern "C" int __real_ioctl(int fd, unsigned long request, ...);

namespace {

std::atomic<bool> requested{false};
std::atomic<uint32_t> requestedFlags{0};

std::mutex driverMutex;
bool driverPlayed = false;
int driverFlags = 0;
std::vector<int> driverSettings;

}  // namespace

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (request == TIOCGSERIAL || request == TIOCSSERIAL) {
        std::lock_guard<std::mutex> lock(driverMutex);
        if (driverPlayed) {
            auto* serial = static_cast<serial_struct*>(argument);
            if (request == TIOCGSERIAL) {
                *serial = serial_struct{};
                serial->flags = driverFlags;
            } else {
                driverFlags = serial->flags;
                driverSettings.push_back(serial->flags);
            }
            return 0;
        }
    }
    const int result = __real_ioctl(fd, request, argument);
    if (result == 0 && (request == TCSETS2 || request == TCSETS || request == TCSETSW2 ||
                        request == TCSETSF2 || request == TCSETSW || request == TCSETSF)) {
        requestedFlags = request == TCSETS2 || request == TCSETSW2 || request == TCSETSF2
                             ? static_cast<const termios2*>(argument)->c_cflag
                             : static_cast<const termios*>(argument)->c_cflag;
        requested = true;
    }
    return result;
}

namespace RomCmd {
namespace Test {

uint32_t ttyOutputSpeed(int fd) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return 0;
    return tio.c_ospeed;
}

uint32_t lastRequestedControlFlags() {
    return requestedFlags;
}
bool lineSettingRequested() {
    return requested;
}
void forgetRequestedLineSetting() {
    requested = false;
}

void playSerialDriver(bool on, int flags) {
    std::lock_guard<std::mutex> lock(driverMutex);
    driverPlayed = on;
    driverFlags = flags;
    driverSettings.clear();
}

std::vector<int> serialSettingsRequested() {
    std::lock_guard<std::mutex> lock(driverMutex);
    return driverSettings;
}

}  // namespace Test
}  // namespace RomCmd
