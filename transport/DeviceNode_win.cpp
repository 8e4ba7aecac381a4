#include "transport/DeviceNode.h"

namespace RomCmd {

namespace DeviceNode {

// Windows names devices by interface paths, not by nodes of a class; the serial and HID layers
// judge what they open.
Kind classify(const std::string&, const char*, bool) {
    return Kind::Matches;
}

}  // namespace DeviceNode

}  // namespace RomCmd
