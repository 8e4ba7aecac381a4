#include "sim/FaultPlan.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace RomCmd {
namespace Sim {

namespace {

struct KindName {
    const char* name;
    FaultKind kind;
    uint32_t defaultValue;
};

const KindName kKinds[] = {
    {"nak", FaultKind::Nak, 0},
    {"abort", FaultKind::Abort, 1},
    {"bad-ack", FaultKind::BadAck, 0},
    {"bad-ack-start", FaultKind::BadAckStart, 0},
    {"no-ack", FaultKind::NoAck, 0},
    {"half-ack", FaultKind::HalfAck, 0},
    {"vanish", FaultKind::Vanish, 0},
    {"hangup", FaultKind::Hangup, 0},
    {"bad-crc", FaultKind::BadCrc, 0},
    {"bad-tag", FaultKind::BadTag, 0},
    {"no-packet", FaultKind::NoPacket, 0},
    {"cut-start", FaultKind::CutStart, 0},
    {"cut-tag", FaultKind::CutTag, 0},
    {"cut-length", FaultKind::CutLength, 0},
    {"cut-payload", FaultKind::CutPayload, 0},
    {"garbage", FaultKind::Garbage, 7},
    {"vanish-after", FaultKind::VanishAfter, 0},
    {"short-data", FaultKind::ShortData, 0},
    {"extra-data", FaultKind::ExtraData, 16},
    {"status", FaultKind::Status, 0},
};

bool parseNumber(const std::string& text, uint32_t* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) {
        return false;
    }
    *out = uint32_t(v);
    return true;
}

}  // namespace

bool FaultPlan::add(const std::string& text, std::string* error) {
    std::string rest = text;
    Fault f;
    const size_t at = rest.find('@');
    if (at != std::string::npos) {
        if (!parseNumber(rest.substr(at + 1), &f.nth) || f.nth == 0) {
            *error = "fault \"" + text + "\": @N needs a positive number";
            return false;
        }
        rest.resize(at);
    }
    std::string value;
    const size_t eq = rest.find('=');
    const bool hasValue = eq != std::string::npos;
    if (hasValue) {
        value = rest.substr(eq + 1);
        rest.resize(eq);
    }
    const KindName* kind = nullptr;
    for (const KindName& k : kKinds) {
        if (rest == k.name) {
            kind = &k;
        }
    }
    if (!kind) {
        *error = "fault \"" + text + "\": unknown fault name \"" + rest + "\"";
        return false;
    }
    f.kind = kind->kind;
    f.value = kind->defaultValue;
    if (f.kind == FaultKind::Status) {
        const size_t colon = value.find(':');
        uint32_t code = 0;
        if (colon == std::string::npos || !parseNumber(value.substr(0, colon), &code) ||
            code > 255 || !parseNumber(value.substr(colon + 1), &f.value)) {
            *error = "fault \"" + text + "\": status needs =CODE:STATUS";
            return false;
        }
        f.code = uint8_t(code);
    } else if (hasValue) {
        const bool takesValue = f.kind == FaultKind::Abort || f.kind == FaultKind::Garbage ||
                                f.kind == FaultKind::ExtraData;
        if (!takesValue || !parseNumber(value, &f.value)) {
            *error = "fault \"" + text +
                     "\": " + (takesValue ? "value is not a number" : "this fault takes no value");
            return false;
        }
        if ((f.kind == FaultKind::Garbage || f.kind == FaultKind::ExtraData) && f.value > 4096) {
            *error = "fault \"" + text + "\": value above 4096";
            return false;
        }
    }
    faults.push_back(f);
    return true;
}

const Fault* FaultPlan::find(uint32_t n, const std::vector<FaultKind>& kinds) const {
    for (const Fault& f : faults) {
        if ((f.nth == 0 || f.nth == n) &&
            std::find(kinds.begin(), kinds.end(), f.kind) != kinds.end()) {
            return &f;
        }
    }
    return nullptr;
}

const Fault* FaultPlan::hostPacketFault(uint32_t n) const {
    return find(n, {FaultKind::Nak, FaultKind::Abort, FaultKind::BadAck, FaultKind::BadAckStart,
                    FaultKind::NoAck, FaultKind::HalfAck, FaultKind::Vanish, FaultKind::Hangup});
}

const Fault* FaultPlan::devicePacketFault(uint32_t n) const {
    return find(n, {FaultKind::BadCrc, FaultKind::BadTag, FaultKind::NoPacket, FaultKind::CutStart,
                    FaultKind::CutTag, FaultKind::CutLength, FaultKind::CutPayload,
                    FaultKind::Garbage, FaultKind::VanishAfter});
}

const Fault* FaultPlan::dataPacketFault(uint32_t n) const {
    return find(n, {FaultKind::ShortData});
}

const Fault* FaultPlan::readCommandFault(uint32_t n) const {
    return find(n, {FaultKind::ExtraData});
}

bool FaultPlan::statusFault(uint8_t code, uint32_t n, uint32_t* status) const {
    for (const Fault& f : faults) {
        if (f.kind == FaultKind::Status && f.code == code && (f.nth == 0 || f.nth == n)) {
            *status = f.value;
            return true;
        }
    }
    return false;
}

std::string FaultPlan::syntaxHelp() {
    return "Faults: --fault NAME[=VALUE][@N], repeatable. Without @N the fault hits every event "
           "it\n"
           "counts, with @N only the Nth (1-based, counted from the start of the process).\n"
           "  counted over host packets received:\n"
           "    nak            acknowledge with 5A A2 (host result 1)\n"
           "    abort[=S]      acknowledge with 5A A3, then answer with ROM status S (default 1)\n"
           "    bad-ack        acknowledgement status byte 0x7F (host result 3)\n"
           "    bad-ack-start  UART: first acknowledgement byte 0x41 (host result 3)\n"
           "    no-ack         send nothing (host result 9)\n"
           "    half-ack       UART: send only 5A (host result 10); HID: like no-ack\n"
           "    vanish         leave the bus without acknowledging (UART 9, HID 16)\n"
           "    hangup         UART: hang up instead of acknowledging (host 9, its next write 6)\n"
           "  counted over device packets sent (responses and read data):\n"
           "    bad-crc        UART: wrong CRC (host result 1)\n"
           "    bad-tag        second byte 0x5B instead of A5 (UART result 11)\n"
           "    no-packet      the packet is not sent (host result 4)\n"
           "    cut-start      UART: only 5A (result 11)\n"
           "    cut-tag        UART: only 5A A5 (result 12)\n"
           "    cut-length     UART: the 4 header bytes only (result 13)\n"
           "    cut-payload    UART: no CRC (result 14); HID: report cut to half the payload\n"
           "    garbage[=K]    UART: K bytes (default 7) of noise before the packet\n"
           "    vanish-after   send the packet, then leave the bus (HID: host result 15)\n"
           "  counted over read data packets:\n"
           "    short-data     the packet carries only its 4-byte header; the read ends there\n"
           "  counted over read commands:\n"
           "    extra-data[=K] the last data packet carries K bytes (default 16) beyond the "
           "length\n"
           "  counted per command code:\n"
           "    status=C:S     answer command code C with ROM status S instead of running it\n";
}

}  // namespace Sim
}  // namespace RomCmd
