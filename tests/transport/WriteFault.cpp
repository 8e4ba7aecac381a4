#include "WriteFault.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "FaultDevice.h"

extern "C" ssize_t __real_write(int fd, const void* data, size_t count);

namespace {

std::atomic<bool> armed{false};
dev_t faultDevice = 0;
std::atomic<int> callCount{0};
int failFrom = 0;
bool byteLimit = false;
size_t bytesLeft = 0;

}  // namespace

extern "C" ssize_t __wrap_write(int fd, const void* data, size_t count) {
    if (armed.load()) {
        if (RomCmd::Test::isFaultDevice(fd, faultDevice)) {
            if (byteLimit) {
                if (bytesLeft == 0) {
                    errno = EIO;
                    return -1;
                }
                const ssize_t written =
                    __real_write(fd, data, count < bytesLeft ? count : bytesLeft);
                if (written > 0) {
                    bytesLeft -= size_t(written);
                }
                return written;
            }
            if (++callCount >= failFrom) {
                errno = EIO;
                return -1;
            }
        }
    }
    return __real_write(fd, data, count);
}

namespace RomCmd {
namespace Test {

void armWriteFault(dev_t device, int firstFailingCall) {
    faultDevice = device;
    failFrom = firstFailingCall;
    callCount = 0;
    byteLimit = false;
    armed = true;
}

void armWriteLimit(dev_t device, size_t acceptedBytes) {
    faultDevice = device;
    bytesLeft = acceptedBytes;
    byteLimit = true;
    armed = true;
}

void disarmWriteFault() {
    armed = false;
}

}  // namespace Test
}  // namespace RomCmd
