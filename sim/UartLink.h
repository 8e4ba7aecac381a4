#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "sim/DeviceRunner.h"
#include "sim/WireClock.h"

namespace RomCmd {
namespace Sim {

// The device's end of a UART: the master side of a pseudo-terminal. The slave side is kept
// open by the device as well, so hosts can open and close it any number of times.
class UartLink : public Link {
public:
    explicit UartLink(uint32_t baud = 0, uint32_t replyLatencyMs = 0)
        : baud(baud), replyLatencyMs(replyLatencyMs), toHost(baud), fromHost(baud) {}
    ~UartLink() override;
    UartLink(const UartLink&) = delete;
    UartLink& operator=(const UartLink&) = delete;

    bool open(std::string* error);
    const std::string& slavePath() const { return slaveName; }

    HostFrame receive(int timeoutMs) override;
    void sendAck(uint8_t status) override;
    void sendAckStartOnly() override;
    void sendBadAckStart() override;
    void sendPacket(const std::vector<uint8_t>& payload, PacketDamage damage,
                    uint32_t garbageBytes) override;
    void leaveBus(int ms, const std::atomic<bool>& stop) override;
    void hangup() override;
    size_t maxPayload() const override { return 65535; }

private:
    bool readMore(int timeoutMs);
    void consume(size_t count);
    void writeAll(const std::vector<uint8_t>& bytes);
    void clockIn(size_t bytes);
    void frameTaken();
    void waitForWire(size_t bytes);
    bool reopenSlave();

    uint32_t baud;
    // A USB-serial chip's latency timer: bursts shorter than one USB packet wait this long.
    uint32_t replyLatencyMs;
    // Paced line (baud > 0): each direction's wire clock, the time the last host frame had
    // fully arrived, and how late the last wait for the wire woke up.
    WireClock toHost;
    WireClock fromHost;
    WireClock::Clock::time_point frameEnd{};
    WireClock::Clock::duration lateness{};
    bool slackSet = false;
    int master = -1;
    int slave = -1;
    std::string slaveName;
    std::vector<uint8_t> rx;  // bytes from the host; rx[head] is the first not yet parsed
    size_t head = 0;
};

}  // namespace Sim
}  // namespace RomCmd
