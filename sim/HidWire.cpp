#include "sim/HidWire.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace RomCmd {
namespace HidWire {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTransferBoundMs = 2000;  // the rest of a message once it has begun

int leftMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Reads exactly length bytes before the deadline.
bool readExactly(int fd, uint8_t* out, size_t length, Clock::time_point deadline) {
    size_t done = 0;
    while (done < length) {
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, leftMs(deadline));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        const ssize_t n = ::recv(fd, out + done, length - done, MSG_DONTWAIT);
        if (n == 0) {
            return false;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return false;
        }
        done += size_t(n);
    }
    return true;
}

}  // namespace

int connectSocket(const char* path) {
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    if (!path || std::strlen(path) >= sizeof addr.sun_path) {
        return -1;
    }
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    // Unix sockets connect at once or fail at once; no wait is involved.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendMessage(int fd, uint8_t type, const uint8_t* data, size_t length) {
    if (fd < 0 || length + 1 > kMaxBody) {
        return false;
    }
    std::vector<uint8_t> bytes(5 + length);
    const uint32_t body = uint32_t(length + 1);
    bytes[0] = uint8_t(body);
    bytes[1] = uint8_t(body >> 8);
    bytes[2] = uint8_t(body >> 16);
    bytes[3] = uint8_t(body >> 24);
    bytes[4] = type;
    if (length) {
        std::memcpy(bytes.data() + 5, data, length);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTransferBoundMs);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const int left = leftMs(deadline);
        if (left == 0) {
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, left);
    }
    return true;
}

int receiveMessage(int fd, int timeoutMs, uint8_t* type, std::vector<uint8_t>* data) {
    if (fd < 0) {
        return -1;
    }
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        return -1;
    }
    if (r == 0) {
        return 0;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTransferBoundMs);
    uint8_t header[4];
    if (!readExactly(fd, header, 4, deadline)) {
        return -1;
    }
    const uint32_t body = uint32_t(header[0]) | uint32_t(header[1]) << 8 |
                          uint32_t(header[2]) << 16 | uint32_t(header[3]) << 24;
    if (body == 0 || body > kMaxBody) {
        return -1;
    }
    std::vector<uint8_t> bytes(body);
    if (!readExactly(fd, bytes.data(), body, deadline)) {
        return -1;
    }
    *type = bytes[0];
    data->assign(bytes.begin() + 1, bytes.end());
    return 1;
}

}  // namespace HidWire
}  // namespace RomCmd
