#include <gtest/gtest.h>

#include <QByteArray>
#include <QMetaType>
#include <QStringList>
#include <QVariant>
#include <cstring>
#include <functional>

#include "romcmd/CommandTables.h"
#include "romcmd/RomCmd.h"
#include "romcmd/RteRecords.h"
#include "transport/SerialPortInfo.h"
#include "transport/UsbInfo.h"

namespace RomCmd {
namespace {

TEST(TablesTest, StatusMessages) {
    const std::pair<int, const char*> cases[] = {
        {0, "success"},
        {1, "failure"},
        {2, "invalid argument"},
        {3, "unknown error message"},
        {4, "timeout"},
        {5, "unknown error message"},
        {1001000, "unsupport memory command"},
        {1001011, "invalid memory id"},
        {1001012, "unknown error message"},
        {1001013, "checksum mismatch"},
        {1001014,
         "write memory is disallowed. Please check whether life cycle is secure nor write "
         "command is locked by ROM!"},
        {1001015, "unknown error message"},
        {1002000, "command is not supported"},
        {1002002, "attribute in run-time environment is read-only"},
        {-1, "unknown error message"},
        {int(0xFFFFFFFFu), "unknown error message"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(RomCmd::statusMessage(c.first).toStdString(), c.second);
    }
}

TEST(TablesTest, ResultMessages) {
    const std::pair<int, const char*> cases[] = {
        {0, "OK"},
        {1, "NAK"},
        {3, "Failure"},
        {4, "TimeOut"},
        {5, "Open device failed"},
        {16, "Set timeout failed"},
        {17, "Command execute failed, check the log file to get more details."},
        {18, "Command execute failed, check whether the boot mode is correct!"},
        {19, "Command is disallowed by ROM, check whether life cycle is in secure mode!"},
        {20, "Interrupted"},
        {21, ""},
        {-1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(RomCmd::resultMessage(c.first).toStdString(), c.second);
    }
}

TEST(TablesTest, NameTables) {
    EXPECT_EQ(supportedCommandNames().value(6).toStdString(), "load-image\r\nload-blfw");
    EXPECT_EQ(supportedCommandNames().value(7).toStdString(), "erase-region\r\nerase-chip");
    EXPECT_EQ(supportedCommandNames().value(10).toStdString(), "verify-checksum");
    EXPECT_FALSE(supportedCommandNames().contains(11));

    // Walked in ascending bit order, bits without a text skipped.
    QStringList shown;
    const uint32_t capabilities = 0x80000103u;
    for (auto it = capabilityNames().cbegin(); it != capabilityNames().cend(); ++it) {
        if (capabilities & it.key()) {
            shown.append(it.value());
        }
    }
    EXPECT_EQ(shown.join('|').toStdString(),
              "Support Primary Boot|Support Recovery Boot|Support Secure Boot");
    EXPECT_EQ(capabilityNames().size(), 15);
}

// Little-endian value of `width` bytes at `offset` of the image.
uint32_t fieldAt(const QByteArray& image, int offset, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | uint8_t(image.at(offset + i));
    }
    return value;
}

struct Field {
    const char* name;
    int offset;
    int width;
    std::function<uint32_t(const QByteArray&)> read;  // copies the image into the record
};

template <typename Record>
std::function<uint32_t(const QByteArray&)> reader(uint32_t (*get)(const Record&)) {
    return [get](const QByteArray& image) {
        Record record;
        std::memcpy(&record, image.constData(), sizeof(Record));
        return get(record);
    };
}

TEST(TablesTest, RecordFieldsSitAtTheirOffsets) {
    QByteArray image;
    for (int i = 0; i < 32; ++i) {
        image.append(char(0x11 + i * 7));
    }
    const Field fields[] = {
        {"romVersion", 0, 4,
         reader<RomParamInfo>([](const RomParamInfo& r) { return r.romVersion; })},
        {"socRevision", 4, 4,
         reader<RomParamInfo>([](const RomParamInfo& r) { return r.socRevision; })},
        {"lifeCycle", 8, 1,
         reader<RomParamInfo>([](const RomParamInfo& r) { return uint32_t(r.lifeCycle); })},
        {"capabilities", 12, 4,
         reader<RomParamInfo>([](const RomParamInfo& r) { return r.capabilities; })},
        {"words", 0, 1,
         reader<SerialInfParam>([](const SerialInfParam& r) { return uint32_t(r.words); })},
        {"periphMask", 4, 4,
         reader<SerialInfParam>([](const SerialInfParam& r) { return r.periphMask; })},
        {"speed", 8, 4, reader<SerialInfParam>([](const SerialInfParam& r) { return r.speed; })},
        {"lastCommand", 0, 1,
         reader<CmdStatusInfo>([](const CmdStatusInfo& r) { return uint32_t(r.lastCommand); })},
        {"lastStatus", 4, 4,
         reader<CmdStatusInfo>([](const CmdStatusInfo& r) { return r.lastStatus; })},
        {"bootMode", 0, 1,
         reader<BootStatusInfo>([](const BootStatusInfo& r) { return uint32_t(r.bootMode); })},
        {"bootDevice", 4, 4,
         reader<BootStatusInfo>([](const BootStatusInfo& r) { return r.bootDevice; })},
        {"bootStatus", 8, 4,
         reader<BootStatusInfo>([](const BootStatusInfo& r) { return r.bootStatus; })},
        {"memoryType", 0, 1,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return uint32_t(r.memoryType); })},
        {"unitShift", 1, 1,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return uint32_t(r.unitShift); })},
        {"memoryId", 4, 4,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return r.memoryId; })},
        {"startAddress", 8, 4,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return r.startAddress; })},
        {"endAddress", 12, 4,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return r.endAddress; })},
        {"unitCount", 16, 4,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return r.unitCount; })},
        {"pageSize", 20, 4,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return r.pageSize; })},
        {"sectorSize", 24, 4,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return r.sectorSize; })},
        {"blockSize", 28, 4,
         reader<MemoryAttribute>([](const MemoryAttribute& r) { return r.blockSize; })},
    };
    for (const Field& f : fields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(f.read(image), fieldAt(image, f.offset, f.width));
    }
}

TEST(TablesTest, MemorySizeUsesLowFiveShiftBitsIn32Bits) {
    struct Case {
        uint8_t unitShift;
        uint32_t unitCount;
        uint32_t bytes;
    };
    const Case cases[] = {
        {12, 256, 1048576u},  {0xEC, 256, 1048576u},  // bits 7-5 are not part of the shift
        {0, 7, 7u},           {9, 0x800000, 0u},      // 4 GiB wraps in 32 bits
        {31, 1, 0x80000000u},
    };
    for (const Case& c : cases) {
        MemoryAttribute attribute{};
        attribute.unitShift = c.unitShift;
        attribute.unitCount = c.unitCount;
        EXPECT_EQ(memorySizeBytes(attribute), c.bytes) << int(c.unitShift) << " " << c.unitCount;
    }
}

struct MetaTypeCase {
    const char* name;
    int id;
    int size;  // 0: not checked
    bool plain;
};

TEST(TablesTest, MetaTypesRegisteredUnderFullNames) {
    registerMetaTypes();
    registerMetaTypes();  // a second call changes nothing
    const MetaTypeCase cases[] = {
        {"RomCmd::RomParamInfo", qMetaTypeId<RomParamInfo>(), 16, true},
        {"RomCmd::SerialInfParam", qMetaTypeId<SerialInfParam>(), 24, true},
        {"RomCmd::CmdStatusInfo", qMetaTypeId<CmdStatusInfo>(), 24, true},
        {"RomCmd::BootStatusInfo", qMetaTypeId<BootStatusInfo>(), 12, true},
        {"RomCmd::MemoryAttribute", qMetaTypeId<MemoryAttribute>(), 32, true},
        {"SerialPortInfo", qMetaTypeId<SerialPortInfo>(), 0, false},
        {"UsbInfo", qMetaTypeId<UsbInfo>(), 0, false},
    };
    for (const MetaTypeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QMetaType::type(c.name), c.id);
        EXPECT_STREQ(QMetaType::typeName(c.id), c.name);
        if (c.size) {
            EXPECT_EQ(QMetaType::sizeOf(c.id), c.size);
        }
        EXPECT_EQ(bool(QMetaType::typeFlags(c.id) & QMetaType::MovableType), c.plain);
    }
}

TEST(TablesTest, RecordsTravelInVariantsByteForByte) {
    QByteArray image;
    for (int i = 0; i < 32; ++i) {
        image.append(char(0xA0 ^ (i * 13)));
    }
    MemoryAttribute attribute;
    std::memcpy(&attribute, image.constData(), sizeof attribute);
    const QVariant variant = QVariant::fromValue(attribute);
    ASSERT_EQ(variant.userType(), qMetaTypeId<MemoryAttribute>());
    ASSERT_TRUE(variant.canConvert<MemoryAttribute>());
    const MemoryAttribute back = variant.value<MemoryAttribute>();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&back), sizeof back).toHex().toStdString(),
              image.toHex().toStdString());

    SerialPortInfo port;
    port.portName = "ttyUSB7";
    port.baudRate = 460800;
    const SerialPortInfo portBack = QVariant::fromValue(port).value<SerialPortInfo>();
    EXPECT_EQ(portBack.portName.toStdString(), "ttyUSB7");
    EXPECT_EQ(portBack.baudRate, 460800);
    EXPECT_EQ(portBack.stopBits, 1);
    EXPECT_FALSE(QVariant::fromValue(port).canConvert<UsbInfo>());
}

}  // namespace
}  // namespace RomCmd
