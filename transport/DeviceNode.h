#pragma once

#include <string>

namespace RomCmd {

// What a device node is, found without opening it: on some nodes the open alone has an effect.
namespace DeviceNode {

enum class Kind { Missing, Matches, Other };

// Whether the character device at `path` belongs to the sysfs class `subsystem` ("tty",
// "hidraw"), or is a pseudo-terminal when `orPseudoTerminal` (pseudo-terminals have no sysfs
// entry). Missing: nothing is at the path. Without sysfs any character device matches.
Kind classify(const std::string& path, const char* subsystem, bool orPseudoTerminal);

}  // namespace DeviceNode

}  // namespace RomCmd
