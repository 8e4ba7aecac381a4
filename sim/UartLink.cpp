#include "sim/UartLink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "transport/Framing.h"

namespace RomCmd {
namespace Sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInterByteMs = 1000;   // a packet that stalls this long is dropped
constexpr int kWriteBoundMs = 2000;  // output the host does not drain is dropped after this
// An FTDI chip sends at once only a full USB packet: 64 bytes less its 2 status bytes.
constexpr size_t kChipPacketData = 62;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

}  // namespace

UartLink::~UartLink() {
    if (slave >= 0) {
        ::close(slave);
    }
    if (master >= 0) {
        ::close(master);
    }
}

bool UartLink::open(std::string* error) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ptsname(master);
    if (!name) {
        *error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slaveName = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (!reopenSlave()) {
        *error = std::string("cannot open ") + slaveName + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool UartLink::reopenSlave() {
    if (slave >= 0) {
        ::close(slave);
    }
    slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        return false;
    }
    // Raw bytes both ways until a host sets the line up itself.
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    return true;
}

void UartLink::clockIn(size_t bytes) {
    if (baud > 0) {
        // A host answering our last bytes saw them late by our lateness in sending them; a
        // real line would have had its answer that much earlier, but not before them.
        fromHost.book(std::max(Clock::now() - lateness, toHost.freeAt()), bytes);
    }
}

void UartLink::frameTaken() {
    if (baud > 0) {
        // Bytes still buffered behind the frame crossed the wire after it.
        frameEnd = fromHost.freeAt() - fromHost.span(rx.size() - head);
    }
}

void UartLink::waitForWire(size_t bytes) {
    if (baud == 0) {
        return;
    }
    // An answer starts once the frame it answers has arrived, or later if the device is busy;
    // the lateness of the last wake-up is ours, not the device's, and must not add up.
    const auto ready = std::max(frameEnd, Clock::now() - lateness);
    const auto due = toHost.book(ready, bytes);
    if (!slackSet) {
        // The default 50 us timer slack would cost a few percent of a fast line per packet.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        slackSet = true;
    }
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch());
    timespec at{};
    at.tv_sec = time_t(sinceEpoch.count() / 1000000000);
    at.tv_nsec = long(sinceEpoch.count() % 1000000000);
    // steady_clock is CLOCK_MONOTONIC; an absolute deadline keeps an interrupted or late
    // sleep from stretching the next one.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
    lateness = std::max(Clock::duration::zero(), Clock::now() - due);
}

bool UartLink::readMore(int timeoutMs) {
    pollfd p{master, POLLIN, 0};
    const int r = poll(&p, 1, timeoutMs);
    if (r <= 0) {
        return false;
    }
    if (!(p.revents & POLLIN)) {
        // POLLHUP without data: no host has the slave open; do not spin on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 20)));
        return false;
    }
    uint8_t buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 20)));
        return false;
    }
    rx.insert(rx.end(), buf, buf + n);
    clockIn(size_t(n));
    return true;
}

void UartLink::consume(size_t count) {
    head += count;
    if (head >= rx.size()) {
        rx.clear();
        head = 0;
    } else if (head > 65536) {
        // Compact now and then instead of shifting the buffer for every byte taken.
        rx.erase(rx.begin(), rx.begin() + long(head));
        head = 0;
    }
}

HostFrame UartLink::receive(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        // Resynchronise on the start byte; anything before it is line noise.
        size_t skip = 0;
        while (head + skip < rx.size() && rx[head + skip] != Framing::kStartByte) {
            ++skip;
        }
        consume(skip);
        const uint8_t* frame = rx.data() + head;
        const size_t available = rx.size() - head;
        if (available >= 2) {
            const uint8_t second = frame[1];
            if (second == Framing::kResponseOk || second == Framing::kResponseCrcError) {
                HostFrame f;
                f.type = HostFrame::Type::Response;
                f.code = second;
                consume(2);
                frameTaken();
                return f;
            }
            if (second != Framing::kPacketTag) {
                consume(1);
                continue;
            }
            if (available >= 4) {
                const size_t n = size_t(frame[2]) | size_t(frame[3]) << 8;
                const size_t total = 4 + n + 2;
                if (available >= total) {
                    const uint16_t crc = Crc16Xmodem::compute(frame, 4 + n);
                    const uint16_t got = uint16_t(frame[4 + n] | frame[5 + n] << 8);
                    HostFrame f;
                    if (crc == got) {
                        f.type = HostFrame::Type::Packet;
                        f.payload.assign(frame + 4, frame + 4 + n);
                    } else {
                        f.type = HostFrame::Type::Malformed;
                    }
                    consume(total);
                    frameTaken();
                    // Output the host left unread stays in its input, as on a real line: a
                    // flush here would race with the host's reads and could split a stale
                    // acknowledgement. Discarding it is the host's part, when it opens the port.
                    return f;
                }
            }
            // Inside a packet: wait for the rest with the inter-byte bound.
            if (!readMore(kInterByteMs)) {
                // Everything buffered came before the stall: the broken frame and its remains.
                consume(rx.size() - head);
                if (remainingMs(deadline) == 0) {
                    return HostFrame{};
                }
            }
            continue;
        }
        const int left = remainingMs(deadline);
        if (!readMore(left) && remainingMs(deadline) == 0) {
            return HostFrame{};
        }
    }
}

void UartLink::writeAll(const std::vector<uint8_t>& bytes) {
    waitForWire(bytes.size());
    if (replyLatencyMs > 0 && bytes.size() < kChipPacketData) {
        std::this_thread::sleep_for(std::chrono::milliseconds(replyLatencyMs));
    }
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteBoundMs);
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
        const int left = remainingMs(deadline);
        if (left == 0) {
            return;
        }
        pollfd p{master, POLLOUT, 0};
        poll(&p, 1, std::min(left, 100));
    }
}

void UartLink::sendAck(uint8_t status) {
    writeAll({Framing::kStartByte, status});
}

void UartLink::sendAckStartOnly() {
    writeAll({Framing::kStartByte});
}

void UartLink::sendBadAckStart() {
    writeAll({0x41});
}

void UartLink::sendPacket(const std::vector<uint8_t>& payload, PacketDamage damage,
                          uint32_t garbageBytes) {
    std::vector<uint8_t> bytes;
    // Noise never contains the start byte, so the host skips all of it.
    for (uint32_t i = 0; i < garbageBytes; ++i) {
        bytes.push_back(uint8_t(0x30 + i % 16));
    }
    const size_t n = std::min<size_t>(payload.size(), 65535);
    uint8_t header[4];
    Framing::buildUartHeader(header, uint16_t(n));
    const size_t packetStart = bytes.size();
    bytes.insert(bytes.end(), header, header + 4);
    bytes.insert(bytes.end(), payload.begin(), payload.begin() + long(n));
    uint16_t crc = Crc16Xmodem::compute(bytes.data() + packetStart, 4 + n);
    if (damage == PacketDamage::BadCrc) {
        crc = uint16_t(crc + 1);
    }
    bytes.push_back(uint8_t(crc));
    bytes.push_back(uint8_t(crc >> 8));
    switch (damage) {
        case PacketDamage::BadTag:
            bytes[packetStart + 1] = 0x5B;
            break;
        case PacketDamage::CutStart:
            bytes.resize(packetStart + 1);
            break;
        case PacketDamage::CutTag:
            bytes.resize(packetStart + 2);
            break;
        case PacketDamage::CutLength:
            bytes.resize(packetStart + 4);
            break;
        case PacketDamage::CutPayload:
            bytes.resize(packetStart + 4 + n);
            break;
        default:
            break;
    }
    writeAll(bytes);
}

void UartLink::leaveBus(int ms, const std::atomic<bool>& stop) {
    // Off the bus the device hears nothing: input is read and dropped.
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    while (!stop && (ms < 0 || remainingMs(deadline) > 0)) {
        readMore(ms < 0 ? 100 : std::min(100, remainingMs(deadline)));
        rx.clear();
        head = 0;
    }
    tcflush(slave, TCIFLUSH);
}

void UartLink::hangup() {
    // Every open descriptor of the slave, the host's included, is hung up; writes on them fail.
    ioctl(slave, TIOCVHANGUP);
    reopenSlave();
    // Bytes already taken in came before the hang-up; a host that opens the line afresh may
    // already be writing, so nothing more is dropped.
    rx.clear();
    head = 0;
}

}  // namespace Sim
}  // namespace RomCmd
