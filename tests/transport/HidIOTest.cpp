#include <gtest/gtest.h>

#include <QVariant>
#include <memory>
#include <vector>

#include "HidDouble.h"
#include "TransportTestUtil.h"
#include "tests/common/LogCapture.h"
#include "transport/HidIO.h"

using namespace RomCmd;
using namespace RomCmd::Test;

namespace {

constexpr uint16_t kUntouchedLength = 0xBEEF;
const QString kPathA = "/dev/hidraw3";
const QString kPathB = "/dev/hidraw4";
const QString kPathOther = "/dev/hidraw5";

QStringList writtenHex() {
    QStringList result;
    for (const auto& write : HidDouble::writes())
        result << write.bytes.toHex();
    return result;
}

class HidFixture : public ::testing::Test {
protected:
    void SetUp() override {
        HidDouble::reset();
        HidDouble::attach(kPathOther, 0x1234, 0x0001);
        HidDouble::attach(kPathA, 0x5E3A, 0x0042);
        HidDouble::attach(kPathB, 0x5E3A, 0x0042);
    }
    void TearDown() override {
        EXPECT_EQ(HidDouble::libraryInitCalls(), 0) << "the transport must not init or exit hidapi";
    }

    std::unique_ptr<HidIO> openPath(const QString& path = kPathA) {
        UsbInfo info;
        info.devicePath = path;
        auto io = std::make_unique<HidIO>(QVariant::fromValue(info));
        log.clear();
        return io;
    }

    LogCapture log;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(Framing::kPacketBufferSize, 0xEE);
    uint16_t length = kUntouchedLength;
};

// ---- opening ----

struct OpenCase {
    const char* label;
    QString path;
    int32_t vid;
    int32_t pid;
    QString opened;  // the device the transport ends up on, "" when the open fails
    QStringList pathsTried;
    QList<uint32_t> idsTried;
    QString critical;
    QString denied = {};  // an attached device that refuses to be opened
};

class HidOpen : public HidFixture, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(HidOpen, OpensByPathOrFirstMatchingIds) {
    const OpenCase& c = GetParam();
    UsbInfo info;
    info.devicePath = c.path;
    info.vid = c.vid;
    info.pid = c.pid;
    if (!c.denied.isEmpty())
        HidDouble::denyAccess(c.denied);
    {
        HidIO io{QVariant::fromValue(info)};
        EXPECT_EQ(HidDouble::pathsOpened(), c.pathsTried);
        EXPECT_EQ(HidDouble::idsOpened(), c.idsTried);
        EXPECT_EQ(log.messages(QtCriticalMsg),
                  c.critical.isEmpty() ? QStringList() : QStringList{c.critical});
        // A refused open, and only that, gets one hint right after its critical line.
        const QStringList lines = log.lines();
        const QStringList hints = log.matching("info", "60-tarvo-boot-rom.rules");
        if (c.denied.isEmpty()) {
            EXPECT_TRUE(hints.isEmpty()) << log.dump().toStdString();
        } else {
            ASSERT_EQ(lines.size(), 2) << log.dump().toStdString();
            EXPECT_EQ(lines.at(0), "[Critical] " + c.critical);
            EXPECT_EQ(hints.size(), 1);
            EXPECT_TRUE(lines.at(1).startsWith("[Info] No permission to open the USB device"))
                << lines.at(1).toStdString();
        }
        if (c.opened.isEmpty()) {
            EXPECT_EQ(io.status, 5);
            EXPECT_EQ(HidDouble::openDevices(), 0);
        } else {
            EXPECT_EQ(io.status, 0);
            EXPECT_EQ(io.timeout, 10000);
            EXPECT_EQ(HidDouble::openDevices(), 1);
            EXPECT_EQ(io.sendResponse(0xA1), 0);
            ASSERT_EQ(HidDouble::writes().size(), 1);
            EXPECT_EQ(HidDouble::writes()[0].devicePath, c.opened);
        }
    }
    EXPECT_EQ(HidDouble::openDevices(), 0) << "destruction must close the device";
}

INSTANTIATE_TEST_SUITE_P(
    Table, HidOpen,
    ::testing::Values(
        OpenCase{"ByPathIdsIgnored", kPathB, 0x1111, 0x2222, kPathB, {kPathB}, {}, ""},
        OpenCase{"ByPathMissing",
                 "/dev/hidraw9",
                 0x5E3A,
                 0x42,
                 "",
                 {"/dev/hidraw9"},
                 {},
                 "Usb device open failed!  vid:  24122  pid:  66  devicePath:  \"/dev/hidraw9\""},
        OpenCase{"ByIdsFirstListed", "", 0x5E3A, 0x42, kPathA, {}, {0x5E3A0042}, ""},
        OpenCase{"ByIdsLow16Bits", "", 0x75E3A, 0x30042, kPathA, {}, {0x5E3A0042}, ""},
        OpenCase{"ByIdsNoMatch",
                 "",
                 0x5E3A,
                 0x43,
                 "",
                 {},
                 {0x5E3A0043},
                 "Usb device open failed!  vid:  24122  pid:  67  devicePath:  \"\""},
        OpenCase{"ByPathNoPermission",
                 kPathB,
                 0x5E3A,
                 0x42,
                 "",
                 {kPathB},
                 {},
                 "Usb device open failed!  vid:  24122  pid:  66  devicePath:  \"/dev/hidraw4\"",
                 kPathB},
        OpenCase{"ByIdsNoPermission",
                 "",
                 0x5E3A,
                 0x42,
                 "",
                 {},
                 {0x5E3A0042},
                 "Usb device open failed!  vid:  24122  pid:  66  devicePath:  \"\"",
                 kPathA}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.label); });

TEST_F(HidFixture, VariantWithoutRecordUsesDefaults) {
    HidIO io{QVariant(QString("not a record"))};
    EXPECT_EQ(io.status, 5);
    EXPECT_EQ(HidDouble::idsOpened(), QList<uint32_t>{0});
    EXPECT_EQ(log.messages(QtCriticalMsg),
              QStringList{"Usb device open failed!  vid:  0  pid:  0  devicePath:  \"\""});
}

TEST_F(HidFixture, FailedOpenAnswersFiveAndStaysQuiet) {
    auto io = openPath("/dev/hidraw9");
    ASSERT_EQ(io->status, 5);
    HidDouble::queueReport(QByteArray::fromHex("01a10000"));
    const uint8_t payload[3] = {1, 2, 3};
    EXPECT_EQ(io->writePacket(payload, 3), 5);
    EXPECT_EQ(io->readPacket(buffer.data(), &length), 5);
    EXPECT_EQ(io->readAck(), 5);
    EXPECT_EQ(io->sendResponse(0xA1), 5);
    EXPECT_EQ(io->status, 5);
    EXPECT_EQ(length, kUntouchedLength);
    EXPECT_TRUE(HidDouble::writes().isEmpty());
    EXPECT_TRUE(HidDouble::reads().isEmpty());
    EXPECT_TRUE(log.messages(QtCriticalMsg).isEmpty()) << log.dump().toStdString();
}

// ---- writePacket and the acknowledgement ----

struct AckCase {
    const char* label;
    int outcome;  // 1 report, 0 none, -1 read failure
    const char* reportHex;
    int expected;
};

class HidAck : public HidFixture, public ::testing::WithParamInterface<AckCase> {};

TEST_P(HidAck, WritesReportAndMapsAcknowledgement) {
    const AckCase& c = GetParam();
    auto io = openPath();
    io->setTimeout(75);
    if (c.outcome > 0)
        HidDouble::queueReport(QByteArray::fromHex(c.reportHex));
    else if (c.outcome == 0)
        HidDouble::queueNoReport();
    else
        HidDouble::queueReadFailure();

    const QByteArray payload = patternBytes(12);
    const int result = io->writePacket(reinterpret_cast<const uint8_t*>(payload.constData()), 12);

    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(io->status, c.expected);
    EXPECT_EQ(writtenHex(), QStringList{"01a50c00" + payload.toHex()});
    ASSERT_EQ(HidDouble::reads().size(), 1);
    EXPECT_EQ(HidDouble::reads()[0].bufferSize, 4u);
    EXPECT_EQ(HidDouble::reads()[0].timeoutMs, 75);
    EXPECT_TRUE(log.messages(QtCriticalMsg).isEmpty()) << log.dump().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, HidAck,
    ::testing::Values(AckCase{"Accepted", 1, "01a10000", 0}, AckCase{"Rejected", 1, "01a20000", 1},
                      AckCase{"Aborted", 1, "01a30000", 2}, AckCase{"StatusZero", 1, "01000000", 3},
                      AckCase{"Status7F", 1, "017f", 3},
                      // Byte 0 is not examined.
                      AckCase{"OtherReportId", 1, "00a1", 0},
                      AckCase{"LongReportCut", 1, "01a1000000000000ff", 0},
                      // A report too short to hold a status byte is no acknowledgement.
                      AckCase{"OneByteReport", 1, "01", 3}, AckCase{"NoReport", 0, "", 9},
                      AckCase{"ReadFails", -1, "", 16}),
    [](const ::testing::TestParamInfo<AckCase>& info) { return std::string(info.param.label); });

struct WriteSizeCase {
    int payloadSize;
    int expected;
    bool written;
};

class HidWriteSize : public HidFixture, public ::testing::WithParamInterface<WriteSizeCase> {};

TEST_P(HidWriteSize, ReportCarriesAtMost1020Bytes) {
    const WriteSizeCase& c = GetParam();
    auto io = openPath();
    HidDouble::queueReport(QByteArray::fromHex("01a10000"));
    const QByteArray payload = patternBytes(c.payloadSize);
    const int result = io->writePacket(reinterpret_cast<const uint8_t*>(payload.constData()),
                                       static_cast<uint16_t>(c.payloadSize));
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(io->status, c.expected);
    if (c.written) {
        ASSERT_EQ(HidDouble::writes().size(), 1);
        const QByteArray report = HidDouble::writes()[0].bytes;
        EXPECT_EQ(report.size(), c.payloadSize + 4);
        EXPECT_EQ(report.left(4).toHex(), QByteArray::fromHex("01a5").toHex() +
                                              QByteArray(1, char(c.payloadSize & 0xFF)).toHex() +
                                              QByteArray(1, char(c.payloadSize >> 8)).toHex());
        EXPECT_EQ(hex(report.mid(4)), hex(payload));
        EXPECT_TRUE(log.messages(QtCriticalMsg).isEmpty());
    } else {
        EXPECT_TRUE(HidDouble::writes().isEmpty());
        EXPECT_TRUE(HidDouble::reads().isEmpty());
        EXPECT_EQ(log.messages(QtCriticalMsg),
                  QStringList{QString("Write payload error! length:  %1").arg(c.payloadSize)});
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, HidWriteSize,
                         ::testing::Values(WriteSizeCase{0, 0, true}, WriteSizeCase{1020, 0, true},
                                           WriteSizeCase{1021, 7, false},
                                           WriteSizeCase{65535, 7, false}),
                         [](const ::testing::TestParamInfo<WriteSizeCase>& info) {
                             return "Payload" + std::to_string(info.param.payloadSize);
                         });

TEST_F(HidFixture, FailedWriteSkipsAcknowledgement) {
    auto io = openPath();
    HidDouble::failWritesFrom(1);
    HidDouble::queueReport(QByteArray::fromHex("01a10000"));
    const uint8_t payload[2] = {1, 2};
    EXPECT_EQ(io->writePacket(payload, 2), 7);
    EXPECT_EQ(io->status, 7);
    EXPECT_TRUE(HidDouble::reads().isEmpty());
}

// ---- readPacket ----

struct ReadCase {
    const char* label;
    int outcome;  // 1 report, 0 none, -1 read failure
    QByteArray report;
    bool responseFails;
    int expected;
    int expectedLength;  // -1: untouched
    bool answered;
    QString critical;
};

QByteArray hidPacketReport(int declared, int carried) {
    QByteArray report = QByteArray::fromHex("01a5");
    report.append(char(declared & 0xFF)).append(char(declared >> 8));
    return report + patternBytes(carried);
}

class HidRead : public HidFixture, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(HidRead, ReadsReportAndAnswers) {
    const ReadCase& c = GetParam();
    auto io = openPath();
    io->setTimeout(75);
    if (c.outcome > 0)
        HidDouble::queueReport(c.report);
    else if (c.outcome == 0)
        HidDouble::queueNoReport();
    else
        HidDouble::queueReadFailure();
    if (c.responseFails)
        HidDouble::failWritesFrom(1);

    // Exactly the engine's buffer size, so the sanitizer sees any overrun.
    std::vector<uint8_t> exact(Framing::kPacketBufferSize, 0xEE);
    const int result = io->readPacket(exact.data(), &length);

    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(io->status, c.expected);
    ASSERT_EQ(HidDouble::reads().size(), 1);
    EXPECT_EQ(HidDouble::reads()[0].bufferSize, 1024u);
    EXPECT_EQ(HidDouble::reads()[0].timeoutMs, 75);
    if (c.expectedLength < 0) {
        EXPECT_EQ(length, kUntouchedLength);
    } else {
        EXPECT_EQ(length, c.expectedLength);
        EXPECT_EQ(hex(exact.data(), c.expectedLength), hex(c.report.mid(4, c.expectedLength)));
    }
    EXPECT_EQ(writtenHex(),
              c.answered && !c.responseFails ? QStringList{"01a10000"} : QStringList());
    EXPECT_EQ(log.messages(QtCriticalMsg),
              c.critical.isEmpty() ? QStringList() : QStringList{c.critical});
}

INSTANTIATE_TEST_SUITE_P(
    Table, HidRead,
    ::testing::Values(
        ReadCase{"Abc", 1, QByteArray::fromHex("01a503006162 63"), false, 0, 3, true, ""},
        // Bytes 0 and 1 of a device packet are not examined.
        ReadCase{"HeaderBytesIgnored", 1, QByteArray::fromHex("ffff0300616263"), false, 0, 3, true,
                 ""},
        ReadCase{"EmptyPayload", 1, QByteArray::fromHex("01a50000"), false, 0, 0, true, ""},
        ReadCase{"PaddedReport", 1, hidPacketReport(5, 60), false, 0, 5, true, ""},
        ReadCase{"Largest", 1, hidPacketReport(1020, 1020), false, 0, 1020, true, ""},
        ReadCase{"NoReport", 0, {}, false, 4, -1, false, ""},
        ReadCase{"ReadFails", -1, {}, false, 11, -1, false, ""},
        ReadCase{"ResponseFails", 1, QByteArray::fromHex("01a50000"), true, 15, 0, true, ""},
        ReadCase{"NoLengthField", 1, QByteArray::fromHex("01a503"), false, 12, -1, true,
                 "Read payload length error! report bytes:  3"},
        ReadCase{"LengthBeyondReport", 1, hidPacketReport(4, 3), false, 13, -1, true,
                 "Read payload buffer error! length:  4  report bytes:  7"},
        ReadCase{"Length1021", 1, hidPacketReport(1021, 1020), false, 13, -1, true,
                 "Read payload buffer error! length:  1021  report bytes:  1024"},
        ReadCase{"Length1024", 1, hidPacketReport(1024, 1020), false, 13, -1, true,
                 "Read payload buffer error! length:  1024  report bytes:  1024"},
        ReadCase{"Length65535", 1, hidPacketReport(65535, 1020), false, 13, -1, true,
                 "Read payload buffer error! length:  65535  report bytes:  1024"},
        // A longer report is cut to the 1024-byte buffer by the HID layer.
        ReadCase{"ReportCutToBuffer", 1, hidPacketReport(1021, 1100), false, 13, -1, true,
                 "Read payload buffer error! length:  1021  report bytes:  1024"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.label); });

TEST_F(HidFixture, SendResponseReport) {
    auto io = openPath();
    EXPECT_EQ(io->sendResponse(0xA1), 0);
    EXPECT_EQ(io->sendResponse(0xA2), 0);
    EXPECT_EQ(writtenHex(), (QStringList{"01a10000", "01a20000"}));
    HidDouble::failWritesFrom(3);
    EXPECT_EQ(io->sendResponse(0xA1), 15);
    EXPECT_EQ(io->status, 15);
    EXPECT_TRUE(log.messages(QtCriticalMsg).isEmpty());
}

// ---- enumeration ----

struct PathsCase {
    const char* label;
    uint16_t vid;
    uint16_t pid;
    QStringList expected;
};

class HidPaths : public HidFixture, public ::testing::WithParamInterface<PathsCase> {};

TEST_P(HidPaths, ListsMatchingDevicesInOrder) {
    const PathsCase& c = GetParam();
    HidDouble::attach("/dev/hidraw6", 0x5E3A, 0x0099);
    EXPECT_EQ(HidIO::devicePaths(c.vid, c.pid), c.expected);
    EXPECT_EQ(HidDouble::enumerateFilters(), QList<uint32_t>{uint32_t(c.vid) << 16 | c.pid});
    EXPECT_EQ(HidDouble::listsFreed(), 1);
    EXPECT_EQ(HidDouble::openDevices(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HidPaths,
    ::testing::Values(PathsCase{"Any", 0, 0, {kPathOther, kPathA, kPathB, "/dev/hidraw6"}},
                      PathsCase{"Vendor", 0x5E3A, 0, {kPathA, kPathB, "/dev/hidraw6"}},
                      PathsCase{"VendorAndProduct", 0x5E3A, 0x42, {kPathA, kPathB}},
                      PathsCase{"ProductOnly", 0, 0x99, {"/dev/hidraw6"}},
                      PathsCase{"NoMatch", 0x5E3A, 0x77, {}}),
    [](const ::testing::TestParamInfo<PathsCase>& info) { return std::string(info.param.label); });

TEST(HidPathsEmpty, NothingAttached) {
    HidDouble::reset();
    EXPECT_TRUE(HidIO::devicePaths(0, 0).isEmpty());
    EXPECT_EQ(HidDouble::enumerations(), 1);
}

}  // namespace
