#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/DeviceRunner.h"
#include "sim/FaultPlan.h"
#include "sim/SimDevice.h"
#include "sim/SysfsTree.h"

namespace RomCmd {
namespace Sim {

struct HidServerOptions {
    int devices = 1;
    uint16_t vendorId = 0x5E3A;
    uint16_t productId = 0x0001;
    uint32_t reportLength = 1024;  // report ID included, both directions
    // A device back on the bus takes the lowest free path number, as hidraw nodes do.
    bool renumber = false;
    bool noSerial = false;
    std::string sysfsRoot;  // empty: no sysfs tree
};

class HidLink;

// Serves USB-HID devices to libtarvo_hidsim.so over a Unix socket: enumeration, open, and
// one device thread per device running the same exchange as the UART.
class HidServer {
public:
    HidServer(HidServerOptions options, const DeviceConfig& config, const FaultPlan& faults,
              RunnerOptions runnerOptions, const std::atomic<bool>& stop);
    ~HidServer();
    HidServer(const HidServer&) = delete;
    HidServer& operator=(const HidServer&) = delete;

    bool start(const std::string& socketPath, std::string* error);
    // Waits for the threads; they end once the stop flag is set.
    void stop();

    static std::string devicePath(int index);

private:
    struct Slot;
    void acceptLoop();
    void serveClient(int fd);
    // Called by a device's link as it leaves (false) and before it returns (true).
    void moveOnBus(size_t index, bool present);
    // (path number, slot) of the devices on the bus, by path number.
    std::vector<std::pair<int, size_t>> presentByNumber();

    HidServerOptions options;
    DeviceConfig config;
    const FaultPlan& faults;
    RunnerOptions runnerOptions;
    const std::atomic<bool>& stopFlag;
    std::vector<std::unique_ptr<Slot>> slots;
    std::mutex busMutex;  // the slots' path numbers and the sysfs tree
    SysfsTree sysfs;
    std::thread acceptor;
    int listenFd = -1;
    std::string path;
};

}  // namespace Sim
}  // namespace RomCmd
