#include "ReadFault.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "FaultDevice.h"

extern "C" ssize_t __real_read(int fd, void* data, size_t count);
extern "C" int __real_poll(pollfd* fds, nfds_t count, int timeout);

namespace {

using RomCmd::Test::isFaultDevice;

std::atomic<int> emptyReadsLeft{0};
std::atomic<dev_t> emptyReadDevice{0};
std::atomic<bool> watching{false};
std::atomic<dev_t> watchedDevice{0};
std::atomic<int> shortestWait{INT_MAX};

}  // namespace

extern "C" ssize_t __wrap_read(int fd, void* data, size_t count) {
    if (emptyReadsLeft.load() > 0 && isFaultDevice(fd, emptyReadDevice.load()) &&
        emptyReadsLeft.fetch_sub(1) > 0) {
        errno = 0;
        return 0;
    }
    return __real_read(fd, data, count);
}

extern "C" int __wrap_poll(pollfd* fds, nfds_t count, int timeout) {
    if (watching.load() && count > 0 && isFaultDevice(fds[0].fd, watchedDevice.load())) {
        int shortest = shortestWait.load();
        while (timeout < shortest && !shortestWait.compare_exchange_weak(shortest, timeout)) {
        }
    }
    return __real_poll(fds, count, timeout);
}

namespace RomCmd {
namespace Test {

void armEmptyReads(dev_t device, int count) {
    emptyReadDevice = device;
    emptyReadsLeft = count;
}

void disarmEmptyReads() {
    emptyReadsLeft = 0;
}

void watchPollWaits(dev_t device) {
    watchedDevice = device;
    shortestWait = INT_MAX;
    watching = true;
}

int shortestPollWait() {
    return shortestWait;
}

}  // namespace Test
}  // namespace RomCmd
