#pragma once

#include <cstdint>
#include <string>

namespace RomCmd {
namespace Sim {

// The HID devices' part of a sysfs tree, laid out as the kernel does, so that the tool finds
// each device's USB port when TARVO_SYSFS_ROOT names the tree's root.
class SysfsTree {
public:
    // An empty root makes no tree; attach and detach then do nothing.
    bool create(const std::string& root, std::string* error);
    // Device `index` under the USB device `location` gets the hidraw node `node`.
    void attach(int index, const std::string& location, uint16_t vid, uint16_t pid,
                const std::string& node);
    void detach(const std::string& node);

private:
    std::string root;
};

}  // namespace Sim
}  // namespace RomCmd
