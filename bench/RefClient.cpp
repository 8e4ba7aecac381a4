#include "bench/RefClient.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/RefSha256.h"

namespace RefClient {

namespace {

constexpr uint8_t kAckAccepted = 0xA1;
constexpr uint8_t kAckAborted = 0xA3;
constexpr size_t kMaxHostPayload = 512;
constexpr size_t kDataHeader = 4;  // code, count, flags, reserved

class File {
public:
    File(const char* path, const char* mode) : f(std::fopen(path, mode)), path(path) {
        if (!f) {
            fail(std::string("cannot open ") + path + ": " + std::strerror(errno));
        }
    }
    ~File() {
        if (f) {
            std::fclose(f);
        }
    }
    uint64_t size() const {
        struct stat st {};
        if (fstat(fileno(f), &st) != 0) {
            fail(std::string("cannot examine ") + path + ": " + std::strerror(errno));
        }
        return uint64_t(st.st_size);
    }
    void read(uint8_t* data, size_t n) {
        if (std::fread(data, 1, n, f) != n) {
            fail(std::string("cannot read ") + path);
        }
    }
    void write(const uint8_t* data, size_t n) {
        if (std::fwrite(data, 1, n, f) != n) {
            fail(std::string("cannot write ") + path + ": " + std::strerror(errno));
        }
    }
    void close() {
        const int r = std::fclose(f);
        f = nullptr;
        if (r != 0) {
            fail(std::string("cannot write ") + path + ": " + std::strerror(errno));
        }
    }

private:
    FILE* f;
    const char* path;
};

void putLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Payload header: command code, parameter count, flags (1: data packet), reserved.
size_t command(uint8_t* p, uint8_t code, uint8_t flags, const uint32_t* params, uint8_t count) {
    p[0] = code;
    p[1] = count;
    p[2] = flags;
    p[3] = 0;
    for (uint8_t i = 0; i < count; ++i) {
        putLe32(p + 4 + 4 * i, params[i]);
    }
    return 4 + 4 * size_t(count);
}

uint32_t number(const char* text, int base, const char* what) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, base);
    if (*text == '\0' || *end != '\0' || errno != 0 || v > 0xFFFFFFFFull || *text == '-') {
        fail(std::string(what) + " is not a number: " + text);
    }
    return uint32_t(v);
}

// The ROM's answer to a command: code, 0, 0, 0, then the status word.
void expectRomSuccess(Link& link) {
    uint8_t packet[kMaxPacket];
    const size_t n = link.readPacket(packet);
    if (n < 8) {
        fail("response too short: " + std::to_string(n) + " bytes");
    }
    const uint32_t status = le32(packet + 4);
    if (status != 0) {
        fail("ROM status " + std::to_string(status));
    }
}

// Sends a packet the device must accept; an abort comes with a response that says why.
void exchange(Link& link, const uint8_t* payload, size_t n) {
    link.send(payload, n);
    const uint8_t ack = link.readAck();
    if (ack == kAckAccepted) {
        return;
    }
    if (ack == kAckAborted) {
        expectRomSuccess(link);
        fail("packet aborted by the device");
    }
    char text[64];
    std::snprintf(text, sizeof text, "acknowledgement 0x%02x", ack);
    fail(text);
}

// write-memory (code 4) and load-image (code 6): the file in packets of at most 512 bytes.
void sendFile(Link& link, uint8_t code, const uint32_t* params, uint8_t count, const char* path) {
    File file(path, "rb");
    const uint64_t size = file.size();
    if (size == 0 || size > 0xFFFFFFFFull) {
        fail(std::string("file size not usable: ") + path);
    }
    uint8_t packet[kMaxHostPayload];
    uint64_t left = size;
    size_t header =
        count > 0 ? command(packet, code, 0, params, count) : command(packet, code, 1, nullptr, 0);
    while (left > 0) {
        const size_t n = size_t(std::min<uint64_t>(kMaxHostPayload - header, left));
        file.read(packet + header, n);
        exchange(link, packet, header + n);
        left -= n;
        header = command(packet, code, 1, nullptr, 0);
    }
    expectRomSuccess(link);
}

void writeMemory(Link& link, uint32_t id, uint32_t address, const char* path) {
    File probe(path, "rb");
    const uint32_t params[3] = {address, uint32_t(probe.size()), id};
    probe.close();
    sendFile(link, 4, params, 3, path);
}

void readMemory(Link& link, uint32_t id, uint32_t address, uint32_t length, const char* path) {
    uint8_t packet[kMaxPacket];
    const uint32_t params[3] = {address, length, id};
    exchange(link, packet, command(packet, 5, 0, params, 3));
    expectRomSuccess(link);
    File out(path, "wb");
    uint32_t left = length;
    while (left > 0) {
        const size_t n = link.readPacket(packet);
        if (n <= kDataHeader) {
            fail("data packet without data after " + std::to_string(length - left) + " bytes");
        }
        const size_t data = n - kDataHeader;
        if (data > left) {
            fail("device sent more data than requested");
        }
        out.write(packet + kDataHeader, data);
        left -= uint32_t(data);
    }
    out.close();
}

void verifyChecksum(Link& link, uint32_t id, uint32_t address, const char* path) {
    File file(path, "rb");
    const uint64_t size = file.size();
    if (size > 0xFFFFFFFFull) {
        fail(std::string("file larger than 4 GiB: ") + path);
    }
    Sha256 sha;
    static uint8_t block[1 << 16];
    for (uint64_t left = size; left > 0;) {
        const size_t n = size_t(std::min<uint64_t>(sizeof block, left));
        file.read(block, n);
        sha.update(block, n);
        left -= n;
    }
    uint8_t digest[32];
    sha.finish(digest);
    // address, length, memory, algorithm 1 (SHA-256), digest length 32, then the digest.
    uint32_t params[13] = {address, uint32_t(size), id, 1, 32};
    uint8_t packet[4 + 4 * 13];
    command(packet, 10, 0, params, 13);
    std::memcpy(packet + 4 + 4 * 5, digest, sizeof digest);
    exchange(link, packet, sizeof packet);
    expectRomSuccess(link);
}

}  // namespace

const char* const kCommandUsage =
    "  write-memory ID ADDRESS FILE\n"
    "  load-image FILE\n"
    "  read-memory ID ADDRESS LENGTH FILE\n"
    "  verify-checksum ID ADDRESS FILE\n"
    "ID and ADDRESS are hexadecimal, LENGTH decimal. Exit status 0 on success, 1 on a\n"
    "failure (reported on standard error), 2 on a usage error.\n";

void fail(const std::string& message) {
    std::fprintf(stderr, "error: %s\n", message.c_str());
    std::exit(1);
}

void checkUsage(int argc, char** argv) {
    static const struct {
        const char* name;
        int words;
    } kCommands[] = {
        {"write-memory", 4}, {"load-image", 2}, {"read-memory", 5}, {"verify-checksum", 4}};
    for (const auto& c : kCommands) {
        if (argc == c.words && std::strcmp(argv[0], c.name) == 0) {
            return;
        }
    }
    std::fprintf(stderr, "error: unknown command or wrong number of words: %s\n%s",
                 argc > 0 ? argv[0] : "(none)", kCommandUsage);
    std::exit(2);
}

void runCommand(Link& link, int argc, char** argv) {
    checkUsage(argc, argv);
    const std::string name = argv[0];
    if (name == "write-memory") {
        writeMemory(link, number(argv[1], 16, "ID"), number(argv[2], 16, "ADDRESS"), argv[3]);
    } else if (name == "load-image") {
        sendFile(link, 6, nullptr, 0, argv[1]);
    } else if (name == "read-memory") {
        readMemory(link, number(argv[1], 16, "ID"), number(argv[2], 16, "ADDRESS"),
                   number(argv[3], 10, "LENGTH"), argv[4]);
    } else {
        verifyChecksum(link, number(argv[1], 16, "ID"), number(argv[2], 16, "ADDRESS"), argv[3]);
    }
}

}  // namespace RefClient
