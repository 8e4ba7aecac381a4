#include "sim/HidWire.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace RomCmd {
namespace HidWire {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTransferBoundMs = 2000;  // the rest of a message once it has begun
constexpr int kConnectBoundMs = 1000;

// The few socket calls whose form differs: Winsock sockets are kept non-blocking instead of
// taking MSG_DONTWAIT, and a Winsock call is never interrupted by a signal.
#ifdef _WIN32
int pollOne(int fd, short events, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = SOCKET(fd);
    p.events = events;
    return ::WSAPoll(&p, 1, timeoutMs);
}

bool interrupted() {
    return false;
}

bool wouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

long receiveSome(int fd, uint8_t* out, size_t length) {
    return ::recv(SOCKET(fd), reinterpret_cast<char*>(out), int(length), 0);
}

long sendSome(int fd, const uint8_t* data, size_t length) {
    return ::send(SOCKET(fd), reinterpret_cast<const char*>(data), int(length), 0);
}

bool startSockets() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// Windows answers a refused connection only after retrying it, hence the bounded wait.
int connectTcp(uint16_t port) {
    if (!startSockets()) {
        return -1;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return -1;
    }
    // Socket handles are kernel handles, which Windows keeps within 32 bits.
    const int fd = int(s);
    u_long nonBlocking = 1;
    const BOOL noDelay = TRUE;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int failure = 0;
    int failureLength = sizeof failure;
    const bool ok = ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0 &&
                    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY,
                                 reinterpret_cast<const char*>(&noDelay), sizeof noDelay) == 0 &&
                    (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ||
                     (wouldBlock() && pollOne(fd, POLLOUT, kConnectBoundMs) > 0 &&
                      ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure),
                                   &failureLength) == 0 &&
                      failure == 0));
    if (!ok) {
        ::closesocket(s);
        return -1;
    }
    return fd;
}

int connectUnix(const char*) {
    return -1;
}
#else
int pollOne(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, timeoutMs);
}

bool interrupted() {
    return errno == EINTR;
}

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

long receiveSome(int fd, uint8_t* out, size_t length) {
    return ::recv(fd, out, length, MSG_DONTWAIT);
}

long sendSome(int fd, const uint8_t* data, size_t length) {
    return ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
}

// Loopback connects at once or fails at once.
int connectTcp(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Each report waits for its answer; Nagle's delay would hold back every one of them.
    const int noDelay = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connectUnix(const char* path) {
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    if (std::strlen(path) >= sizeof addr.sun_path) {
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
#endif

int leftMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Reads exactly length bytes before the deadline.
bool readExactly(int fd, uint8_t* out, size_t length, Clock::time_point deadline) {
    size_t done = 0;
    while (done < length) {
        const int r = pollOne(fd, POLLIN, leftMs(deadline));
        if (r < 0 && interrupted()) {
            continue;
        }
        if (r <= 0) {
            return false;
        }
        const long n = receiveSome(fd, out + done, length - done);
        if (n == 0) {
            return false;
        }
        if (n < 0) {
            if (wouldBlock() || interrupted()) {
                continue;
            }
            return false;
        }
        done += size_t(n);
    }
    return true;
}

}  // namespace

bool tcpPort(const char* address, uint16_t* port) {
    const size_t prefix = sizeof kTcpPrefix - 1;
    if (!address || std::strncmp(address, kTcpPrefix, prefix) != 0) {
        return false;
    }
    const char* digits = address + prefix;
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits, &end, 10);
    if (*digits < '0' || *digits > '9' || *end != '\0' || value == 0 || value > 0xFFFF) {
        return false;
    }
    *port = uint16_t(value);
    return true;
}

int connectSocket(const char* address) {
    if (!address) {
        return -1;
    }
    uint16_t port = 0;
    if (tcpPort(address, &port)) {
        return connectTcp(port);
    }
    // An address meant as TCP but malformed is no path either.
    if (std::strncmp(address, kTcpPrefix, sizeof kTcpPrefix - 1) == 0) {
        return -1;
    }
    return connectUnix(address);
}

void closeSocket(int fd) {
    if (fd < 0) {
        return;
    }
#ifdef _WIN32
    ::closesocket(SOCKET(fd));
#else
    ::close(fd);
#endif
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
        const long n = sendSome(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && !wouldBlock() && !interrupted()) {
            return false;
        }
        const int left = leftMs(deadline);
        if (left == 0) {
            return false;
        }
        pollOne(fd, POLLOUT, left);
    }
    return true;
}

int receiveMessage(int fd, int timeoutMs, uint8_t* type, std::vector<uint8_t>* data) {
    if (fd < 0) {
        return -1;
    }
    int r;
    do {
        r = pollOne(fd, POLLIN, timeoutMs < 0 ? 0 : timeoutMs);
    } while (r < 0 && interrupted());
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
