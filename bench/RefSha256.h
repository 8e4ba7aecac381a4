#pragma once

#include <cstddef>
#include <cstdint>

namespace RefClient {

// SHA-256 (FIPS 180-4), kept here so the reference clients need no library.
class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t length);
    // Writes the 32-byte digest; the object is spent afterwards.
    void finish(uint8_t* digest);

private:
    void block(const uint8_t* p);

    uint32_t h[8];
    uint8_t pending[64];
    size_t fill = 0;
    uint64_t total = 0;
};

}  // namespace RefClient
