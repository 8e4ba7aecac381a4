#pragma once

#include <cstddef>
#include <cstdint>

namespace RomCmd {
namespace Fuzz {

// The far end of the fuzz build's serial port: reads are served from `line` and come up
// short once it runs out, which is what a read time-out looks like to the transport.
struct FuzzLine {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t position = 0;
    // Bytes the line still takes before writes come up short; SIZE_MAX for no limit.
    size_t writeLimit = SIZE_MAX;
    size_t bytesWritten = 0;
    // Largest count the transport asked one read for.
    size_t largestRead = 0;
};

FuzzLine& fuzzLine();

}  // namespace Fuzz
}  // namespace RomCmd
