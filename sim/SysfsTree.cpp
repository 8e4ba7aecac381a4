#include "sim/SysfsTree.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace RomCmd {
namespace Sim {

namespace fs = std::filesystem;

namespace {

// A hub in port 1 of bus 1: its ports hold the devices (1-1.1, 1-1.2, ...).
const char kBus[] = "devices/pci0000:00/0000:00:14.0/usb1/1-1";

}  // namespace

bool SysfsTree::create(const std::string& rootPath, std::string* error) {
    root = rootPath;
    if (root.empty()) {
        return true;
    }
    std::error_code ec;
    fs::create_directories(fs::path(root) / "class/hidraw", ec);
    fs::create_directories(fs::path(root) / kBus, ec);
    if (ec) {
        *error = "cannot make the sysfs tree " + root + ": " + ec.message();
        return false;
    }
    return true;
}

void SysfsTree::attach(int index, const std::string& location, uint16_t vid, uint16_t pid,
                       const std::string& node) {
    if (root.empty()) {
        return;
    }
    char hid[32];
    std::snprintf(hid, sizeof hid, "0003:%04X:%04X.%04X", vid, pid, unsigned(index + 1));
    const std::string device = std::string(kBus) + "/" + location + "/" + location + ":1.0/" + hid;
    const fs::path nodeDir = fs::path(root) / device / "hidraw" / node;
    std::error_code ec;
    fs::create_directories(nodeDir, ec);
    fs::create_symlink(fs::path("../..") / ".." / hid, nodeDir / "device", ec);
    fs::create_symlink(fs::path("../..") / device / "hidraw" / node,
                       fs::path(root) / "class/hidraw" / node, ec);
}

void SysfsTree::detach(const std::string& node) {
    if (root.empty()) {
        return;
    }
    const fs::path link = fs::path(root) / "class/hidraw" / node;
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    fs::remove(link, ec);
    if (!target.empty()) {
        fs::remove_all(link.parent_path() / target, ec);
    }
}

}  // namespace Sim
}  // namespace RomCmd
