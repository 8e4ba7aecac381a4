#pragma once

#include <QMetaType>
#include <cstddef>
#include <cstdint>

// Byte images of the ROM's run-time environment items, little-endian as on the wire.
namespace RomCmd {

struct RomParamInfo {  // item 0
    uint32_t romVersion;
    uint32_t socRevision;
    uint8_t lifeCycle;
    uint8_t reserved[3];
    uint32_t capabilities;
};

struct SerialInfParam {  // item 1, also the data of config-rte
    uint8_t words;
    uint8_t reserved[3];
    uint32_t periphMask;
    uint32_t speed;
    uint8_t unused[12];
};

struct CmdStatusInfo {  // item 2
    uint8_t lastCommand;
    uint8_t reserved[3];
    uint32_t lastStatus;
    uint8_t unused[16];
};

struct BootStatusInfo {  // item 3
    uint8_t bootMode;
    uint8_t reserved[3];
    uint32_t bootDevice;
    uint32_t bootStatus;
};

struct MemoryAttribute {  // item 4
    uint8_t memoryType;
    uint8_t unitShift;  // bits 4-0: log2 of the unit size
    uint8_t reserved[2];
    uint32_t memoryId;
    uint32_t startAddress;
    uint32_t endAddress;
    uint32_t unitCount;
    uint32_t pageSize;
    uint32_t sectorSize;
    uint32_t blockSize;
};

constexpr uint8_t kPagedMemoryType = 8;
constexpr uint32_t kOtpMemoryId = 0x20000;

static_assert(sizeof(RomParamInfo) == 16, "RomParamInfo is 16 bytes on the wire");
static_assert(offsetof(RomParamInfo, socRevision) == 4, "");
static_assert(offsetof(RomParamInfo, lifeCycle) == 8, "");
static_assert(offsetof(RomParamInfo, capabilities) == 12, "");
static_assert(sizeof(SerialInfParam) == 24, "SerialInfParam is 24 bytes on the wire");
static_assert(offsetof(SerialInfParam, periphMask) == 4, "");
static_assert(offsetof(SerialInfParam, speed) == 8, "");
static_assert(sizeof(CmdStatusInfo) == 24, "CmdStatusInfo is 24 bytes on the wire");
static_assert(offsetof(CmdStatusInfo, lastStatus) == 4, "");
static_assert(sizeof(BootStatusInfo) == 12, "BootStatusInfo is 12 bytes on the wire");
static_assert(offsetof(BootStatusInfo, bootDevice) == 4, "");
static_assert(offsetof(BootStatusInfo, bootStatus) == 8, "");
static_assert(sizeof(MemoryAttribute) == 32, "MemoryAttribute is 32 bytes on the wire");
static_assert(offsetof(MemoryAttribute, unitShift) == 1, "");
static_assert(offsetof(MemoryAttribute, memoryId) == 4, "");
static_assert(offsetof(MemoryAttribute, startAddress) == 8, "");
static_assert(offsetof(MemoryAttribute, endAddress) == 12, "");
static_assert(offsetof(MemoryAttribute, unitCount) == 16, "");
static_assert(offsetof(MemoryAttribute, pageSize) == 20, "");
static_assert(offsetof(MemoryAttribute, sectorSize) == 24, "");
static_assert(offsetof(MemoryAttribute, blockSize) == 28, "");

// Size in bytes of a memory, computed in 32 bits as the ROM does.
inline uint32_t memorySizeBytes(const MemoryAttribute& attribute) {
    return (uint32_t(1) << (attribute.unitShift & 0x1F)) * attribute.unitCount;
}

// Registers the records and the device descriptions as meta types; safe to call repeatedly.
void registerMetaTypes();

}  // namespace RomCmd

Q_DECLARE_TYPEINFO(RomCmd::RomParamInfo, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(RomCmd::SerialInfParam, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(RomCmd::CmdStatusInfo, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(RomCmd::BootStatusInfo, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(RomCmd::MemoryAttribute, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(RomCmd::RomParamInfo)
Q_DECLARE_METATYPE(RomCmd::SerialInfParam)
Q_DECLARE_METATYPE(RomCmd::CmdStatusInfo)
Q_DECLARE_METATYPE(RomCmd::BootStatusInfo)
Q_DECLARE_METATYPE(RomCmd::MemoryAttribute)
