#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace RomCmd {
namespace Sim {

// Faults chosen per run with --fault NAME[=VALUE][@N]. Without @N a fault hits every event it
// counts; with @N only the Nth (1-based). The event counted depends on the fault.
enum class FaultKind {
    // Counted over host packets received.
    Nak,          // acknowledge with A2
    Abort,        // acknowledge with A3, then answer with status VALUE (default 1)
    BadAck,       // acknowledge with status byte 0x7F
    BadAckStart,  // UART: first acknowledgement byte 0x41 instead of 0x5A
    NoAck,        // no acknowledgement at all
    HalfAck,      // UART: only the 0x5A of the acknowledgement
    Vanish,       // leave the bus on receiving the packet, without acknowledging it
    Hangup,       // UART: hang the line up instead of acknowledging; the host's writes then fail
    // Counted over device packets sent (responses and read data).
    BadCrc,       // UART: CRC off by one
    BadTag,       // second byte 0x5B instead of 0xA5
    NoPacket,     // the packet is not sent
    CutStart,     // only the start byte
    CutTag,       // start byte and tag
    CutLength,    // the 4 header bytes
    CutPayload,   // header and payload, no CRC (HID: report cut to half its payload)
    Garbage,      // VALUE bytes (default 7) of non-0x5A noise before the packet
    VanishAfter,  // send the packet, then leave the bus before the host answers it
    // Counted over read data packets.
    ShortData,  // the data packet carries its 4-byte header only
    // Counted over read commands.
    ExtraData,  // the last data packet carries VALUE (default 16) bytes more than asked
    // Counted per command code: status=CODE:STATUS.
    Status,
};

struct Fault {
    FaultKind kind = FaultKind::Nak;
    uint32_t nth = 0;  // 0: every event
    uint32_t value = 0;
    uint8_t code = 0;  // Status only
};

class FaultPlan {
public:
    // Adds one fault; on a syntax error returns false with a message in *error.
    bool add(const std::string& text, std::string* error);

    // The first fault of these kinds that hits event number n, or nullptr.
    const Fault* hostPacketFault(uint32_t n) const;
    const Fault* devicePacketFault(uint32_t n) const;
    const Fault* dataPacketFault(uint32_t n) const;
    const Fault* readCommandFault(uint32_t n) const;
    // The forced status for the nth command with this code, if any.
    bool statusFault(uint8_t code, uint32_t n, uint32_t* status) const;

    bool empty() const { return faults.empty(); }
    static std::string syntaxHelp();

private:
    const Fault* find(uint32_t n, const std::vector<FaultKind>& kinds) const;
    std::vector<Fault> faults;
};

}  // namespace Sim
}  // namespace RomCmd
