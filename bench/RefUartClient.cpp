// tarvo_bench_uart_client: the reference client over a UART (plain POSIX, blocking reads).
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "bench/RefClient.h"

namespace {

using RefClient::fail;

constexpr uint8_t kStart = 0x5A;
constexpr uint8_t kTag = 0xA5;
constexpr int kTimeoutMs = 10000;

// CRC-16/XMODEM: poly 0x1021, init 0, not reflected, no final XOR; a byte at a time from a
// table, as any client that cares about its CPU would do it.
struct Crc16Table {
    uint16_t entry[256];
    Crc16Table() {
        for (int i = 0; i < 256; ++i) {
            uint16_t crc = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b) {
                crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ 0x1021) : uint16_t(crc << 1);
            }
            entry[i] = crc;
        }
    }
};

uint16_t crc16(uint16_t crc, const uint8_t* p, size_t n) {
    static const Crc16Table table;
    for (size_t i = 0; i < n; ++i) {
        crc = uint16_t(crc << 8 ^ table.entry[(crc >> 8 ^ p[i]) & 0xFF]);
    }
    return crc;
}

class UartLink : public RefClient::Link {
public:
    explicit UartLink(const char* path) {
        fd = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            fail(std::string("cannot open ") + path + ": " + std::strerror(errno));
        }
        termios tio{};
        if (tcgetattr(fd, &tio) != 0) {
            fail(std::string("not a terminal: ") + path);
        }
        cfmakeraw(&tio);
        cfsetspeed(&tio, B115200);
        tio.c_cflag |= CLOCAL | CREAD;
        // A read returns what has arrived, or nothing after a second of silence.
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 10;
        if (tcsetattr(fd, TCSANOW, &tio) != 0) {
            fail(std::string("cannot set up ") + path + ": " + std::strerror(errno));
        }
    }
    ~UartLink() override { ::close(fd); }

    void send(const uint8_t* payload, size_t n) override {
        // header (4) + payload + CRC (2), as one write
        uint8_t frame[4 + 512 + 2];
        if (n > 512) {
            fail("host packet too long");
        }
        frame[0] = kStart;
        frame[1] = kTag;
        frame[2] = uint8_t(n);
        frame[3] = uint8_t(n >> 8);
        std::memcpy(frame + 4, payload, n);
        const uint16_t crc = crc16(0, frame, 4 + n);
        frame[4 + n] = uint8_t(crc);
        frame[5 + n] = uint8_t(crc >> 8);
        writeAll(frame, n + 6);
    }

    uint8_t readAck() override {
        uint8_t ack[2];
        readAll(ack, 2);
        if (ack[0] != kStart) {
            fail("acknowledgement does not start with 0x5A");
        }
        return ack[1];
    }

    size_t readPacket(uint8_t* payload) override {
        uint8_t header[4];
        readAll(header, 4);
        if (header[0] != kStart || header[1] != kTag) {
            fail("device packet header wrong");
        }
        const size_t n = size_t(header[2]) | size_t(header[3]) << 8;
        if (n > RefClient::kMaxPacket) {
            fail("device packet too long: " + std::to_string(n));
        }
        // payload and CRC in one read
        uint8_t rest[RefClient::kMaxPacket + 2];
        readAll(rest, n + 2);
        const uint16_t crc = crc16(crc16(0, header, 4), rest, n);
        const bool good = crc == uint16_t(rest[n] | rest[n + 1] << 8);
        const uint8_t answer[2] = {kStart, uint8_t(good ? 0xA1 : 0xA2)};
        writeAll(answer, 2);
        if (!good) {
            fail("device packet CRC wrong");
        }
        std::memcpy(payload, rest, n);
        return n;
    }

private:
    void writeAll(const uint8_t* p, size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                fail(std::string("write failed: ") + std::strerror(errno));
            }
            p += w;
            n -= size_t(w);
        }
    }

    void readAll(uint8_t* p, size_t n) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
        while (n > 0) {
            const ssize_t r = ::read(fd, p, n);
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r < 0) {
                fail(std::string("read failed: ") + std::strerror(errno));
            }
            if (r == 0 && std::chrono::steady_clock::now() > deadline) {
                fail("no answer from the device");
            }
            p += r;
            n -= size_t(r);
        }
    }

    int fd = -1;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT COMMAND...\n%s", argv[0], RefClient::kCommandUsage);
        return 2;
    }
    RefClient::checkUsage(argc - 2, argv + 2);
    UartLink link(argv[1]);
    RefClient::runCommand(link, argc - 2, argv + 2);
    return 0;
}
