// The virtual device: the fuzz input begins with a memory-map JSON text (up to a zero byte),
// then a settings byte, then host payloads, each handled as the device would a host packet.

#include <QtGlobal>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "tests/fuzz/FuzzInput.h"

using namespace RomCmd;
using namespace RomCmd::Fuzz;
using namespace RomCmd::Sim;

namespace {

// Memories are allocated for every input: keep them small.
constexpr uint64_t kLargestMap = 64 * 1024;

std::vector<MemoryLayout> smallMemoryMap() {
    std::vector<MemoryLayout> map = defaultMemoryMap();
    map[0].unitCount = 4;  // RAM 4 KiB
    map[1].unitCount = 4;  // flash: four 4 KiB sectors
    return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    silenceLogging();
    FuzzInput input(data, size);
    size_t jsonLength = 0;
    while (jsonLength < size && data[jsonLength] != 0)
        ++jsonLength;
    size_t taken = 0;
    const uint8_t* json = input.take(jsonLength, &taken);
    input.byte();

    DeviceConfig config;
    config.memories = smallMemoryMap();
    std::vector<MemoryLayout> parsed;
    std::string error;
    if (parseMemoryMap(std::string(reinterpret_cast<const char*>(json), taken), &parsed, &error)) {
        uint64_t total = 0;
        for (const MemoryLayout& memory : parsed) {
            FUZZ_CHECK(memory.size() > 0 && memory.size() <= (256u << 20));
            FUZZ_CHECK(uint64_t(memory.start) + memory.size() <= 0x100000000ull);
            total += memory.size();
        }
        if (total <= kLargestMap)
            config.memories = parsed;
    } else {
        FUZZ_CHECK(!error.empty());
    }

    const uint8_t settings = input.byte();
    config.lifeCycle = (settings & 1) ? kSecureLifeCycle : 0x03;
    config.firmwareRunning = (settings & 2) != 0;
    config.firmwareFails = (settings & 4) != 0;
    const size_t maxPayload = 64 + size_t(settings >> 3) * 32;  // 64 to 1056
    SimDevice device(config);

    while (!input.empty()) {
        const uint16_t word = input.u16();
        if ((word & 0xF000) == 0xF000) {
            device.returnToBus((word & 1) ? Outcome::After::FirmwareStarted
                                          : Outcome::After::Reset);
            continue;
        }
        // Exactly sized, so that a read past the payload shows.
        size_t length = 0;
        const uint8_t* slice = input.take(word & 0xFFF, &length);
        const std::vector<uint8_t> payload(slice, slice + length);
        const Outcome outcome = device.handlePacket(payload.data(), payload.size());
        FUZZ_CHECK(outcome.ack == 0xA1 || outcome.ack == 0xA2 || outcome.ack == 0xA3);
        if (outcome.respond)
            FUZZ_CHECK(outcome.response.size() >= 8);
        if (outcome.readFollows) {
            FUZZ_CHECK(device.transferInProgress());
            // A read ends within as many packets as its memory has data chunks.
            uint64_t bound = 2;
            for (const MemoryLayout& memory : config.memories)
                bound += memory.size() / (maxPayload - 4) + 1;
            std::vector<uint8_t> packet;
            uint64_t packets = 0;
            while (device.nextReadPacket(&packet, maxPayload)) {
                FUZZ_CHECK(packet.size() >= 4 && packet.size() <= maxPayload);
                FUZZ_CHECK(++packets <= bound);
            }
        }
        if (outcome.after != Outcome::After::Nothing)
            device.returnToBus(outcome.after);
    }
    return 0;
}
