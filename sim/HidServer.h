#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/DeviceRunner.h"
#include "sim/FaultPlan.h"
#include "sim/SimDevice.h"

namespace RomCmd {
namespace Sim {

struct HidServerOptions {
    int devices = 1;
    uint16_t vendorId = 0x5E3A;
    uint16_t productId = 0x0001;
    uint32_t reportLength = 1024;  // report ID included, both directions
};

class HidLink;

// Serves USB-HID devices to the HID shim over a Unix socket or loopback TCP: enumeration,
// open, and one device thread per device running the same exchange as the UART.
class HidServer {
public:
    HidServer(HidServerOptions options, const DeviceConfig& config, const FaultPlan& faults,
              RunnerOptions runnerOptions, const std::atomic<bool>& stop);
    ~HidServer();
    HidServer(const HidServer&) = delete;
    HidServer& operator=(const HidServer&) = delete;

    // The address as HidWire takes it: a Unix socket's path, or tcp:PORT.
    bool start(const std::string& address, std::string* error);
    // Waits for the threads; they end once the stop flag is set.
    void stop();

    static std::string devicePath(int index);

private:
    struct Slot;
    void acceptLoop();
    void serveClient(int fd);

    HidServerOptions options;
    DeviceConfig config;
    const FaultPlan& faults;
    RunnerOptions runnerOptions;
    const std::atomic<bool>& stopFlag;
    std::vector<std::unique_ptr<Slot>> slots;
    std::thread acceptor;
    int listenFd = -1;
    std::string path;
    bool tcp = false;
};

}  // namespace Sim
}  // namespace RomCmd
