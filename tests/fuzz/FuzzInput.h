#pragma once

#include <QtGlobal>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace RomCmd {
namespace Fuzz {

// Takes bytes off the front of a fuzz input; reads past the end yield zeros or short slices.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool empty() const { return position >= size; }
    size_t remaining() const { return size - position; }

    uint8_t byte() { return empty() ? 0 : data[position++]; }
    uint16_t u16() {
        const uint16_t low = byte();
        return uint16_t(low | (byte() << 8));
    }
    // Up to count bytes, pointing into the input itself so that overreads stay visible.
    const uint8_t* take(size_t count, size_t* taken) {
        *taken = std::min(count, remaining());
        const uint8_t* slice = data + position;
        position += *taken;
        return slice;
    }
    const uint8_t* rest(size_t* taken) { return take(remaining(), taken); }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

// Fuzzing logs millions of lines; formatting them is part of what is exercised, writing is not.
inline void silentMessageHandler(QtMsgType, const QMessageLogContext&, const QString&) {}

// Installs the handler on the first call only, so a target may call it for every input.
inline void silenceLogging() {
    static const bool installed = (qInstallMessageHandler(silentMessageHandler), true);
    (void)installed;
}

// A broken invariant: stops the fuzzer with a report and an input to keep.
#define FUZZ_CHECK(condition)                                                             \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                       \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)

}  // namespace Fuzz
}  // namespace RomCmd
