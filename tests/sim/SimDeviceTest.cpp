#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <random>

#include "sim/SimDevice.h"
#include "tests/sim/SimTestUtil.h"
#include "tools/ImageFormat.h"
#include "transport/Framing.h"

namespace RomCmd {
namespace Test {
namespace {

using Sim::DeviceConfig;
using Sim::Outcome;
using Sim::SimDevice;

constexpr uint32_t kRam = 0x20000000;
constexpr uint32_t kFlash = 0x08000000;
constexpr uint32_t kOtp = 0x20000;

enum class Setup { Fresh, FlashConfigured, Secure };

struct RejectCase {
    const char* name;
    Setup setup;
    std::vector<uint8_t> payload;
    uint32_t status;
    uint8_t ack;
};

void prepare(SimDevice& d, Setup setup) {
    if (setup == Setup::FlashConfigured) {
        const auto cfg = command(3, 0x02, {1, kRam});
        ASSERT_EQ(responseStatus(d.handlePacket(cfg.data(), cfg.size())), 0u);
    }
}

DeviceConfig configFor(Setup setup) {
    DeviceConfig c;
    if (setup == Setup::Secure) {
        c.lifeCycle = Sim::kSecureLifeCycle;
    }
    return c;
}

std::vector<uint8_t> withData(std::vector<uint8_t> p, size_t count, uint8_t value = 0x11) {
    p.insert(p.end(), count, value);
    return p;
}

std::vector<uint8_t> withByte(std::vector<uint8_t> p, size_t at, uint8_t value) {
    p[at] = value;
    return p;
}

std::vector<uint8_t> truncated(std::vector<uint8_t> p, size_t size) {
    p.resize(size);
    return p;
}

std::vector<uint8_t> imagePacket(uint32_t memory, uint32_t address, uint32_t dataSize,
                                 uint32_t flags = 0, uint32_t reserved = 0) {
    ImageFormat::Header h;
    h.totalSize = uint32_t(ImageFormat::kHeaderSize) + dataSize;
    h.loadMemory = memory;
    h.loadAddress = address;
    h.entry = address;
    h.flags = flags;
    h.reserved = reserved;
    std::vector<uint8_t> p = {6, 0, 1, 0};
    p.resize(4 + ImageFormat::kHeaderSize);
    ImageFormat::encodeHeader(h, p.data() + 4);
    return p;
}

const std::vector<RejectCase>& rejectCases() {
    static const std::vector<RejectCase> cases = {
        {"EmptyPayload", Setup::Fresh, {}, 1002001, 0xA1},
        {"ThreeBytes", Setup::Fresh, {1, 1, 0}, 1002001, 0xA1},
        {"CodeZero", Setup::Fresh, command(0, 0, {}), 1002000, 0xA1},
        {"CodeNine", Setup::Fresh, command(9, 0, {}), 1002000, 0xA1},
        {"CodeEleven", Setup::Fresh, command(11, 0, {0}), 1002000, 0xA1},
        {"CodeAboveMask", Setup::Fresh, command(200, 0, {}), 1002000, 0xA1},
        {"QueryNoParameter", Setup::Fresh, command(1, 0, {}), 1002001, 0xA1},
        {"QueryCountTooHigh", Setup::Fresh, command(1, 0, {0, 0}), 1002001, 0xA1},
        {"QueryItem4WithoutMemory", Setup::Fresh, command(1, 0, {4}), 1002001, 0xA1},
        {"QueryUnknownItem", Setup::Fresh, command(1, 0, {6}), 1002001, 0xA1},
        {"QueryFlags2", Setup::Fresh, command(1, 0x02, {0}), 1002001, 0xA1},
        {"QueryReservedSet", Setup::Fresh, withByte(command(1, 0, {0}), 3, 1), 1002001, 0xA1},
        {"QueryCountDisagrees", Setup::Fresh, command(1, 0, {0, 0}, 1), 1002001, 0xA1},
        {"QueryUnknownMemory", Setup::Fresh, command(1, 0, {4, 7}), 1001011, 0xA1},
        {"StrayQueryDataPacket", Setup::Fresh, command(1, 0x01, {0}), 1002001, 0xA3},
        {"ConfigRteItem0ReadOnly", Setup::Fresh, command(2, 0, {0, 3, 1, 115200}), 1002002, 0xA1},
        {"ConfigRteItem5ReadOnly", Setup::Fresh, command(2, 0, {5, 3, 1, 115200}), 1002002, 0xA1},
        {"ConfigRteUnknownItem", Setup::Fresh, command(2, 0, {9, 3, 1, 115200}), 1002001, 0xA1},
        {"ConfigRteNoRecord", Setup::Fresh, command(2, 0, {1}), 1002001, 0xA1},
        {"ConfigRteZeroWords", Setup::Fresh, command(2, 0, {1, 0, 1, 115200}), 1002001, 0xA1},
        {"ConfigRteWordsBeyondRecord", Setup::Fresh, command(2, 0, {1, 4, 1, 115200}), 1002001,
         0xA1},
        {"ConfigRteUnknownPeripheral", Setup::Fresh, command(2, 0, {1, 3, 2, 115200}), 1002001,
         0xA1},
        {"ConfigRteZeroSpeed", Setup::Fresh, command(2, 0, {1, 3, 1, 0}), 1002001, 0xA1},
        {"ConfigMemoryFlags0", Setup::Fresh, command(3, 0, {1, kRam}), 1002001, 0xA1},
        {"ConfigMemoryThreeWords", Setup::Fresh, command(3, 0x02, {1, kRam, 0}), 1002001, 0xA1},
        {"ConfigMemoryUnknownId", Setup::Fresh, command(3, 0x02, {5, kRam}), 1001011, 0xA1},
        {"ConfigMemoryBlockOutsideRam", Setup::Fresh, command(3, 0x02, {1, kFlash}), 1001001, 0xA1},
        {"ConfigMemoryBlockUnaligned", Setup::Fresh, command(3, 0x02, {1, kRam + 2}), 1001010,
         0xA1},
        {"WriteFlashUnconfigured", Setup::Fresh, withData(command(4, 0, {kFlash, 4, 1}), 4),
         1001009, 0xA1},
        {"WriteUnconfiguredMoreToCome", Setup::Fresh,
         withData(command(4, 0, {kFlash, 600, 1}), 496), 1001009, 0xA3},
        {"WriteUnknownMemory", Setup::Fresh, withData(command(4, 0, {kRam, 4, 9}), 4), 1001011,
         0xA1},
        {"WritePastRamEnd", Setup::Fresh, withData(command(4, 0, {kRam + 0x3FFFE, 4, 0}), 4),
         1001001, 0xA1},
        {"WriteBelowRam", Setup::Fresh, withData(command(4, 0, {kRam - 4, 4, 0}), 4), 1001001,
         0xA1},
        {"WriteOtpUnaligned", Setup::Fresh, withData(command(4, 0, {2, 4, kOtp}), 4), 1001010,
         0xA1},
        {"WriteDataBeyondLength", Setup::Fresh, withData(command(4, 0, {kRam, 4, 0}), 8), 1002001,
         0xA1},
        {"WriteTwoParameters", Setup::Fresh, withData(command(4, 0, {kRam, 4}), 4), 1002001, 0xA1},
        {"StrayWriteDataPacket", Setup::Fresh, withData(command(4, 0x01, {}), 8), 1002001, 0xA3},
        {"ReadPastRamEnd", Setup::Fresh, command(5, 0, {kRam, 0x40001, 0}), 1001001, 0xA1},
        {"ReadUnknownMemory", Setup::Fresh, command(5, 0, {kRam, 4, 3}), 1001011, 0xA1},
        {"ReadOtpOddLength", Setup::Fresh, command(5, 0, {0, 6, kOtp}), 1001010, 0xA1},
        {"ReadFourParameters", Setup::Fresh, command(5, 0, {kRam, 4, 0, 0}), 1002001, 0xA1},
        {"ReadFlags2", Setup::Fresh, command(5, 0x02, {kRam, 4, 0}), 1002001, 0xA1},
        {"ReadSecure", Setup::Secure, command(5, 0, {kRam, 4, 0}), 1001008, 0xA1},
        {"WriteSecure", Setup::Secure, withData(command(4, 0, {kRam, 4, 0}), 4), 1001014, 0xA1},
        {"EraseSecure", Setup::Secure, command(7, 0, {1, 1}), 1001014, 0xA1},
        {"EraseUnknownMode", Setup::Fresh, command(7, 0, {2, 1}), 1002001, 0xA1},
        {"EraseRegionTwoWords", Setup::Fresh, command(7, 0, {0, 1}), 1002001, 0xA1},
        {"EraseAllFourWords", Setup::Fresh, command(7, 0, {1, 1, kFlash, 4096}), 1002001, 0xA1},
        {"EraseRam", Setup::Fresh, command(7, 0, {1, 0}), 1001000, 0xA1},
        {"EraseOtp", Setup::Fresh, command(7, 0, {1, kOtp}), 1001000, 0xA1},
        {"EraseUnknownMemory", Setup::Fresh, command(7, 0, {1, 4}), 1001011, 0xA1},
        {"EraseUnconfigured", Setup::Fresh, command(7, 0, {1, 1}), 1001009, 0xA1},
        {"EraseUnalignedAddress", Setup::FlashConfigured, command(7, 0, {0, 1, kFlash + 256, 4096}),
         1001010, 0xA1},
        {"EraseUnalignedLength", Setup::FlashConfigured, command(7, 0, {0, 1, kFlash, 4000}),
         1001010, 0xA1},
        {"EraseZeroLength", Setup::FlashConfigured, command(7, 0, {0, 1, kFlash, 0}), 1002001,
         0xA1},
        {"ErasePastEnd", Setup::FlashConfigured, command(7, 0, {0, 1, kFlash + 0x1FF000, 8192}),
         1001001, 0xA1},
        {"ResetUnknownType", Setup::Fresh, command(8, 0, {7}), 1002001, 0xA1},
        {"ResetNoType", Setup::Fresh, command(8, 0, {}), 1002001, 0xA1},
        {"VerifyWrongAlgorithm", Setup::Fresh, withData(command(10, 0, {kRam, 4, 0, 2, 32}), 32),
         1002001, 0xA1},
        {"VerifyShortDigest", Setup::Fresh, withData(command(10, 0, {kRam, 4, 0, 1, 31}, 13), 32),
         1002001, 0xA1},
        {"VerifyTwelveWords", Setup::Fresh, withData(command(10, 0, {kRam, 4, 0, 1, 32}, 12), 28),
         1002001, 0xA1},
        {"VerifyPastEnd", Setup::Fresh, withData(command(10, 0, {kRam, 0x40004, 0, 1, 32}, 13), 32),
         1001001, 0xA1},
        {"LoadImageAsCommand", Setup::Fresh, command(6, 0, {}), 1002000, 0xA1},
        {"ImageBadMagic", Setup::Fresh, withByte(withData(imagePacket(0, kRam, 8), 8), 4, 'X'), 2,
         0xA3},
        {"ImageHeaderCut", Setup::Fresh, truncated(imagePacket(0, kRam, 8), 20), 2, 0xA3},
        {"ImageIntoFlash", Setup::Fresh, withData(imagePacket(1, kFlash, 8), 8), 2, 0xA3},
        {"ImageOutsideRam", Setup::Fresh, withData(imagePacket(0, kRam + 0x3FFFC, 8), 8), 2, 0xA3},
        {"ImageReservedSet", Setup::Fresh, withData(imagePacket(0, kRam, 8, 0, 1), 8), 2, 0xA3},
        {"ImageUnknownFlag", Setup::Fresh, withData(imagePacket(0, kRam, 8, 4), 8), 2, 0xA3},
        {"ImageMoreThanTotal", Setup::Fresh, withData(imagePacket(0, kRam, 8), 9), 2, 0xA3},
    };
    return cases;
}

class RejectTest : public ::testing::TestWithParam<RejectCase> {};

TEST_P(RejectTest, AnswersTheRomStatus) {
    const RejectCase& c = GetParam();
    SimDevice device(configFor(c.setup));
    prepare(device, c.setup);
    const Outcome o = device.handlePacket(c.payload.data(), c.payload.size());
    EXPECT_EQ(responseStatus(o), c.status) << hexOf(o.response);
    EXPECT_EQ(o.ack, c.ack);
    EXPECT_FALSE(o.readFollows);
    EXPECT_EQ(o.after, Outcome::After::Nothing);
    EXPECT_FALSE(device.transferInProgress());
    EXPECT_EQ(device.lastStatus(), c.status);
}

INSTANTIATE_TEST_SUITE_P(Malformed, RejectTest, ::testing::ValuesIn(rejectCases()),
                         [](const ::testing::TestParamInfo<RejectCase>& info) {
                             return std::string(info.param.name);
                         });

struct QueryCase {
    const char* name;
    std::vector<uint8_t> payload;
    std::string data;  // response data after the status, in hex
};

class QueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(QueryTest, ReturnsTheRecord) {
    DeviceConfig config;
    config.lifeCycle = 0x05;
    SimDevice device(config);
    const Outcome o = device.handlePacket(GetParam().payload.data(), GetParam().payload.size());
    ASSERT_EQ(responseStatus(o), 0u);
    EXPECT_EQ(hexOf(std::vector<uint8_t>(o.response.begin(), o.response.begin() + 4)), "01000000");
    EXPECT_EQ(hexOf(std::vector<uint8_t>(o.response.begin() + 8, o.response.end())),
              GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Items, QueryTest,
    ::testing::Values(QueryCase{"RomParam", command(1, 0, {0}), "000201520000014105000000070f0100"},
                      QueryCase{"Serial", command(1, 0, {1}),
                                "030000000100000000c20100" + std::string(24, '0')},
                      QueryCase{"CmdStatusFresh", command(1, 0, {2}), std::string(48, '0')},
                      QueryCase{"BootStatus", command(1, 0, {3}), "020000000100000000000000"},
                      QueryCase{"Flash", command(1, 0, {4, 1}),
                                "080c00000100000000000008ffff1f08000200000001000000100000"
                                "00000100"},
                      QueryCase{"Ram", command(1, 0, {4, 0}),
                                "010a00000000000000000020ffff032000010000000000000000000000000000"},
                      QueryCase{"Otp", command(1, 0, {4, kOtp}),
                                "020200000000020000000000ff00000040000000000000000000000000000000"},
                      QueryCase{"CommandMask", command(1, 0, {5}), "fe070000"}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

std::vector<uint8_t> send(SimDevice& d, const std::vector<uint8_t>& p, uint8_t expectAck = 0xA1) {
    const Outcome o = d.handlePacket(p.data(), p.size());
    EXPECT_EQ(o.ack, expectAck);
    return o.response;
}

uint32_t statusOf(const std::vector<uint8_t>& response) {
    return response.size() >= 8 ? le32(response, 4) : 0xFFFFFFFFu;
}

std::vector<uint8_t> readAll(SimDevice& d, uint32_t memory, uint32_t address, uint32_t length,
                             size_t packetSize = 512, std::vector<size_t>* sizes = nullptr) {
    const auto cmd = command(5, 0, {address, length, memory});
    const Outcome o = d.handlePacket(cmd.data(), cmd.size());
    EXPECT_EQ(responseStatus(o), 0u);
    std::vector<uint8_t> data, packet;
    while (d.nextReadPacket(&packet, packetSize)) {
        EXPECT_EQ(hexOf(std::vector<uint8_t>(packet.begin(), packet.begin() + 4)), "05000100");
        if (sizes) {
            sizes->push_back(packet.size());
        }
        data.insert(data.end(), packet.begin() + 4, packet.end());
    }
    return data;
}

// Writes like the engine: 496 data bytes in the first packet, 508 in each further one.
uint32_t writeLikeHost(SimDevice& d, uint32_t memory, uint32_t address,
                       const std::vector<uint8_t>& data) {
    size_t sent = std::min<size_t>(496, data.size());
    auto first = command(4, 0, {address, uint32_t(data.size()), memory});
    first.insert(first.end(), data.begin(), data.begin() + long(sent));
    Outcome o = d.handlePacket(first.data(), first.size());
    while (!o.respond) {
        EXPECT_EQ(o.ack, 0xA1);
        const size_t chunk = std::min<size_t>(508, data.size() - sent);
        std::vector<uint8_t> next = {4, 0, 1, 0};
        next.insert(next.end(), data.begin() + long(sent), data.begin() + long(sent + chunk));
        sent += chunk;
        o = d.handlePacket(next.data(), next.size());
    }
    return responseStatus(o);
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = uint8_t(seed + i * 7);
    }
    return v;
}

TEST(SimDeviceFlow, WrittenRamReadsBackInPacketsOfTheConfiguredSize) {
    struct Case {
        uint32_t length;
        size_t packetSize;
        std::vector<size_t> sizes;
    };
    for (const Case& c : {Case{1100, 512, {512, 512, 88}}, Case{508, 512, {512}},
                          Case{10, 8, {8, 8, 6}}, Case{1, 512, {5}}}) {
        SimDevice device{DeviceConfig{}};
        const auto data = pattern(c.length, uint8_t(c.length));
        ASSERT_EQ(writeLikeHost(device, 0, kRam + 0x100, data), 0u);
        std::vector<size_t> sizes;
        EXPECT_EQ(hexOf(readAll(device, 0, kRam + 0x100, c.length, c.packetSize, &sizes)),
                  hexOf(data));
        EXPECT_EQ(sizes, c.sizes) << "length " << c.length;
    }
}

TEST(SimDeviceFlow, ExtraReadBytesOnlyOnTheLastPacket) {
    SimDevice device{DeviceConfig{}};
    const auto cmd = command(5, 0, {kRam, 600, 0});
    ASSERT_EQ(responseStatus(device.handlePacket(cmd.data(), cmd.size())), 0u);
    std::vector<uint8_t> packet;
    std::vector<size_t> sizes;
    while (device.nextReadPacket(&packet, 512, 16)) {
        sizes.push_back(packet.size());
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{512, 4 + 92 + 16}));
}

TEST(SimDeviceFlow, FlashNeedsConfigurationErasesBySectorAndProgramsOnlyErasedBytes) {
    SimDevice device{DeviceConfig{}};
    const auto data = pattern(1000, 3);
    EXPECT_EQ(writeLikeHost(device, 1, kFlash, data), 1001009u);
    ASSERT_EQ(statusOf(send(device, command(3, 0x02, {1, kRam}))), 0u);
    EXPECT_EQ(writeLikeHost(device, 1, kFlash, data), 0u);
    EXPECT_EQ(hexOf(readAll(device, 1, kFlash, 1000)), hexOf(data));
    // The second packet hits programmed bytes: aborted, answered with the failure.
    std::vector<uint8_t> partial(600, 0xFF);
    partial[550] = 0;
    EXPECT_EQ(writeLikeHost(device, 1, kFlash + 0x400, partial), 0u);
    EXPECT_EQ(writeLikeHost(device, 1, kFlash + 0x200, pattern(1200, 9)), 1001002u);
    EXPECT_FALSE(device.transferInProgress());
    ASSERT_EQ(statusOf(send(device, command(7, 0, {0, 1, kFlash, 4096}))), 0u);
    EXPECT_EQ(hexOf(readAll(device, 1, kFlash, 16)), std::string(32, 'f'));
    EXPECT_EQ(writeLikeHost(device, 1, kFlash, data), 0u);
    ASSERT_EQ(statusOf(send(device, command(7, 0, {1, 1}))), 0u);
    EXPECT_EQ(hexOf(readAll(device, 1, kFlash + 0x1FFFF0, 16)), std::string(32, 'f'));
}

TEST(SimDeviceFlow, OtpWordsAreWrittenOnce) {
    SimDevice device{DeviceConfig{}};
    const std::vector<uint8_t> word = {1, 2, 3, 4};
    EXPECT_EQ(writeLikeHost(device, kOtp, 8, word), 0u);
    EXPECT_EQ(hexOf(readAll(device, kOtp, 8, 4)), "01020304");
    EXPECT_EQ(writeLikeHost(device, kOtp, 8, word), 1001002u);
}

TEST(SimDeviceFlow, WriteDataBeyondTheAnnouncedLengthIsAborted) {
    SimDevice device{DeviceConfig{}};
    auto first = withData(command(4, 0, {kRam, 500, 0}), 496);
    EXPECT_TRUE(send(device, first).empty());
    EXPECT_TRUE(device.transferInProgress());
    EXPECT_EQ(statusOf(send(device, withData({4, 0, 1, 0}, 5), 0xA3)), 1002001u);
    EXPECT_FALSE(device.transferInProgress());
}

TEST(SimDeviceFlow, VerifyComparesSha256) {
    SimDevice device{DeviceConfig{}};
    const auto data = pattern(600, 1);
    ASSERT_EQ(writeLikeHost(device, 0, kRam, data), 0u);
    QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(data.data()), int(data.size())),
        QCryptographicHash::Sha256);
    for (int flip : {-1, 0, 31}) {
        auto cmd = command(10, 0, {kRam, 600, 0, 1, 32}, 13);
        QByteArray d = digest;
        if (flip >= 0) {
            d[flip] = char(d[flip] ^ 1);
        }
        cmd.insert(cmd.end(), d.begin(), d.end());
        EXPECT_EQ(statusOf(send(device, cmd)), flip < 0 ? 0u : 1001013u) << flip;
    }
}

TEST(SimDeviceFlow, LastCommandAndStatusFollowEveryCommand) {
    SimDevice device{DeviceConfig{}};
    send(device, command(7, 0, {1, 0}));
    auto r = send(device, command(1, 0, {2}));
    EXPECT_EQ(hexOf(std::vector<uint8_t>(r.begin() + 8, r.begin() + 16)), "0700000028460f00");
    r = send(device, command(1, 0, {2}));
    EXPECT_EQ(hexOf(std::vector<uint8_t>(r.begin() + 8, r.begin() + 16)), "0100000000000000");
}

TEST(SimDeviceFlow, ConfigRteChangesPeripheralAndSpeed) {
    SimDevice device{DeviceConfig{}};
    EXPECT_EQ(statusOf(send(device, command(2, 0, {1, 3, 0x10, 921600}))), 0u);
    auto r = send(device, command(1, 0, {1}));
    EXPECT_EQ(hexOf(std::vector<uint8_t>(r.begin() + 8, r.begin() + 20)),
              "030000001000000000100e00");
}

std::vector<uint8_t> imageOf(const std::vector<uint8_t>& data, uint32_t flags,
                             bool badCrc = false) {
    ImageFormat::Header h;
    h.totalSize = uint32_t(ImageFormat::kHeaderSize + data.size());
    h.loadMemory = 0;
    h.loadAddress = kRam + 0x1000;
    h.entry = kRam + 0x1000;
    h.flags = flags;
    h.dataCrc = Crc16Xmodem::compute(data.data(), data.size()) ^ (badCrc ? 1 : 0);
    std::vector<uint8_t> image(ImageFormat::kHeaderSize);
    ImageFormat::encodeHeader(h, image.data());
    image.insert(image.end(), data.begin(), data.end());
    return image;
}

Outcome loadLikeHost(SimDevice& d, const std::vector<uint8_t>& image) {
    Outcome o;
    for (size_t at = 0; at < image.size(); at += 508) {
        std::vector<uint8_t> p = {6, 0, 1, 0};
        p.insert(p.end(), image.begin() + long(at),
                 image.begin() + long(std::min(image.size(), at + 508)));
        o = d.handlePacket(p.data(), p.size());
        if (o.respond) {
            EXPECT_GE(at + 508, image.size()) << "answered before the image was complete";
            break;
        }
    }
    return o;
}

TEST(SimDeviceFlow, ImagesLoadIntoRamAndFirmwareStartsAfterReturning) {
    struct Case {
        uint32_t flags;
        bool badCrc;
        bool firmwareFails;
        uint32_t status;
        Outcome::After after;
        uint32_t versionAfter;
    };
    for (const Case& c : {Case{0, false, false, 0, Outcome::After::Nothing, 0x52010200},
                          Case{1, false, false, 0, Outcome::After::FirmwareStarted, 0x46010000},
                          Case{1, false, true, 0, Outcome::After::FirmwareStarted, 0x52010200},
                          Case{1, true, false, 1001013, Outcome::After::Nothing, 0x52010200}}) {
        DeviceConfig config;
        config.firmwareFails = c.firmwareFails;
        SimDevice device(config);
        const auto data = pattern(1500, 5);
        const Outcome o = loadLikeHost(device, imageOf(data, c.flags, c.badCrc));
        EXPECT_EQ(responseStatus(o), c.status);
        EXPECT_EQ(o.after, c.after);
        if (o.after != Outcome::After::Nothing) {
            device.returnToBus(o.after);
        }
        auto r = send(device, command(1, 0, {0}));
        EXPECT_EQ(le32(r, 8), c.versionAfter);
        if (c.status == 0) {
            EXPECT_EQ(hexOf(readAll(device, 0, kRam + 0x1000, 1500)), hexOf(data));
        }
    }
}

TEST(SimDeviceFlow, ResetClearsRamAndConfigurationButKeepsFlash) {
    DeviceConfig config;
    config.firmwareRunning = true;
    SimDevice device(config);
    ASSERT_EQ(writeLikeHost(device, 0, kRam, {9, 9, 9, 9}), 0u);
    ASSERT_EQ(statusOf(send(device, command(3, 0x02, {1, kRam}))), 0u);
    ASSERT_EQ(writeLikeHost(device, 1, kFlash, {7, 7, 7, 7}), 0u);
    const Outcome o = device.handlePacket(command(8, 0, {0}).data(), 8);
    ASSERT_EQ(responseStatus(o), 0u);
    ASSERT_EQ(o.after, Outcome::After::Reset);
    device.returnToBus(o.after);
    EXPECT_EQ(hexOf(readAll(device, 0, kRam, 4)), "00000000");
    EXPECT_EQ(hexOf(readAll(device, 1, kFlash, 4)), "07070707");
    EXPECT_EQ(writeLikeHost(device, 1, kFlash + 4, {1, 1, 1, 1}), 1001009u);
    EXPECT_EQ(le32(send(device, command(1, 0, {0})), 8), 0x52010200u);
}

TEST(SimDeviceFlow, ForcedStatusReplacesTheCommandOnce) {
    SimDevice device{DeviceConfig{}};
    device.forceStatusOnce(5, 1001008);
    EXPECT_EQ(statusOf(send(device, command(5, 0, {kRam, 4, 0}))), 1001008u);
    EXPECT_FALSE(device.transferInProgress());
    EXPECT_EQ(statusOf(send(device, command(5, 0, {kRam, 4, 0}))), 0u);
    device.forceStatusOnce(4, 1001014);
    EXPECT_EQ(statusOf(send(device, withData(command(4, 0, {kRam, 600, 0}), 496), 0xA3)), 1001014u);
}

TEST(SimDeviceFlow, CommandMaskDecidesWhatIsSupported) {
    DeviceConfig config;
    config.commandMask = 0x7FE & ~(1u << 7);
    SimDevice device(config);
    EXPECT_EQ(statusOf(send(device, command(7, 0, {1, 1}))), 1002000u);
    EXPECT_EQ(le32(send(device, command(1, 0, {5})), 8), 0x77Eu);
}

TEST(SimDeviceFuzz, RandomPayloadsNeverBreakTheDevice) {
    std::mt19937 rng(20261208);
    SimDevice device{DeviceConfig{}};
    std::vector<uint8_t> packet;
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> p(rng() % 80);
        for (auto& b : p) {
            b = uint8_t(rng());
        }
        if (p.size() >= 2 && rng() % 2) {
            p[0] = uint8_t(rng() % 12);  // mostly known codes, so the checks are reached
            p[1] = uint8_t((p.size() - 4) / 4);
        }
        const Outcome o = device.handlePacket(p.data(), p.size());
        ASSERT_TRUE(o.ack == 0xA1 || o.ack == 0xA3);
        if (o.respond) {
            ASSERT_GE(o.response.size(), 8u);
        }
        for (int n = 0; n < 3 && device.nextReadPacket(&packet, 512); ++n) {
            ASSERT_GT(packet.size(), 4u);
        }
        if (o.after != Outcome::After::Nothing) {
            device.returnToBus(o.after);
        }
    }
    EXPECT_EQ(statusOf(send(device, command(1, 0, {0}))), 0u);
}

struct MapCase {
    const char* name;
    const char* json;
    bool valid;
    const char* errorPart;
};

class MemoryMapTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(MemoryMapTest, ParsesOrExplains) {
    std::vector<Sim::MemoryLayout> map = Sim::defaultMemoryMap();
    std::string error;
    ASSERT_EQ(Sim::parseMemoryMap(GetParam().json, &map, &error), GetParam().valid) << error;
    if (!GetParam().valid) {
        EXPECT_NE(error.find(GetParam().errorPart), std::string::npos) << error;
        EXPECT_EQ(map.size(), 3u) << "a rejected map must leave the old one in place";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Maps, MemoryMapTest,
    ::testing::Values(
        MapCase{
            "Valid",
            R"({"memories":[{"id":0,"kind":"ram","start":"0x10000000","unitShift":10,"unitCount":4},
                   {"id":"0x2","kind":"flash","start":0,"unitShift":12,"unitCount":2,"sectorSize":4096}]})",
            true, ""},
        MapCase{"NotJson", "{", false, "JSON"},
        MapCase{"NoMemories", R"({"memories":[]})", false, "memories"},
        MapCase{"UnknownKind",
                R"({"memories":[{"id":0,"kind":"rom","start":0,"unitShift":0,"unitCount":1}]})",
                false, "kind"},
        MapCase{"MissingStart",
                R"({"memories":[{"id":0,"kind":"ram","unitShift":0,"unitCount":1}]})", false,
                "start"},
        MapCase{"NegativeId",
                R"({"memories":[{"id":-1,"kind":"ram","start":0,"unitShift":0,"unitCount":1}]})",
                false, "id"},
        MapCase{"TooLarge",
                R"({"memories":[{"id":0,"kind":"ram","start":0,"unitShift":20,"unitCount":512}]})",
                false, "256 MiB"},
        MapCase{
            "PastFourGiB",
            R"({"memories":[{"id":0,"kind":"ram","start":"0xFFFFFF00","unitShift":10,"unitCount":1}]})",
            false, "4 GiB"},
        MapCase{"FlashWithoutSector",
                R"({"memories":[{"id":0,"kind":"flash","start":0,"unitShift":12,"unitCount":1}]})",
                false, "sector"},
        MapCase{
            "DuplicateId",
            R"({"memories":[{"id":0,"kind":"ram","start":0,"unitShift":2,"unitCount":1},{"id":0,"kind":"otp","start":0,"unitShift":2,"unitCount":1}]})",
            false, "duplicate"}),
    [](const ::testing::TestParamInfo<MapCase>& info) { return std::string(info.param.name); });

TEST(SimDeviceFlow, ACustomMapIsServed) {
    DeviceConfig config;
    std::string error;
    ASSERT_TRUE(Sim::parseMemoryMap(
        R"({"memories":[{"id":7,"kind":"ram","start":"0x10000000","unitShift":10,"unitCount":4}]})",
        &config.memories, &error))
        << error;
    SimDevice device(config);
    auto r = send(device, command(1, 0, {4, 7}));
    EXPECT_EQ(hexOf(std::vector<uint8_t>(r.begin() + 8, r.begin() + 24)),
              "010a00000700000000000010ff0f0010");
    EXPECT_EQ(statusOf(send(device, command(1, 0, {4, 0}))), 1001011u);
    EXPECT_EQ(hexOf(readAll(device, 7, 0x10000ffc, 4)), "00000000");
}

TEST(SimDeviceFlow, FirmwareRunningFromTheStart) {
    DeviceConfig config;
    config.firmwareRunning = true;
    config.firmwareVersion = 0x66020000;
    SimDevice device(config);
    EXPECT_EQ(le32(send(device, command(1, 0, {0})), 8), 0x66020000u);
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
