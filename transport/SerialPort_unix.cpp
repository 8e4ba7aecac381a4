#include "transport/SerialPort.h"

// termios2 (arbitrary baud rates) lives in the kernel's header, which clashes with
// glibc's <termios.h>; everything here therefore goes through ioctl.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "transport/DeviceNode.h"
#include "transport/Interruption.h"
#include "transport/SerialDeadline.h"

namespace RomCmd {

namespace {

// Names this long or longer are refused, as the Windows build refuses them (MAX_PATH).
constexpr size_t kMaxNameBytes = 260;
// A blocking read waits at most this long (VTIME, in tenths of a second); the terminal's
// timer may end it a few ms late, so it is used only while the deadline is further away.
constexpr cc_t kReadSliceDs = 1;
constexpr int64_t kReadSliceMs = 100;
constexpr int64_t kReadSliceMarginMs = 20;

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Rounded up so a wait never ends before its deadline, and clamped so a deadline far
// away never overflows into poll's "wait for ever".
int pollWaitMs(int64_t remaining) {
    return static_cast<int>(std::min<int64_t>(remaining + 1, INT_MAX));
}

struct StandardRate {
    int rate;
    tcflag_t code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The driver's speed constant for a standard rate, BOTHER for any other.
tcflag_t speedCode(int baudRate) {
    for (const StandardRate& entry : kStandardRates) {
        if (entry.rate == baudRate)
            return entry.code;
    }
    return BOTHER;
}

bool characterSize(uint8_t byteSize, tcflag_t* flag) {
    switch (byteSize) {
        case 5:
            *flag = CS5;
            return true;
        case 6:
            *flag = CS6;
            return true;
        case 7:
            *flag = CS7;
            return true;
        case 8:
            *flag = CS8;
            return true;
        default:
            return false;
    }
}

}  // namespace

SerialPort::~SerialPort() {
    if (isOpen())
        close();
}

bool SerialPort::isOpen() const {
    return fd >= 0;
}

intptr_t SerialPort::handle() const {
    return fd;
}

std::string SerialPort::systemPath(const std::string& name) {
    return !name.empty() && name[0] == '/' ? name : "/dev/" + name;
}

bool SerialPort::open(const std::string& name, int* errorNumber) {
    // Refused rather than shortened: a name cut at a zero byte would open another port.
    if (name.size() >= kMaxNameBytes) {
        *errorNumber = ENAMETOOLONG;
        return false;
    }
    if (name.find('\0') != std::string::npos) {
        *errorNumber = EINVAL;
        return false;
    }
    const std::string path = systemPath(name);

    // Refuse anything but a terminal before opening it, so a mistyped name never writes
    // packets into a file or triggers another device's open side effects (a watchdog's).
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *errorNumber = errno;
        return false;
    }
    if (DeviceNode::classify(path, "tty", true) != DeviceNode::Kind::Matches) {
        *errorNumber = ENOTTY;
        return false;
    }

    // Non-blocking so the open does not wait for carrier detect, and so a write to a line
    // that takes nothing more can be bounded with poll.
    const int handle = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        *errorNumber = errno;
        return false;
    }
    if (!::isatty(handle)) {
        *errorNumber = ENOTTY;
        ::close(handle);
        return false;
    }
    // TIOCEXCL does not stop root; the lock keeps out every other run of this tool.
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        *errorNumber = errno;
        ::close(handle);
        return false;
    }
    // Reads wait in a blocking read() on a description of their own (a second open, before
    // TIOCEXCL shuts others out), so an acknowledgement costs one syscall and the wait runs
    // on the terminal's own timer: poll() arms a high-resolution timer for every wait, which
    // on a virtual machine costs more than the rest of the packet's work. Without it, reads
    // poll the main descriptor.
    readFd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int readFlags = readFd >= 0 ? ::fcntl(readFd, F_GETFL) : -1;
    if (readFd >= 0 && (readFlags < 0 || ::fcntl(readFd, F_SETFL, readFlags & ~O_NONBLOCK) != 0)) {
        ::close(readFd);
        readFd = -1;
    }
    ::ioctl(handle, TIOCEXCL);
    fd = handle;
    lowLatencyAdded = requestLowLatency(fd, true);
    return true;
}

// USB-serial chips hold short replies back for their latency timer (16 ms on FTDI chips) unless
// the port is in low-latency mode; every packet waits for a 2-byte acknowledgement, so that
// timer would set the pace of the whole line. Drivers without the setting (a pseudo-terminal)
// refuse the request, and the port is used as it is. Returns true when the flag was changed.
bool SerialPort::requestLowLatency(int handle, bool on) {
    struct serial_struct serial {};
    if (::ioctl(handle, TIOCGSERIAL, &serial) != 0)
        return false;
    if (((serial.flags & ASYNC_LOW_LATENCY) != 0) == on)
        return false;
    serial.flags = on ? (serial.flags | ASYNC_LOW_LATENCY) : (serial.flags & ~ASYNC_LOW_LATENCY);
    return ::ioctl(handle, TIOCSSERIAL, &serial) == 0;
}

void SerialPort::setLine(int baudRate, uint8_t byteSize, int parity, int stopBits) {
    if (!isOpen())
        return;
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return;

    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CRTSCTS | PARENB | PARODD | CMSPAR | CSTOPB);
    tio.c_cflag |= CREAD | CLOCAL;
    // A blocking read returns what has arrived, or nothing after one slice; the
    // non-blocking descriptor ignores both.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = kReadSliceDs;

    // An unsupported byte size keeps the port's current one.
    tcflag_t size = 0;
    if (characterSize(byteSize, &size)) {
        tio.c_cflag &= ~CSIZE;
        tio.c_cflag |= size;
    }

    switch (parity) {
        case 2:
            tio.c_cflag |= PARENB;
            break;
        case 3:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        case 5:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        default:
            break;
    }
    // The line has no 1.5 setting of its own: CSTOPB gives 1.5 stop bits with 5-bit
    // characters and 2 otherwise.
    if (stopBits == 2 || stopBits == 3)
        tio.c_cflag |= CSTOPB;

    const tcflag_t speed = speedCode(baudRate);
    const struct termios2 before = tio;
    if (baudRate > 0) {
        tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
        tio.c_cflag |= speed;
        tio.c_ispeed = static_cast<speed_t>(baudRate);
        tio.c_ospeed = static_cast<speed_t>(baudRate);
    }
    // A refused rate is not reported: keep the rest of the settings at least.
    if (::ioctl(fd, TCSETS2, &tio) != 0)
        ::ioctl(fd, TCSETS2, &before);
    // A blocking read is bounded only if the line really took the slice.
    struct termios2 now {};
    blockingReads = readFd >= 0 && ::ioctl(fd, TCGETS2, &now) == 0 && !(now.c_lflag & ICANON) &&
                    now.c_cc[VMIN] == 0 && now.c_cc[VTIME] == kReadSliceDs;

    // Hold DTR and RTS inactive; a pty has no modem lines, so failures are ignored.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);

    // Whatever already waits in the input belongs to an earlier run's exchange; taken as
    // this run's first acknowledgement it would put every later read out of step.
    ::ioctl(fd, TCFLSH, TCIFLUSH);
    inputStart = inputEnd = 0;
}

void SerialPort::setTimeouts(uint32_t t) {
    readTimeout = t;
}

size_t SerialPort::takeInput(uint8_t* data, size_t count) {
    const size_t n = std::min(count, inputEnd - inputStart);
    std::memcpy(data, input + inputStart, n);
    inputStart += n;
    return n;
}

size_t SerialPort::read(uint8_t* data, size_t count) {
    if (!isOpen() || count == 0)
        return 0;
    size_t got = takeInput(data, count);
    if (got == count)
        return got;
    const int64_t start = nowMs();
    // Bytes kept from an earlier read count as arrived now.
    int64_t lastByteAt = start;
    while (got < count) {
        // A signal ends the wait: the read returned EINTR, or its slice ended.
        if (Interruption::requested())
            break;
        int64_t remaining = -1;
        if (readTimeout != 0) {
            const int64_t deadline =
                SerialDeadline::read(readTimeout, count, start, got, lastByteAt);
            remaining = deadline - nowMs();
            if (remaining < 0)
                break;
        }
        ssize_t n = 0;
        bool hungUp = false;
        bool readable = false;
        if (blockingReads && (remaining < 0 || remaining >= kReadSliceMs + kReadSliceMarginMs)) {
            const int64_t sliceStart = nowMs();
            n = ::read(readFd, input, sizeof input);
            // Nothing well before the slice ended: a hung-up line, or input the terminal
            // reported a moment before it could be read. Only poll tells them apart.
            if (n == 0 && nowMs() - sliceStart < kReadSliceMs / 2) {
                readable = waitReadable(0, &hungUp);
                if (!readable && !hungUp) {
                    const int64_t wait =
                        remaining < 0 ? kReadSliceMs : std::min(kReadSliceMs, remaining);
                    if (waitReadable(wait, &hungUp))
                        continue;  // the next read takes it
                }
            }
        } else {
            // In slices, so a signal that came just before the poll is still seen soon.
            readable = waitReadable(
                remaining < 0 ? kReadSliceMs : std::min(remaining, kReadSliceMs), &hungUp);
            if (!readable && !hungUp)
                continue;  // the deadline check above ends the loop
            n = ::read(fd, input, sizeof input);
        }
        if (n > 0) {
            inputStart = 0;
            inputEnd = static_cast<size_t>(n);
            got += takeInput(data + got, count - got);
            lastByteAt = nowMs();
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;  // EIO: the line hung up
        // Only the line says it hung up: with VMIN 0 the terminal may report input a moment
        // before it can be read, so an empty read just means "not yet".
        if (hungUp)
            break;
        // Keeps such a moment from turning into a busy loop.
        if (readable)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return got;
}

// Waits up to `waitMs` (negative: for ever) for input on the main descriptor; sets *hungUp
// when the line reports a hang-up or an error instead.
bool SerialPort::waitReadable(int64_t waitMs, bool* hungUp) {
    pollfd pfd{fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, waitMs < 0 ? -1 : pollWaitMs(waitMs));
    if (ready < 0) {
        *hungUp = errno != EINTR;
        return false;
    }
    if (ready == 0)
        return false;
    *hungUp = (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return (pfd.revents & POLLIN) != 0;
}

size_t SerialPort::write(const uint8_t* data, size_t count) {
    if (!isOpen())
        return 0;
    // A line that takes nothing (the far end stopped reading) must not hold the run for ever.
    const int64_t deadline = SerialDeadline::write(readTimeout, count, nowMs());
    size_t done = 0;
    while (done < count) {
        if (Interruption::requested())
            break;
        const ssize_t n = ::write(fd, data + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            const int64_t remaining = deadline - nowMs();
            if (remaining < 0)
                break;
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, pollWaitMs(std::min(remaining, kReadSliceMs))) > 0 &&
                (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
                break;
            continue;
        }
        break;
    }
    return done;
}

int SerialPort::close() {
    if (!isOpen())
        return 0;
    // The port goes back to the driver's setting for whoever opens it next.
    if (lowLatencyAdded)
        requestLowLatency(fd, false);
    lowLatencyAdded = false;
    ::ioctl(fd, TIOCNXCL);
    if (readFd >= 0)
        ::close(readFd);
    readFd = -1;
    blockingReads = false;
    const int result = ::close(fd);
    fd = -1;
    inputStart = inputEnd = 0;
    return result == 0 ? 1 : 0;
}

}  // namespace RomCmd
