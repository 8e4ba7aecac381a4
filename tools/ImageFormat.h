#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace RomCmd {
namespace ImageFormat {

// Load image built by the image tool and read by the virtual device: a 32-byte
// little-endian header followed by the data that is placed at loadAddress of loadMemory.
//   0  magic        "TVIM"
//   4  totalSize    header + data, in bytes
//   8  loadMemory   memory identifier
//  12  loadAddress
//  16  entry        start address after loading
//  20  flags        bit 0: boot-loader firmware
//  24  dataCrc      CRC-16/XMODEM of the data, in the low 16 bits
//  28  reserved     0
constexpr size_t kHeaderSize = 32;
constexpr uint8_t kMagic[4] = {'T', 'V', 'I', 'M'};
constexpr uint32_t kFlagBootLoaderFirmware = 0x1;

struct Header {
    uint32_t totalSize = 0;
    uint32_t loadMemory = 0;
    uint32_t loadAddress = 0;
    uint32_t entry = 0;
    uint32_t flags = 0;
    uint32_t dataCrc = 0;
    uint32_t reserved = 0;
};

inline uint32_t readLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void writeLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline void encodeHeader(const Header& h, uint8_t* out) {
    std::memcpy(out, kMagic, 4);
    writeLe32(out + 4, h.totalSize);
    writeLe32(out + 8, h.loadMemory);
    writeLe32(out + 12, h.loadAddress);
    writeLe32(out + 16, h.entry);
    writeLe32(out + 20, h.flags);
    writeLe32(out + 24, h.dataCrc);
    writeLe32(out + 28, h.reserved);
}

// False when the magic is wrong, the size cannot hold the header, or reserved bits are set.
inline bool decodeHeader(const uint8_t* in, size_t available, Header* h) {
    if (available < kHeaderSize || std::memcmp(in, kMagic, 4) != 0) {
        return false;
    }
    h->totalSize = readLe32(in + 4);
    h->loadMemory = readLe32(in + 8);
    h->loadAddress = readLe32(in + 12);
    h->entry = readLe32(in + 16);
    h->flags = readLe32(in + 20);
    h->dataCrc = readLe32(in + 24);
    h->reserved = readLe32(in + 28);
    return h->totalSize >= kHeaderSize && h->reserved == 0 &&
           (h->flags & ~kFlagBootLoaderFirmware) == 0 && (h->dataCrc >> 16) == 0;
}

}  // namespace ImageFormat
}  // namespace RomCmd
