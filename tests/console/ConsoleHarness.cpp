#include "tests/console/ConsoleHarness.h"

#include <QMetaObject>
#include <QtEndian>
#include <cstring>

#include "romcmd/RomCmd.h"
#include "tests/common/ToolParser.h"

namespace RomCmd {
namespace Test {

namespace {

QByteArray le32(uint32_t value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

}  // namespace

int FakeRom::writePacket(const uint8_t* payload, uint16_t length) {
    written.append(QByteArray(reinterpret_cast<const char*>(payload), length));
    // Data packets (flags 0x01) continue the command that started the exchange.
    if (length >= 3 && payload[2] != 0x01) {
        lastCommand = written.last();
    }
    responsePending = true;
    status = writeResults.isEmpty() ? 0 : writeResults.takeFirst();
    return status;
}

int FakeRom::readPacket(uint8_t* buffer, uint16_t* length) {
    Reply reply{0, {}};
    if (!reads.isEmpty()) {
        reply = reads.takeFirst();
    } else if (!responsePending) {
        // Nothing more to say: a read of data beyond what was scripted times out.
        reply.result = 4;
    } else {
        responsePending = false;
        QByteArray data;
        if (lastCommand.size() >= 8 && uint8_t(lastCommand.at(0)) == 1) {
            data = rteRecords.value(qFromLittleEndian<uint32_t>(lastCommand.constData() + 4));
        }
        reply.payload = response(0, data);
    }
    status = reply.result;
    if (reply.result != 0) {
        return reply.result;
    }
    std::memcpy(buffer, reply.payload.constData(), size_t(reply.payload.size()));
    *length = uint16_t(reply.payload.size());
    return 0;
}

void FakeRom::setTimeout(int milliseconds) {
    timeouts.append(milliseconds);
    timeout = milliseconds;
}

QByteArray FakeRom::response(uint32_t romStatus, const QByteArray& data) {
    return QByteArray::fromHex("a0000000") + le32(romStatus) + data;
}

QByteArray FakeRom::dataPacket(const QByteArray& data) {
    return QByteArray::fromHex("a5000000") + data;
}

QList<SerialPortEntry> FakeEnvironment::serialPorts() const {
    ++serialListings;
    return ports;
}

QList<UsbInfo> FakeEnvironment::usbDevices(uint16_t vid, uint16_t pid) const {
    usbQueries.append({vid, pid});
    QList<UsbInfo> devices;
    for (auto it = usbPaths.constBegin(); it != usbPaths.constEnd(); ++it) {
        for (const QString& path : it.value()) {
            UsbInfo device;
            device.devicePath = path;
            device.vid = it.key().first;
            device.pid = it.key().second;
            devices.append(device);
        }
    }
    devices += usbEntries;
    QList<UsbInfo> matching;
    for (const UsbInfo& device : devices) {
        if ((vid == 0 || device.vid == vid) && (pid == 0 || device.pid == pid)) {
            matching.append(device);
        }
    }
    return matching;
}

void ConsoleTest::SetUp() {
    parser = makeParser({"tarvo_manufacturing_tool"});
    ASSERT_TRUE(parser->errorText().isEmpty()) << parser->errorText().toStdString();

    log = std::make_unique<LogCapture>();
    console = std::make_unique<RomConsoleMode>(*parser);
    access = std::make_unique<ConsoleTestAccess>(*console);
    environment = std::make_shared<FakeEnvironment>();
    console->setEnvironment(environment);

    auto fake = std::make_unique<FakeRom>();
    rom = fake.get();
    RomCmd* engine = new RomCmd(std::move(fake), 1, "test");
    access->romCmd = engine;
    RomConsoleMode* target = console.get();
    QObject::connect(engine, SIGNAL(signalRTEQueried(int, QVariant)), target,
                     SLOT(slotRTEQueried(int, QVariant)));
    QObject::connect(engine, SIGNAL(signalMemory2FileReadProgress(int, int)), target,
                     SLOT(slotMemory2FileReadProgress(int, int)));
    QObject::connect(engine, SIGNAL(signalMemoryWriteProgress(int, int)), target,
                     SLOT(slotMemoryWriteProgress(int, int)));
    QObject::connect(engine, SIGNAL(signalFile2MemoryWriteProgress(int, int)), target,
                     SLOT(slotFile2MemoryWriteProgress(int, int)));
    QObject::connect(engine, SIGNAL(signalImageLoadProgress(int, int)), target,
                     SLOT(slotImageLoadProgress(int, int)));
    QObject::connect(engine, &RomCmd::signalMemoryReadProgress, target,
                     [this](uint32_t, uint32_t, uint8_t* value, int length, int, int, bool) {
                         invokeDumpSlot(QByteArray(reinterpret_cast<const char*>(value), length));
                     });
    log->clear();
}

void ConsoleTest::TearDown() {
    if (console) {
        delete access->romCmd;
        access->romCmd = nullptr;
        access.reset();
        console.reset();
    }
    log.reset();
    parser.reset();
}

bool ConsoleTest::dispatch(const QString& command) {
    return access->dispatchCommand(command);
}

void ConsoleTest::invokeRteSlot(int rteId, const QVariant& variant) {
    ASSERT_TRUE(QMetaObject::invokeMethod(console.get(), "slotRTEQueried", Qt::DirectConnection,
                                          Q_ARG(int, rteId), Q_ARG(QVariant, variant)));
}

void ConsoleTest::invokeDumpSlot(const QByteArray& bytes) {
    const uint8_t* value = reinterpret_cast<const uint8_t*>(bytes.constData());
    const uint32_t length = uint32_t(bytes.size());
    ASSERT_TRUE(QMetaObject::invokeMethod(
        console.get(), "slotMemoryReadProgress", Qt::DirectConnection, Q_ARG(uint32_t, 0),
        Q_ARG(uint32_t, 0), Q_ARG(const uint8_t*, value), Q_ARG(uint32_t, length),
        Q_ARG(uint32_t, length), Q_ARG(uint32_t, length)));
}

void ConsoleTest::invokeProgressSlot(const char* slot, int total, int progress) {
    ASSERT_TRUE(QMetaObject::invokeMethod(console.get(), slot, Qt::DirectConnection,
                                          Q_ARG(int, total), Q_ARG(int, progress)));
}

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' '));
}

}  // namespace Test
}  // namespace RomCmd
