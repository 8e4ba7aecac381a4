// Data transfers of the engine against a recording transport double.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "romcmd/RomCmd.h"
#include "tests/common/LogCapture.h"
#include "tests/common/QtPrinters.h"
#include "tests/romcmd/FakeDeviceIO.h"

namespace RomCmd {
namespace Test {
namespace {

Rig makeRig(const QList<FakeDeviceIO::Reply>& replies, const QList<int>& writeResults = {}) {
    return makeEngineRig(2, QStringLiteral("hid-1"), replies, writeResults);
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        ADD_FAILURE() << "cannot prepare " << path.toStdString();
    }
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QList<int> progressOf(const QSignalSpy& spy, int* total) {
    QList<int> out;
    for (const QList<QVariant>& args : spy) {
        *total = args.value(0).toInt();
        out << args.value(1).toInt();
    }
    return out;
}

int countFinishing() {
    return LogCapture::matching("info", "finished! Status:").size();
}

// ---- write and load splits ----

struct SplitCase {
    int length;
    QList<int> payloadSizes;
    QList<int> progress;
};

enum class Source { Buffer, File };

class WriteSplit : public ::testing::TestWithParam<std::tuple<SplitCase, Source>> {};

TEST_P(WriteSplit, PacketsCarryTheDataInOrderWithProgress) {
    const SplitCase& c = std::get<0>(GetParam());
    const Source source = std::get<1>(GetParam());
    const QByteArray data = pattern(c.length, 5);
    Rig rig = makeRig({response(0)});
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    int result = -1;
    std::unique_ptr<QSignalSpy> spy;
    if (source == Source::Buffer) {
        spy.reset(new QSignalSpy(rig.engine.get(), &RomCmd::signalMemoryWriteProgress));
        result = rig.engine->writeMemory(0x11, 0x80000000,
                                         reinterpret_cast<const uint8_t*>(data.constData()),
                                         uint32_t(data.size()));
    } else {
        spy.reset(new QSignalSpy(rig.engine.get(), &RomCmd::signalFile2MemoryWriteProgress));
        result = rig.engine->writeMemoryByFile(0x11, 0x80000000, writeFile(dir, "in.bin", data));
    }
    EXPECT_EQ(result, 0);
    QList<int> sizes;
    QByteArray carried;
    for (int i = 0; i < rig.io->written.size(); ++i) {
        const QByteArray& packet = rig.io->written[i];
        sizes << packet.size();
        const QByteArray header = i == 0 ? QByteArray::fromHex("04030000") + le32(0x80000000) +
                                               le32(uint32_t(c.length)) + le32(0x11)
                                         : QByteArray::fromHex("04000100");
        EXPECT_EQ(packet.left(header.size()).toHex(), header.toHex()) << "packet " << i;
        carried += packet.mid(header.size());
    }
    EXPECT_EQ(sizes, c.payloadSizes);
    EXPECT_EQ(carried.toHex(), data.toHex());
    int total = -1;
    EXPECT_EQ(progressOf(*spy, &total), c.progress);
    if (!c.progress.isEmpty()) {
        EXPECT_EQ(total, c.length);
    }
    EXPECT_EQ(rig.io->reads, 1) << "one response after the last packet";
}

INSTANTIATE_TEST_SUITE_P(
    Engine, WriteSplit,
    ::testing::Combine(::testing::Values(SplitCase{1, {17}, {1}}, SplitCase{495, {511}, {495}},
                                         SplitCase{496, {512}, {496}},
                                         SplitCase{497, {512, 5}, {496, 497}},
                                         SplitCase{1000, {512, 508}, {496, 1000}},
                                         SplitCase{1100, {512, 512, 100}, {496, 1004, 1100}}),
                       ::testing::Values(Source::Buffer, Source::File)));

TEST(WriteMemory, ZeroLengthSendsTheCommandAloneAndReadsResponse) {
    Rig rig = makeRig({response(0)});
    QSignalSpy spy(rig.engine.get(), &RomCmd::signalMemoryWriteProgress);
    EXPECT_EQ(rig.engine->writeMemory(1, 0x400, nullptr, 0), 0);
    EXPECT_EQ(rig.io->writtenHex(), QStringList{"04030000000400000000000001000000"});
    EXPECT_EQ(rig.io->reads, 1);
    EXPECT_EQ(spy.count(), 0) << "no progress over zero bytes";
}

TEST(WriteMemory, OpeningLineListsEveryByte) {
    LogCapture capture;
    Rig rig = makeRig({response(0)});
    const uint8_t bytes[] = {0x00, 0xAB, 0x7F};
    EXPECT_EQ(rig.engine->writeMemory(0x20000, 0x10, bytes, 3), 0);
    EXPECT_EQ(LogCapture::matching("info", "Write memory").value(0),
              "Write memory  id:  \"0x00020000\"  address:  \"0x00000010\"  length:  3  buffer:  "
              "\"00,ab,7f,\"");
    EXPECT_EQ(LogCapture::matching("info", "finished!").value(0),
              "Id:  \"hid-1\" \r\n Cmd 'Write Memory' finished! Status:  0  message:  \"OK\"");
}

struct WriteFailureCase {
    const char* name;
    QList<int> writeResults;
    QList<FakeDeviceIO::Reply> replies;
    int expected;
    int expectedPackets;
    int expectedReads;
    QList<int> progress;
};

class WriteFailure : public ::testing::TestWithParam<WriteFailureCase> {};

TEST_P(WriteFailure, LoopStopsAndResponseDecides) {
    const WriteFailureCase& c = GetParam();
    const QByteArray data = pattern(1100);
    Rig rig = makeRig(c.replies, c.writeResults);
    QSignalSpy spy(rig.engine.get(), &RomCmd::signalMemoryWriteProgress);
    EXPECT_EQ(rig.engine->writeMemory(1, 0, reinterpret_cast<const uint8_t*>(data.constData()),
                                      uint32_t(data.size())),
              c.expected);
    EXPECT_EQ(rig.io->written.size(), c.expectedPackets);
    EXPECT_EQ(rig.io->reads, c.expectedReads);
    int total = 0;
    EXPECT_EQ(progressOf(spy, &total), c.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, WriteFailure,
    ::testing::Values(
        WriteFailureCase{"NakOnSecond", {0, 1}, {response(0)}, 1, 2, 0, {496}},
        WriteFailureCase{"AbortWithErrorResponse", {0, 2}, {response(1001002)}, 17, 2, 1, {496}},
        WriteFailureCase{"AbortWithSuccessResponse", {2}, {response(0)}, 0, 1, 1, {}},
        WriteFailureCase{"LockedDevice", {}, {response(1001014)}, 19, 3, 1, {496, 1004, 1100}}),
    [](const ::testing::TestParamInfo<WriteFailureCase>& info) { return info.param.name; });

struct LoadCase {
    int size;
    QList<int> payloadSizes;
    QList<int> progress;
};

class LoadSplit : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadSplit, EveryPacketIsADataPacket) {
    const LoadCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray image = pattern(c.size, 1);
    const QString path = writeFile(dir, "image.bin", image);
    Rig rig = makeRig({response(0)});
    QSignalSpy spy(rig.engine.get(), &RomCmd::signalImageLoadProgress);
    EXPECT_EQ(rig.engine->loadImage(path), 0);
    QList<int> sizes;
    QByteArray carried;
    for (const QByteArray& packet : rig.io->written) {
        sizes << packet.size();
        EXPECT_EQ(packet.left(4).toHex(), QByteArray("06000100"));
        carried += packet.mid(4);
    }
    EXPECT_EQ(sizes, c.payloadSizes);
    EXPECT_EQ(carried.toHex(), image.toHex());
    int total = -1;
    EXPECT_EQ(progressOf(spy, &total), c.progress);
    EXPECT_EQ(rig.io->reads, 1);
}

INSTANTIATE_TEST_SUITE_P(Engine, LoadSplit,
                         ::testing::Values(LoadCase{1, {5}, {1}}, LoadCase{508, {512}, {508}},
                                           LoadCase{1016, {512, 512}, {508, 1016}},
                                           LoadCase{1017, {512, 512, 5}, {508, 1016, 1017}}));

// ---- files that cannot be used ----

TEST(FileOperations, UnusableFileEndsWithOpenFailedBeforeAnythingIsSent) {
    LogCapture capture;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath("missing.bin");
    const QString empty = writeFile(dir, "empty.bin", QByteArray());
    const std::function<int(RomCmd&)> operations[] = {
        [&](RomCmd& e) { return e.writeMemoryByFile(1, 0, missing); },
        [&](RomCmd& e) { return e.writeMemoryByFile(1, 0, empty); },
        [&](RomCmd& e) { return e.writeMemoryByFile(1, 0, dir.path()); },
        [&](RomCmd& e) { return e.loadImage(missing); },
        [&](RomCmd& e) { return e.loadImage(empty); },
        [&](RomCmd& e) { return e.verifyChecksumByFile(1, 0, missing, 0); },
        [&](RomCmd& e) { return e.verifyChecksumByFile(1, 0, missing, 16); },
        // A verification of nothing would pass whatever the memory holds.
        [&](RomCmd& e) { return e.verifyChecksumByFile(1, 0, empty, 0); },
    };
    int index = 0;
    for (const auto& operation : operations) {
        Rig rig = makeRig({response(0)});
        EXPECT_EQ(operation(*rig.engine), 5) << "operation " << index;
        EXPECT_TRUE(rig.io->written.isEmpty()) << "operation " << index;
        ++index;
    }
    EXPECT_EQ(countFinishing(), 0);
    EXPECT_EQ(LogCapture::texts(QtCriticalMsg).size(), index) << "one clear line each";
}

// Data comes from regular files only, found out without waiting: a FIFO would hold the open
// until a writer comes, and /dev/zero never ends. (The test holds the FIFO's other end, so
// that an open that waited would not hang it.)
TEST(FileOperations, InputThatIsNoRegularFileIsRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("fifo.bin");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int otherEnd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(otherEnd, 0);
    struct Operation {
        const char* name;
        std::function<int(RomCmd&, const QString&)> run;
    };
    const Operation operations[] = {
        {"Write Memory", [](RomCmd& e, const QString& p) { return e.writeMemoryByFile(1, 0, p); }},
        {"Load Image", [](RomCmd& e, const QString& p) { return e.loadImage(p); }},
        {"Verify Checksum",
         [](RomCmd& e, const QString& p) { return e.verifyChecksumByFile(1, 0, p, 0); }},
    };
    for (const QString& path : {fifo, QStringLiteral("/dev/zero")}) {
        for (const Operation& operation : operations) {
            SCOPED_TRACE(path.toStdString() + " " + operation.name);
            LogCapture capture;
            Rig rig = makeRig({response(0)});
            EXPECT_EQ(operation.run(*rig.engine, path), 5);
            EXPECT_TRUE(rig.io->written.isEmpty());
            EXPECT_EQ(LogCapture::texts(QtCriticalMsg),
                      QStringList{QString("Id:  \"hid-1\" \r\n Cmd '%1' file is not a regular "
                                          "file! file:  \"%2\"")
                                      .arg(operation.name, path)});
        }
    }
    ::close(otherEnd);
}

// ---- verify checksum ----

TEST(VerifyChecksumByFile, DigestsExactlyTheRequestedBytes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray content = pattern(4096, 77);
    const QString path = writeFile(dir, "data.bin", content);
    const struct {
        uint64_t length;
        int digested;
    } cases[] = {{600, 600}, {0, 4096}, {4096, 4096}, {1, 1}, {512, 512}, {513, 513}};
    for (const auto& c : cases) {
        Rig rig = makeRig({response(0)});
        EXPECT_EQ(rig.engine->verifyChecksumByFile(2, 0x400, path, c.length), 0) << c.length;
        ASSERT_EQ(rig.io->written.size(), 1);
        const QByteArray digest =
            QCryptographicHash::hash(content.left(c.digested), QCryptographicHash::Sha256);
        const QByteArray expected = QByteArray::fromHex("0a0d0000") + le32(0x400) +
                                    le32(uint32_t(c.digested)) + le32(2) + le32(1) + le32(32) +
                                    digest;
        EXPECT_EQ(rig.io->written[0].toHex(), expected.toHex()) << c.length;
    }
}

TEST(VerifyChecksumByFile, KnownVectorAndBeyondEndRefused) {
    LogCapture capture;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = writeFile(dir, "abc.txt", "abc");
    Rig rig = makeRig({response(1001013)});
    EXPECT_EQ(rig.engine->verifyChecksumByFile(1, 0, path, 0), 17) << "mismatch answered by ROM";
    ASSERT_EQ(rig.io->written.size(), 1);
    EXPECT_EQ(rig.io->written[0].mid(24).toHex(),
              QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));

    Rig refused = makeRig({response(0)});
    EXPECT_EQ(refused.engine->verifyChecksumByFile(1, 0, path, 4), 3);
    EXPECT_TRUE(refused.io->written.isEmpty());
    EXPECT_EQ(LogCapture::matching("critical", "beyond the end of the file").size(), 1);
}

// ---- reads ----

struct Chunk {
    int length;
    int total;
    int progress;
};

struct ReadCase {
    const char* name;
    uint32_t length;
    QList<FakeDeviceIO::Reply> dataPackets;  // after the status-0 response
    int expected;
    QList<Chunk> chunks;
    int deliveredBytes;  // bytes of the data stream handed out, in order
    int droppedWarnings;
};

QList<FakeDeviceIO::Reply> withResponse(const QList<FakeDeviceIO::Reply>& packets) {
    return QList<FakeDeviceIO::Reply>{response(0)} + packets;
}

// Stands in a size list for a data packet too short to hold its own header.
constexpr int kTwoBytePacket = -100;

// The data stream the device sends: consecutive slices of one pattern; a negative size is a
// failed read with that result.
QList<FakeDeviceIO::Reply> slices(const QList<int>& sizes, QByteArray* stream) {
    QList<FakeDeviceIO::Reply> out;
    const QByteArray all = pattern(70000, 11);
    int offset = 0;
    for (int size : sizes) {
        if (size == kTwoBytePacket) {
            out << FakeDeviceIO::Reply{0, QByteArray::fromHex("0500")};
            continue;
        }
        if (size < 0) {
            out << failure(-size);
            continue;
        }
        out << dataPacket(all.mid(offset, size));
        offset += size;
    }
    *stream = all.left(offset);
    return out;
}

class ReadChunks : public ::testing::TestWithParam<
                       std::tuple<const char*, uint32_t, QList<int>, int, QList<Chunk>, int, int>> {
};

TEST_P(ReadChunks, DeliversRequestedBytesInChunks) {
    const char* name;
    uint32_t length;
    QList<int> sizes;
    int expected;
    QList<Chunk> chunks;
    int deliveredBytes;
    int dropped;
    std::tie(name, length, sizes, expected, chunks, deliveredBytes, dropped) = GetParam();
    LogCapture capture;
    QByteArray stream;
    Rig rig = makeRig(withResponse(slices(sizes, &stream)));
    QList<Chunk> seen;
    QByteArray delivered;
    bool addressSteady = true;
    QObject::connect(rig.engine.get(), &RomCmd::signalMemoryReadProgress,
                     [&](uint32_t memoryId, uint32_t address, uint8_t* value, int chunkLength,
                         int total, int progress, bool isShowLog) {
                         addressSteady =
                             addressSteady && memoryId == 3 && address == 0x1000 && isShowLog;
                         seen << Chunk{chunkLength, total, progress};
                         delivered += QByteArray(reinterpret_cast<const char*>(value), chunkLength);
                     });
    EXPECT_EQ(rig.engine->readMemory(3, 0x1000, length, true), expected) << name;
    EXPECT_TRUE(addressSteady);
    ASSERT_EQ(seen.size(), chunks.size()) << name;
    for (int i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(seen[i].length, chunks[i].length) << name << " chunk " << i;
        EXPECT_EQ(seen[i].total, chunks[i].total) << name << " chunk " << i;
        EXPECT_EQ(seen[i].progress, chunks[i].progress) << name << " chunk " << i;
    }
    EXPECT_EQ(delivered.toHex(), stream.left(deliveredBytes).toHex()) << name;
    EXPECT_EQ(LogCapture::matching("warning", "dropped bytes:").size(), dropped) << name;
    EXPECT_EQ(LogCapture::matching("info", "Cmd 'Read Memory' finished!").size(), 1) << name;
    // A read the device ended early is a failure with one line saying how far it got.
    const QStringList early = LogCapture::matching("critical", "ended the data early");
    EXPECT_EQ(early.join('\n').toStdString(),
              expected == 17 ? QString("Id:  \"hid-1\" \r\n Device ended the data early! received "
                                       "bytes:  %1  requested:  %2")
                                   .arg(deliveredBytes)
                                   .arg(length)
                                   .toStdString()
                             : std::string())
        << name;
}

INSTANTIATE_TEST_SUITE_P(
    Engine, ReadChunks,
    ::testing::Values(std::make_tuple("TwoPacketsOf504", 1000u, QList<int>{500, 500}, 0,
                                      QList<Chunk>{{512, 1000, 512}, {488, 1000, 1000}}, 1000, 0),
                      std::make_tuple("ExactChunks", 1024u, QList<int>{1000, 24}, 0,
                                      QList<Chunk>{{512, 1024, 512}, {512, 1024, 1024}}, 1024, 0),
                      std::make_tuple("OnePacketFillsTwoChunks", 1020u, QList<int>{1020}, 0,
                                      QList<Chunk>{{512, 1020, 512}, {508, 1020, 1020}}, 1020, 0),
                      std::make_tuple("SmallRead", 4u, QList<int>{4}, 0, QList<Chunk>{{4, 4, 4}}, 4,
                                      0),
                      std::make_tuple("OverDeliveryInFirstPacket", 100u, QList<int>{1000}, 0,
                                      QList<Chunk>{{100, 100, 100}}, 100, 1),
                      std::make_tuple("OverDeliveryInLastPacket", 600u, QList<int>{500, 500}, 0,
                                      QList<Chunk>{{512, 600, 512}, {88, 600, 600}}, 600, 1),
                      std::make_tuple("HeaderOnlyPacketEndsEarly", 1000u, QList<int>{300, 0, 300},
                                      17, QList<Chunk>{{300, 1000, 1000}}, 300, 0),
                      std::make_tuple("FailedReadDeliversWhatArrived", 1000u, QList<int>{500, -4},
                                      4, QList<Chunk>{{500, 1000, 1000}}, 500, 0),
                      std::make_tuple("FailedReadAfterFullChunk", 1200u, QList<int>{1000, -13}, 13,
                                      QList<Chunk>{{512, 1200, 512}, {488, 1200, 1200}}, 1000, 0)),
    [](const auto& info) { return std::string(std::get<0>(info.param)); });

TEST(ReadMemory, DevicePacketLengthAboveBufferIsBounded) {
    // A transport reporting more than its buffer must not make the engine read past it.
    Rig rig = makeRig({response(0), {0, pattern(1030)}, dataPacket(QByteArray())});
    int deliveredTotal = 0;
    QObject::connect(rig.engine.get(), &RomCmd::signalMemoryReadProgress,
                     [&](uint32_t, uint32_t, uint8_t*, int chunkLength, int, int, bool) {
                         deliveredTotal += chunkLength;
                     });
    EXPECT_EQ(rig.engine->readMemory(1, 0, 2000, false), 17);
    EXPECT_EQ(deliveredTotal, 1020);
}

TEST(ReadMemory, OtpLengthMustBeWholeWords) {
    LogCapture capture;
    const struct {
        uint32_t memoryId;
        uint32_t length;
        int expected;
        int packets;
    } cases[] = {{0x20000, 6, 3, 0}, {0x20000, 1, 3, 0}, {0x20000, 8, 0, 1},
                 {0x20000, 0, 0, 1}, {0x10000, 6, 0, 1}, {0x20001, 6, 0, 1}};
    for (const auto& c : cases) {
        LogCapture::clear();
        Rig rig = makeRig(withResponse({dataPacket(pattern(int(c.length)))}));
        EXPECT_EQ(rig.engine->readMemory(c.memoryId, 0, c.length, false), c.expected)
            << c.memoryId << "/" << c.length;
        EXPECT_EQ(rig.io->written.size(), c.packets) << c.memoryId << "/" << c.length;
        EXPECT_EQ(LogCapture::matching("warning", "OTP only supports").size(), c.expected ? 1 : 0);
        if (c.expected) {
            EXPECT_EQ(LogCapture::matching("warning", "OTP").value(0),
                      "OTP only supports quering by multiple of four bytes.");
        }
    }
}

TEST(ReadMemory, ErrorStatusAndTransportFailures) {
    LogCapture capture;
    const struct {
        QList<int> writeResults;
        QList<FakeDeviceIO::Reply> replies;
        int expected;
        int reads;
    } cases[] = {
        {{1}, {response(0)}, 1, 0},
        {{2}, {response(1001008)}, 17, 1},
        {{0}, {response(1)}, 17, 1},  // no boot-mode result for a read
        {{0}, {}, 4, 1},
        {{0}, {{0, QByteArray(6, '\0')}}, 3, 1},
    };
    for (const auto& c : cases) {
        Rig rig = makeRig(c.replies, c.writeResults);
        int chunks = 0;
        QObject::connect(rig.engine.get(), &RomCmd::signalMemoryReadProgress, [&] { ++chunks; });
        EXPECT_EQ(rig.engine->readMemory(1, 0, 64, false), c.expected);
        EXPECT_EQ(rig.io->reads, c.reads);
        EXPECT_EQ(chunks, 0);
    }
    EXPECT_EQ(LogCapture::matching("critical", "read package failed!").value(0),
              "Id:  \"hid-1\" \r\n Cmd 'Read Memory' read package failed! resp status:  1001008 "
              " message:  \"reading memory is disallowed\"");
    EXPECT_EQ(countFinishing(), 5);
}

// ---- read to file ----

struct FileReadCase {
    const char* name;
    uint32_t length;
    QList<int> sizes;
    int expected;
    QList<int> progress;
    int fileBytes;
};

class ReadToFile : public ::testing::TestWithParam<FileReadCase> {};

// The file at the path is the whole read, or the earlier file untouched after a failure.
TEST_P(ReadToFile, WritesEachPacketAsItArrives) {
    const FileReadCase& c = GetParam();
    LogCapture capture;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray earlier = "earlier contents, replaced only by a complete read";
    const QString path = writeFile(dir, "out.bin", earlier);
    QByteArray stream;
    Rig rig = makeRig(withResponse(slices(c.sizes, &stream)));
    QSignalSpy spy(rig.engine.get(), &RomCmd::signalMemory2FileReadProgress);
    EXPECT_EQ(rig.engine->readMemoryToFile(1, 0, c.length, path), c.expected);
    int total = -1;
    EXPECT_EQ(progressOf(spy, &total), c.progress);
    if (!c.progress.isEmpty()) {
        EXPECT_EQ(total, int(c.length));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toHex(),
              (c.expected == 0 ? stream.left(c.fileBytes) : earlier).toHex());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(' ').toStdString(), "out.bin");
    EXPECT_EQ(LogCapture::matching("critical", "ended the data early").size(),
              c.expected == 17 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, ReadToFile,
    ::testing::Values(
        FileReadCase{"TwoPackets", 1000, {500, 500}, 0, {500, 1000}, 1000},
        FileReadCase{"HeaderOnlyPacketIsSkipped", 800, {500, 0, 300}, 0, {500, 500, 800}, 800},
        FileReadCase{"OverDeliveryIsCut", 600, {500, 500}, 0, {500, 600}, 600},
        FileReadCase{"FailureKeepsTheEarlierFile", 1000, {500, -4}, 4, {500}, 0},
        FileReadCase{"PacketShorterThanHeaderFails", 1000, {500, kTwoBytePacket}, 17, {500}, 0},
        FileReadCase{"ZeroLengthTruncates", 0, {}, 0, {}, 0}),
    [](const ::testing::TestParamInfo<FileReadCase>& info) { return info.param.name; });

TEST(ReadMemoryToFile, ErrorStatusCreatesNoFileAndOpenFailureIsReported) {
    LogCapture capture;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("never.bin");
    Rig rig = makeRig({response(1001008)});
    EXPECT_EQ(rig.engine->readMemoryToFile(1, 0, 64, path), 17);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(LogCapture::matching("critical", "read package failed!").size(), 1);
    EXPECT_TRUE(LogCapture::matching("critical", "read package failed!")
                    .value(0)
                    .contains("Cmd 'Read Memory to File' read package failed! resp status:  "
                              "1001008"));

    Rig unwritable = makeRig(withResponse({dataPacket(pattern(64))}));
    EXPECT_EQ(unwritable.engine->readMemoryToFile(1, 0, 64, dir.filePath("no/such/dir.bin")), 5);
    EXPECT_EQ(LogCapture::matching("critical", "open file failed!").value(0),
              "Id:  \"hid-1\" \r\n Cmd 'Read Memory to File' open file failed!");
    EXPECT_EQ(LogCapture::matching("info", "Cmd 'Read Memory to File' finished!").size(), 2);
}

// A dump follows a link only when the link is the caller's or root's, the rule the kernel
// keeps in sticky folders: another user's link could have it replace any file of ours. A FIFO
// or socket is no target either.
TEST(ReadMemoryToFile, LinkOfAnotherUserAndFifoAreRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString precious = writeFile(dir, "precious.bin", "keep");
    const passwd* nobody = ::getpwnam("nobody");
    struct Case {
        const char* name;
        const char* target;  // a link to the precious file, or a FIFO
        bool foreign;        // the link belongs to nobody
        int expected;
        const char* critical;  // the refusal, empty for none
    };
    const Case cases[] = {
        {"OwnLinkIsFollowed", "link", false, 0, ""},
        {"LinkOfAnotherUser", "link", true, 5, "will not write through a link of another user!"},
        {"Fifo", "fifo", false, 5, "file is a FIFO or socket!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.foreign && (::geteuid() != 0 || nobody == nullptr)) {
            std::printf("skipped %s: needs root and the user nobody\n", c.name);
            continue;
        }
        const QString path = dir.filePath(QString("%1.bin").arg(c.name));
        int reader = -1;
        if (QByteArray(c.target) == "link") {
            ASSERT_TRUE(QFile::link(precious, path));
            if (c.foreign) {
                ASSERT_EQ(
                    ::lchown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid),
                    0);
            }
        } else {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            reader = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
            ASSERT_GE(reader, 0);
        }
        LogCapture capture;
        Rig rig = makeRig(withResponse({dataPacket(pattern(16))}));
        EXPECT_EQ(rig.engine->readMemoryToFile(1, 0, 16, path), c.expected);
        const QStringList refusals = LogCapture::texts(QtCriticalMsg);
        if (c.expected == 0) {
            EXPECT_TRUE(refusals.isEmpty()) << refusals.join('\n').toStdString();
            EXPECT_EQ(readFile(precious), pattern(16));
            writeFile(dir, "precious.bin", "keep");
        } else {
            ASSERT_EQ(refusals.size(), 1);
            EXPECT_TRUE(refusals.first().contains(c.critical)) << refusals.first().toStdString();
            EXPECT_TRUE(refusals.first().contains("\"" + path + "\""))
                << refusals.first().toStdString();
            if (c.foreign) {
                EXPECT_TRUE(refusals.first().endsWith(" owner:  \"nobody\""))
                    << refusals.first().toStdString();
            }
            EXPECT_EQ(readFile(precious), QByteArray("keep"));
        }
        EXPECT_EQ(QFileInfo(path).isSymLink(), QByteArray(c.target) == "link");
        if (reader >= 0) {
            char byte = 0;
            EXPECT_LT(::read(reader, &byte, 1), 0) << "data went into the FIFO";
            ::close(reader);
        }
    }
}

TEST(ReadMemoryToFile, FullDiskIsAFailureNotASuccess) {
    if (!QFile::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this system";
    }
    LogCapture capture;
    Rig rig = makeRig(withResponse({dataPacket(pattern(500)), dataPacket(pattern(500))}));
    EXPECT_EQ(rig.engine->readMemoryToFile(1, 0, 1000, "/dev/full"), 5);
    EXPECT_EQ(LogCapture::matching("critical", "write file failed!").size(), 1);
}

// Answers every read after its script with a header-only data packet, 1 ms apart.
class HeaderOnlyDevice : public FakeDeviceIO {
public:
    int readPacket(uint8_t* buffer, uint16_t* length) override {
        if (!replies.isEmpty()) {
            return FakeDeviceIO::readPacket(buffer, length);
        }
        // Ends a loop that never gives up, so the test does not hang.
        if (++reads > 5000) {
            return status = 11;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::memcpy(buffer, "\x05\x00\x01\x00", 4);
        *length = 4;
        return status = 0;
    }
};

// Header-only packets keep a read to file going only while data still comes: without a data
// byte for the time-out it ends as a time-out, and the failed read leaves no file behind.
TEST(ReadMemoryToFile, HeaderOnlyPacketsWithoutDataEndInTimeOut) {
    LogCapture capture;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("out.bin");
    auto transport = std::make_unique<HeaderOnlyDevice>();
    transport->replies = {response(0), dataPacket(pattern(100))};
    transport->timeout = 100;
    RomCmd engine(std::move(transport), 2, QStringLiteral("hid-1"));

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(engine.readMemoryToFile(1, 0, 1000, path), 4);
    EXPECT_GE(clock.elapsed(), 100);
    EXPECT_EQ(LogCapture::matching("critical", "Read timeout!").join('|'),
              QString("Id:  \"hid-1\" \r\n Read timeout! received bytes:  100  requested:  1000"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

// Arbitrary device answers: whatever arrives, nothing crashes, results stay in the table and
// no operation hands out more than was asked for.
TEST(DeviceAnswers, ArbitraryRepliesStayWithinBounds) {
    LogCapture capture;  // keeps the flood of lines off the console
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath("out.bin");
    std::mt19937 random(20261208);
    const int results[] = {0, 0, 0, 0, 1, 2, 4, 13};
    for (int round = 0; round < 300; ++round) {
        QList<FakeDeviceIO::Reply> replies;
        const int count = int(random() % 12);
        for (int i = 0; i < count; ++i) {
            const int result = results[random() % 8];
            QByteArray payload(int(random() % 1100), '\0');
            for (char& byte : payload) {
                byte = char(random());
            }
            // Often a plausible status, so the data paths run too.
            if (payload.size() >= 8 && random() % 2) {
                payload.replace(4, 4, le32(0));
            }
            replies << FakeDeviceIO::Reply{result, payload};
        }
        QList<int> writeResults;
        for (int i = 0; i < 4; ++i) {
            writeResults << results[random() % 8];
        }
        Rig rig = makeRig(replies, writeResults);
        const uint32_t length = random() % 3000;
        uint64_t delivered = 0;
        bool totalsRight = true;
        QObject::connect(rig.engine.get(), &RomCmd::signalMemoryReadProgress,
                         [&](uint32_t, uint32_t, uint8_t*, int chunkLength, int total, int, bool) {
                             delivered += uint64_t(chunkLength);
                             totalsRight = totalsRight && total == int(length);
                         });
        QObject::connect(
            rig.engine.get(), &RomCmd::signalMemory2FileReadProgress, [&](int total, int progress) {
                totalsRight =
                    totalsRight && total == int(length) && progress >= 0 && progress <= total;
            });
        int result = -1;
        switch (round % 4) {
            case 0:
                result = rig.engine->readMemory(1, 0, length, false);
                EXPECT_LE(delivered, length) << "round " << round;
                break;
            case 1:
                QFile::remove(out);
                result = rig.engine->readMemoryToFile(1, 0, length, out);
                EXPECT_LE(QFileInfo(out).size(), qint64(length)) << "round " << round;
                break;
            case 2:
                result = rig.engine->queryRte(random() % 8, 0);
                break;
            case 3: {
                const QByteArray data = pattern(int(length));
                result = rig.engine->writeMemory(
                    1, 0, reinterpret_cast<const uint8_t*>(data.constData()), length);
                break;
            }
        }
        EXPECT_TRUE(totalsRight) << "round " << round;
        EXPECT_GE(result, 0) << "round " << round;
        EXPECT_LE(result, 19) << "round " << round;
    }
}

}  // namespace
}  // namespace Test
}  // namespace RomCmd
