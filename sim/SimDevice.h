#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace RomCmd {
namespace Sim {

// ROM statuses the virtual device answers with.
enum RomStatus : uint32_t {
    StatusSuccess = 0,
    StatusFailure = 1,
    StatusInvalidArgument = 2,
    StatusUnsupportedMemoryCommand = 1001000,
    StatusInvalidMemoryRange = 1001001,
    StatusProgramFailed = 1001002,
    StatusReadDisallowed = 1001008,
    StatusWriteBeforeConfig = 1001009,
    StatusUnaligned = 1001010,
    StatusInvalidMemoryId = 1001011,
    StatusChecksumMismatch = 1001013,
    StatusWriteDisallowed = 1001014,
    StatusUnknownCommand = 1002000,
    StatusInvalidArguments = 1002001,
    StatusReadOnlyItem = 1002002,
};

enum class MemoryKind { Ram, Flash, Otp };

struct MemoryLayout {
    uint32_t id = 0;
    MemoryKind kind = MemoryKind::Ram;
    uint8_t memoryType = 1;
    uint8_t unitShift = 0;
    uint32_t start = 0;
    uint32_t unitCount = 0;
    uint32_t pageSize = 0;
    uint32_t sectorSize = 0;
    uint32_t blockSize = 0;

    uint64_t size() const { return uint64_t(unitCount) << (unitShift & 0x1F); }
};

// RAM 256 KiB at 0x20000000, flash 2 MiB at 0x08000000, OTP of 64 words.
std::vector<MemoryLayout> defaultMemoryMap();
// Reads a memory map from JSON text; on failure returns false with a message in *error.
bool parseMemoryMap(const std::string& json, std::vector<MemoryLayout>* map, std::string* error);

struct DeviceConfig {
    uint32_t romVersion = 0x52010200;       // R1.2.0
    uint32_t firmwareVersion = 0x46010000;  // F1.0.0
    uint32_t socRevision = 0x41010000;      // A1.0.0
    uint8_t lifeCycle = 0x03;
    uint32_t capabilities = 0x00010F07;
    uint32_t periphMask = 0x1;
    uint32_t speed = 115200;
    uint32_t commandMask = 0x7FE;
    uint8_t bootMode = 2;
    uint32_t bootDevice = 0x1;
    uint32_t bootStatus = 0;
    size_t readPacketSize = 512;  // payload bytes of one read data packet, 4-byte header included
    bool firmwareFails = false;
    bool firmwareRunning = false;
    std::vector<MemoryLayout> memories = defaultMemoryMap();
    // Command code -> status answered instead of carrying the command out.
    std::map<uint8_t, uint32_t> forcedStatus;
};

// What the device does after the acknowledgement of one host packet.
struct Outcome {
    enum class After { Nothing, Reset, FirmwareStarted };
    uint8_t ack = 0xA1;
    bool respond = false;
    std::vector<uint8_t> response;  // payload of the device packet that answers the command
    bool readFollows = false;       // data packets follow the response (see nextReadPacket)
    After after = After::Nothing;
};

// Life-cycle values from this one on are secure: reads and writes are refused.
constexpr uint8_t kSecureLifeCycle = 0x08;

// The boot ROM: decodes command payloads, checks every field and keeps memory and RTE state.
// Not thread-safe: one carrier thread owns each device.
class SimDevice {
public:
    explicit SimDevice(DeviceConfig config);

    // Handles one host packet payload.
    Outcome handlePacket(const uint8_t* payload, size_t length);
    // Builds the next read data packet into *packet; false when the read is complete. The
    // last packet carries extraOnLast bytes beyond the requested length.
    bool nextReadPacket(std::vector<uint8_t>* packet, size_t maxPayload, size_t extraOnLast = 0);
    // Drops any transfer in progress (the host gave up or the link failed).
    void abortTransfer();
    // The device comes back after leaving the bus.
    void returnToBus(Outcome::After reason);
    // Answers the next command with this status once (fault injection per occurrence).
    void forceStatusOnce(uint8_t code, uint32_t status) { forcedOnce[code] = status; }

    bool firmwareRunning() const { return runningFirmware; }
    bool transferInProgress() const { return transfer != Transfer::None; }
    uint32_t currentRomVersion() const;
    const DeviceConfig& configuration() const { return config; }
    uint8_t lastCommand() const { return lastCmd; }
    uint32_t lastStatus() const { return lastStat; }
    // Direct memory access for tests; false outside every memory.
    bool peek(uint32_t memoryId, uint32_t address, uint32_t length,
              std::vector<uint8_t>* out) const;

private:
    struct Memory {
        MemoryLayout layout;
        std::vector<uint8_t> data;
        bool configured = false;
    };
    enum class Transfer { None, Write, Read, Image };

    Outcome finish(uint8_t code, uint32_t status, uint8_t ack = 0xA1);
    Outcome finishData(uint8_t code, const std::vector<uint8_t>& data);
    Memory* findMemory(uint32_t id);
    const Memory* findMemory(uint32_t id) const;
    uint32_t checkRange(const Memory& m, uint32_t address, uint32_t length) const;
    bool secure() const { return config.lifeCycle >= kSecureLifeCycle; }
    uint32_t storeBytes(Memory& m, uint32_t address, const uint8_t* data, size_t length);

    Outcome queryRte(const uint8_t* p, size_t n);
    Outcome configRte(const uint8_t* p, size_t n);
    Outcome configMemory(const uint8_t* p, size_t n);
    Outcome writeFirst(const uint8_t* p, size_t n);
    Outcome writeData(const uint8_t* p, size_t n);
    Outcome readMemory(const uint8_t* p, size_t n);
    Outcome imageData(const uint8_t* p, size_t n);
    Outcome erase(const uint8_t* p, size_t n);
    Outcome reset(const uint8_t* p, size_t n);
    Outcome verify(const uint8_t* p, size_t n);

    DeviceConfig config;
    std::vector<Memory> memories;
    bool runningFirmware = false;
    uint8_t lastCmd = 0;
    uint32_t lastStat = 0;
    std::map<uint8_t, uint32_t> forcedOnce;

    Transfer transfer = Transfer::None;
    uint32_t xferMemory = 0;
    uint32_t xferAddress = 0;
    uint32_t xferRemaining = 0;
    // Image load: header fields and data collected until totalSize is reached.
    uint32_t imageTotal = 0;
    uint32_t imageReceived = 0;
    uint32_t imageFlags = 0;
    uint32_t imageMemory = 0;
    uint32_t imageAddress = 0;
    uint32_t imageCrc = 0;
    std::vector<uint8_t> imageData_;
};

}  // namespace Sim
}  // namespace RomCmd
