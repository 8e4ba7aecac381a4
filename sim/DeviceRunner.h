#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "sim/FaultPlan.h"
#include "sim/SimDevice.h"

namespace RomCmd {
namespace Sim {

// One frame from the host, as a carrier decoded it.
struct HostFrame {
    enum class Type { None, Packet, Response, Malformed, Closed };
    Type type = Type::None;
    std::vector<uint8_t> payload;  // Packet
    uint8_t code = 0;              // Response
};

// How a device packet is damaged on the way out.
enum class PacketDamage { None, BadCrc, BadTag, CutStart, CutTag, CutLength, CutPayload };

// The carrier below the protocol: UART over a pseudo-terminal or HID reports over a socket.
class Link {
public:
    virtual ~Link() = default;
    // Waits at most timeoutMs for the next frame from the host.
    virtual HostFrame receive(int timeoutMs) = 0;
    virtual void sendAck(uint8_t status) = 0;
    virtual void sendAckStartOnly() = 0;
    virtual void sendBadAckStart() = 0;
    virtual void sendPacket(const std::vector<uint8_t>& payload, PacketDamage damage,
                            uint32_t garbageBytes) = 0;
    // Off the bus for ms milliseconds (negative: until stop is set), then back.
    virtual void leaveBus(int ms, const std::atomic<bool>& stop) = 0;
    virtual void hangup() {}
    // The next packet is the last before leaving the bus: nothing the host sends after it
    // may reach the device.
    virtual void closeInput() {}
    // Largest device packet payload the carrier can deliver.
    virtual size_t maxPayload() const = 0;
};

struct RunnerOptions {
    int leaveMs = 2000;
    bool neverReturn = false;
    int responseWaitMs = 5000;  // wait for the host's 5A A1 after a device packet
    int idleAbortMs = 5000;     // a transfer with no packet for this long is dropped
    bool verbose = false;
};

// Runs the exchange of one device over one link until stop is set: acknowledges host packets,
// sends responses and read data, waits for the host's responses, injects the planned faults.
class DeviceRunner {
public:
    DeviceRunner(SimDevice& device, Link& link, const FaultPlan& faults, RunnerOptions options,
                 const std::atomic<bool>& stop);
    void run();
    // Handles one frame; exposed for tests that drive the runner step by step.
    void handle(const HostFrame& frame);

private:
    void handlePacket(const std::vector<uint8_t>& payload);
    bool sendDevicePacket(const std::vector<uint8_t>& payload);
    bool waitHostResponse();
    void leave(Outcome::After reason);
    void countCommand(const std::vector<uint8_t>& payload);

    SimDevice& device;
    Link& link;
    const FaultPlan& faults;
    RunnerOptions options;
    const std::atomic<bool>& stop;
    std::vector<HostFrame> pending;
    uint32_t hostPackets = 0;
    uint32_t devicePackets = 0;
    uint32_t dataPackets = 0;
    uint32_t readCommands = 0;
    uint32_t commandCount[256] = {};
};

}  // namespace Sim
}  // namespace RomCmd
