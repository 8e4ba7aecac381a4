#include "romcmd/RomCmd.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "romcmd/CommandTables.h"
#include "romcmd/DataFile.h"
#include "romcmd/DeviceType.h"
#include "romcmd/HexText.h"
#include "transport/Framing.h"
#include "transport/HidIO.h"
#include "transport/Interruption.h"
#include "transport/ResultCode.h"
#include "transport/SerialIO.h"

namespace RomCmd {

namespace {

// Every device packet is read into this much; host packets are built in the same buffers.
constexpr size_t kPacketSize = Framing::kPacketBufferSize;
// A data stream's packets (and a file's hashing blocks) hold at most this much; command
// packets such as config-rte's can be longer.
constexpr size_t kMaxHostPayload = 512;
constexpr size_t kCommandHeaderSize = 4;  // code, parameter count, flags, reserved
constexpr size_t kResponseStatusOffset = 4;
constexpr size_t kResponseDataOffset = 8;
constexpr size_t kDataHeaderSize = 4;  // header of a device data packet, not examined
constexpr uint8_t kFlagCommand = 0x00;
constexpr uint8_t kFlagData = 0x01;
constexpr uint8_t kFlagConfigMemory = 0x02;
constexpr int kMaxConfigRteLength = 1016;  // keeps the parameter count within 8 bits
constexpr uint32_t kRteSerialInterface = 1;
constexpr uint32_t kRteMemoryAttribute = 4;
constexpr uint32_t kRteCommandMask = 5;
constexpr uint32_t kEraseRegion = 0;
constexpr uint32_t kEraseWhole = 1;
constexpr uint32_t kDigestAlgorithmSha256 = 1;
constexpr uint32_t kDigestLength = 32;

// ROM statuses that point at a device outside its boot mode, and the one for a locked device.
constexpr uint32_t kBootModeStatuses[] = {1, 2, 3, 1001000, 1002000};
constexpr uint32_t kStatusDisallowed = 1001014;

void putLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putHeader(uint8_t* p, uint8_t code, uint8_t count, uint8_t flags) {
    p[0] = code;
    p[1] = count;
    p[2] = flags;
    p[3] = 0;
}

uint16_t buildCommand(uint8_t* p, uint8_t code, uint8_t flags,
                      std::initializer_list<uint32_t> params) {
    putHeader(p, code, uint8_t(params.size()), flags);
    size_t offset = kCommandHeaderSize;
    for (uint32_t v : params) {
        putLe32(p + offset, v);
        offset += 4;
    }
    return uint16_t(offset);
}

// A time-out above INT_MAX would turn negative in the transport and mean "wait forever".
int boundedTimeout(uint64_t milliseconds) {
    return milliseconds > uint64_t(INT_MAX) ? INT_MAX : int(milliseconds);
}

template <typename Record>
QVariant recordFrom(const uint8_t* data) {
    Record record;
    std::memcpy(&record, data, sizeof(Record));
    return QVariant::fromValue(record);
}

// A regular file at the path is replaced only by a complete read: the data goes to a temporary
// file beside it, renamed over the path at the end. A device node such as /dev/null cannot be
// replaced and is written directly.
std::unique_ptr<QFileDevice> openReadTarget(const QString& path) {
    const QFileInfo target(path);
    std::unique_ptr<QFileDevice> file;
    if (target.exists() && !target.isFile() && !target.isDir()) {
        file = std::make_unique<QFile>(path);
    } else {
        file = std::make_unique<QSaveFile>(path);
    }
    if (!file->open(QIODevice::WriteOnly)) {
        return nullptr;
    }
    return file;
}

// Returns false when data that should be kept did not reach the file. Without `keep` a
// temporary file is dropped and the file at the path stays as it was.
bool closeReadTarget(QFileDevice& file, bool keep) {
    if (auto* saveFile = qobject_cast<QSaveFile*>(&file)) {
        if (keep) {
            return saveFile->commit();
        }
        saveFile->cancelWriting();
        return true;
    }
    const bool flushed = file.flush();
    file.close();
    return flushed && file.error() == QFileDevice::NoError;
}

QString bytesAsText(const uint8_t* data, uint32_t length) {
    static const char digits[] = "0123456789abcdef";
    QByteArray text;
    text.reserve(int(std::min<uint64_t>(uint64_t(length) * 3, INT_MAX)));
    for (uint32_t i = 0; i < length; ++i) {
        text.append(digits[data[i] >> 4]);
        text.append(digits[data[i] & 0xF]);
        text.append(',');
    }
    return QString::fromLatin1(text);
}

}  // namespace

RomCmd::RomCmd(const QVariant& deviceInfo, int type) : QObject(nullptr), deviceType(type) {
    registerMetaTypes();
    if (type == kUsbDevice) {
        id = deviceInfo.value<UsbInfo>().devicePath;
        io.reset(new HidIO(deviceInfo));
    } else if (type == kSerialDevice) {
        id = deviceInfo.value<SerialPortInfo>().portName;
        io.reset(new SerialIO(deviceInfo));
    } else {
        qCritical() << "Id: " << id << "\r\n"
                    << "Rom command device type error! Type: " << type;
    }
}

RomCmd::RomCmd(std::unique_ptr<DeviceIO> transport, int type, const QString& deviceId)
    : QObject(nullptr), io(std::move(transport)), deviceType(type), id(deviceId) {
    registerMetaTypes();
}

RomCmd::~RomCmd() = default;

void RomCmd::setCommandTimeout(uint32_t milliseconds) {
    if (milliseconds == 0) {
        return;
    }
    fixedTimeout = true;
    if (io) {
        io->setTimeout(boundedTimeout(milliseconds));
    }
}

int RomCmd::missingTransport() {
    qCritical() << "Id: " << id << "\r\n"
                << "Rom command has no device to talk to! Type: " << deviceType;
    return ResultOpenFailed;
}

int RomCmd::readResponse(uint8_t* buffer, uint32_t* romStatus) {
    // Zeroed so a short answer never shows bytes of an earlier one.
    std::memset(buffer, 0, kPacketSize);
    uint16_t length = 0;
    const int result = io->readPacket(buffer, &length);
    if (result != ResultOk) {
        return result;
    }
    if (length < kResponseDataOffset) {
        qCritical() << "Id: " << id << "\r\n"
                    << "ROM response too short! length: " << length;
        return ResultFailure;
    }
    *romStatus = getLe32(buffer + kResponseStatusOffset);
    romStatusSeen = true;
    lastRomStatus = *romStatus;
    return ResultOk;
}

bool RomCmd::takeRomStatus(uint32_t* status) {
    const bool seen = romStatusSeen;
    *status = lastRomStatus;
    romStatusSeen = false;
    return seen;
}

int RomCmd::reportRomError(uint32_t romStatus, const char* idLabel, bool disallowedApplies) {
    const QString text = QString("ROM response failed! status: %1 message: %2")
                             .arg(QString::number(romStatus), statusMessage(int(romStatus)));
    emit signalAddLogs(text, LogCritical);
    qCritical() << idLabel << id << " " << text;
    if (std::find(std::begin(kBootModeStatuses), std::end(kBootModeStatuses), romStatus) !=
        std::end(kBootModeStatuses)) {
        return ResultBootModeFailed;
    }
    if (disallowedApplies && romStatus == kStatusDisallowed) {
        return ResultDisallowed;
    }
    return ResultCommandFailed;
}

int RomCmd::checkResponse(int writeResult) {
    // An abort from the device still comes with a response that decides the outcome.
    if (writeResult != ResultOk && writeResult != ResultAbort) {
        return writeResult;
    }
    uint8_t response[kPacketSize];
    uint32_t romStatus = 0;
    const int result = readResponse(response, &romStatus);
    if (result != ResultOk) {
        return result;
    }
    if (romStatus == 0) {
        return ResultOk;
    }
    return reportRomError(romStatus, "Id: ", true);
}

int RomCmd::finish(const char* finishingText, int result) {
    qInfo() << "Id: " << id << "\r\n"
            << finishingText << result << " message: " << resultMessage(result);
    return result;
}

int RomCmd::queryRte(uint32_t rteId, uint32_t arg) {
    qInfo() << "query rte"
            << " rteId: " << rteId << " arg: " << arg;
    if (!io) {
        return missingTransport();
    }
    uint8_t packet[kPacketSize];
    const uint16_t length = rteId == kRteMemoryAttribute
                                ? buildCommand(packet, CmdQueryRte, kFlagCommand, {rteId, arg})
                                : buildCommand(packet, CmdQueryRte, kFlagCommand, {rteId});
    int result = io->writePacket(packet, length);
    if (result != ResultOk && result != ResultAbort) {
        return result;
    }
    uint32_t romStatus = 0;
    result = readResponse(packet, &romStatus);
    if (result != ResultOk) {
        return result;
    }
    if (romStatus != 0) {
        return reportRomError(romStatus, "id: ", false);
    }
    qInfo() << "Id: " << id << "\r\n"
            << "QueryRTE success. rteId: " << rteId << " arg: " << arg;
    const uint8_t* data = packet + kResponseDataOffset;
    QVariant variant;
    switch (rteId) {
        case 0:
            variant = recordFrom<RomParamInfo>(data);
            break;
        case 1:
            variant = recordFrom<SerialInfParam>(data);
            break;
        case 2:
            variant = recordFrom<CmdStatusInfo>(data);
            break;
        case 3:
            variant = recordFrom<BootStatusInfo>(data);
            break;
        case kRteMemoryAttribute:
            variant = recordFrom<MemoryAttribute>(data);
            break;
        case kRteCommandMask:
            variant = QVariant(uint(getLe32(data)));
            break;
        default:
            break;
    }
    if (!variant.isValid()) {
        qCritical() << "Id: " << id << "\r\n"
                    << "QueryRTE failed. rteId: " << rteId << " arg: " << arg
                    << " status: " << romStatus << " message: " << statusMessage(int(romStatus));
        return ResultFailure;
    }
    emit signalRTEQueried(int(rteId), variant);
    return ResultOk;
}

int RomCmd::configRte(const uint8_t* record, int length) {
    if (!io) {
        return missingTransport();
    }
    if (length < 0 || length % 4 != 0 || length > kMaxConfigRteLength ||
        (record == nullptr && length > 0)) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Config RTE' needs a record of 0 to 1016 bytes in whole words! "
                       "length: "
                    << length;
        return ResultFailure;
    }
    // The fields are shown only from bytes the caller actually handed over.
    SerialInfParam shown;
    std::memset(&shown, 0, sizeof(shown));
    if (length > 0) {
        std::memcpy(&shown, record, std::min<size_t>(size_t(length), sizeof(shown)));
    }
    qInfo() << "config rte"
            << " speed: " << shown.speed << " words: " << uint(shown.words)
            << " periphMask: " << shown.periphMask;

    uint8_t packet[kPacketSize];
    putHeader(packet, CmdConfigRte, uint8_t(length / 4 + 1), kFlagCommand);
    putLe32(packet + kCommandHeaderSize, kRteSerialInterface);
    if (length > 0) {
        std::memcpy(packet + kCommandHeaderSize + 4, record, size_t(length));
    }
    const uint16_t payloadLength = uint16_t(kCommandHeaderSize + 4 + size_t(length));
    const int result = checkResponse(io->writePacket(packet, payloadLength));
    return finish("Cmd 'Config RTE' finished! Status: ", result);
}

int RomCmd::configMemory(uint32_t memoryId, uint32_t address) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Config memory"
            << " id: " << hex8(memoryId) << " address: " << hex8(address);
    uint8_t packet[kPacketSize];
    const uint16_t length =
        buildCommand(packet, CmdConfigMemory, kFlagConfigMemory, {memoryId, address});
    const int result = checkResponse(io->writePacket(packet, length));
    return finish("Cmd 'Config Memory' finished! Status: ", result);
}

int RomCmd::runErase(const uint8_t* payload, uint16_t length, uint64_t timeoutMs) {
    const int saved = io->timeout;
    const bool raise = !fixedTimeout && timeoutMs > uint64_t(std::max(saved, 0));
    if (raise) {
        qInfo() << "set erase time out: " << quint64(timeoutMs) << "ms";
        io->setTimeout(boundedTimeout(timeoutMs));
    }
    const int result = checkResponse(io->writePacket(payload, length));
    if (raise) {
        io->setTimeout(saved);
    }
    return finish("Cmd 'Erase Memory' finished! Status: ", result);
}

int RomCmd::eraseRegion(uint32_t memoryId, uint32_t address, uint32_t length, uint64_t timeoutMs) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Erase memory"
            << " id: " << hex8(memoryId) << " address: " << hex8(address) << " length: " << length;
    uint8_t packet[kPacketSize];
    const uint16_t payloadLength =
        buildCommand(packet, CmdErase, kFlagCommand, {kEraseRegion, memoryId, address, length});
    return runErase(packet, payloadLength, timeoutMs);
}

int RomCmd::eraseAll(uint32_t memoryId, uint64_t timeoutMs) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Erase all memory"
            << " id: " << hex8(memoryId);
    uint8_t packet[kPacketSize];
    const uint16_t payloadLength =
        buildCommand(packet, CmdErase, kFlagCommand, {kEraseWhole, memoryId});
    return runErase(packet, payloadLength, timeoutMs);
}

int RomCmd::resetDevice(uint32_t resetType) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Reset"
            << " resetType: " << resetType;
    uint8_t packet[kPacketSize];
    const uint16_t length = buildCommand(packet, CmdReset, kFlagCommand, {resetType});
    const int result = checkResponse(io->writePacket(packet, length));
    return finish("Cmd 'Reset' finished! Status: ", result);
}

int RomCmd::readMemory(uint32_t memoryId, uint32_t address, uint32_t length, bool isShowLog) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Read memory"
            << " id: " << hex8(memoryId) << " address: " << hex8(address) << " length: " << length;
    if (memoryId == kOtpMemoryId && length % 4 != 0) {
        qWarning() << "OTP only supports quering by multiple of four bytes.";
        return ResultFailure;
    }
    return readData(memoryId, address, length, isShowLog, nullptr);
}

int RomCmd::readMemoryToFile(uint32_t memoryId, uint32_t address, uint32_t length,
                             const QString& filePath) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Read memory to file"
            << " id: " << hex8(memoryId) << " address: " << hex8(address) << " length: " << length
            << " filePath: " << filePath;
    return readData(memoryId, address, length, false, &filePath);
}

int RomCmd::readData(uint32_t memoryId, uint32_t address, uint32_t length, bool isShowLog,
                     const QString* filePath) {
    const bool toFile = filePath != nullptr;
    const char* finishing = toFile ? "Cmd 'Read Memory to File' finished! Status: "
                                   : "Cmd 'Read Memory' finished! Status: ";
    uint8_t packet[kPacketSize];
    const uint16_t commandLength =
        buildCommand(packet, CmdReadMemory, kFlagCommand, {address, length, memoryId});
    int result = io->writePacket(packet, commandLength);
    if (result != ResultOk && result != ResultAbort) {
        return finish(finishing, result);
    }
    uint32_t romStatus = 0;
    result = readResponse(packet, &romStatus);
    if (result != ResultOk) {
        return finish(finishing, result);
    }
    if (romStatus != 0) {
        qCritical() << "Id: " << id << "\r\n"
                    << (toFile ? "Cmd 'Read Memory to File' read package failed! resp status: "
                               : "Cmd 'Read Memory' read package failed! resp status: ")
                    << romStatus << " message: " << statusMessage(int(romStatus));
        return finish(finishing, ResultCommandFailed);
    }

    std::unique_ptr<QFileDevice> file;
    if (toFile) {
        if (DataFile::refuseReadTarget(id, *filePath)) {
            return finish(finishing, ResultOpenFailed);
        }
        file = openReadTarget(*filePath);
        if (!file) {
            qCritical() << "Id: " << id << "\r\n"
                        << "Cmd 'Read Memory to File' open file failed!";
            return finish(finishing, ResultOpenFailed);
        }
    }

    // The console dump goes out in chunks of kChunkSize, the last one shorter.
    int chunkFill = 0;
    const auto dump = [&](const uint8_t* data, uint32_t size, uint32_t soFar) {
        while (size > 0) {
            const uint32_t take = std::min<uint32_t>(uint32_t(kChunkSize - chunkFill), size);
            std::memcpy(chunk + chunkFill, data, take);
            chunkFill += int(take);
            data += take;
            size -= take;
            if (chunkFill == kChunkSize) {
                emit signalMemoryReadProgress(memoryId, address, chunk, kChunkSize, int(length),
                                              int(soFar - size), isShowLog);
                chunkFill = 0;
            }
        }
        return int(ResultOk);
    };
    const auto dumpRest = [&] {
        if (chunkFill > 0) {
            emit signalMemoryReadProgress(memoryId, address, chunk, chunkFill, int(length),
                                          int(length), isShowLog);
        }
    };
    const auto save = [&](const uint8_t* data, uint32_t size, uint32_t soFar) {
        if (file->write(reinterpret_cast<const char*>(data), size) != qint64(size)) {
            qCritical() << "Id: " << id << "\r\n"
                        << "Cmd 'Read Memory to File' write file failed!";
            return int(ResultOpenFailed);
        }
        emit signalMemory2FileReadProgress(int(length), int(soFar));
        return int(ResultOk);
    };
    // A read to file waits through header-only packets for data; the console dump ends at one.
    const ReadSink sink = toFile ? ReadSink{save, [] {}, false} : ReadSink{dump, dumpRest, true};
    result = readPackets(length, sink);
    if (toFile && !closeReadTarget(*file, result == ResultOk) && result == ResultOk) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Read Memory to File' write file failed!";
        result = ResultOpenFailed;
    }
    return finish(finishing, result);
}

int RomCmd::readPackets(uint32_t length, const ReadSink& sink) {
    uint8_t packet[kPacketSize];
    uint32_t remaining = length;
    int result = ResultOk;
    // Header-only packets keep the loop going but are no progress.
    QElapsedTimer sinceData;
    sinceData.start();
    while (remaining != 0) {
        if (Interruption::requested()) {
            result = ResultInterrupted;
            break;
        }
        uint16_t packetLength = 0;
        const int readResult = io->readPacket(packet, &packetLength);
        if (readResult != ResultOk) {
            result = readResult;
            break;
        }
        // The data ends at a packet shorter than its header, and at a header-only packet where
        // the sink takes that as the end.
        const size_t received = std::min<size_t>(packetLength, kPacketSize);
        if (received < kDataHeaderSize || (sink.headerOnlyEnds && received == kDataHeaderSize)) {
            break;
        }
        uint32_t dataLength = uint32_t(received - kDataHeaderSize);
        if (dataLength > 0) {
            sinceData.restart();
        } else if (io->timeout != 0 && sinceData.hasExpired(io->timeout)) {
            qCritical() << "Id: " << id << "\r\n"
                        << "Read timeout! received bytes: " << length - remaining
                        << " requested: " << length;
            result = ResultTimeout;
            break;
        }
        if (dataLength > remaining) {
            qWarning() << "Id: " << id << "\r\n"
                       << "Device sent more data than requested! dropped bytes: "
                       << dataLength - remaining;
            dataLength = remaining;
        }
        remaining -= dataLength;
        result = sink.take(packet + kDataHeaderSize, dataLength, length - remaining);
        if (result != ResultOk) {
            break;
        }
    }
    sink.end();
    if (remaining != 0 && result == ResultOk) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Device ended the data early! received bytes: " << length - remaining
                    << " requested: " << length;
        result = ResultCommandFailed;
    }
    return result;
}

int RomCmd::sendStream(uint8_t command, uint32_t memoryId, uint32_t address, const uint8_t* data,
                       QFile* file, uint64_t length, void (RomCmd::*progress)(int, int)) {
    uint8_t packet[kPacketSize];
    uint64_t sent = 0;
    int result = ResultOk;
    // A write always starts with its command packet, even without data, so the ROM has
    // something to answer.
    bool commandPending = command == CmdWriteMemory;
    while (sent < length || commandPending) {
        if (Interruption::requested()) {
            result = ResultInterrupted;
            break;
        }
        size_t header = kCommandHeaderSize;
        if (commandPending) {
            header =
                buildCommand(packet, command, kFlagCommand, {address, uint32_t(length), memoryId});
        } else {
            putHeader(packet, command, 0, kFlagData);
        }
        const size_t want = size_t(std::min<uint64_t>(kMaxHostPayload - header, length - sent));
        size_t got = want;
        if (file && want > 0) {
            const qint64 n = file->read(reinterpret_cast<char*>(packet + header), qint64(want));
            if (n <= 0) {
                break;
            }
            got = size_t(n);
        } else if (want > 0) {
            std::memcpy(packet + header, data + sent, want);
        }
        result = io->writePacket(packet, uint16_t(header + got));
        if (result != ResultOk) {
            break;
        }
        commandPending = false;
        if (got > 0) {
            sent += got;
            emit(this->*progress)(int(length), int(sent));
        }
    }
    return result;
}

int RomCmd::writeMemory(uint32_t memoryId, uint32_t address, const uint8_t* data, uint32_t length) {
    if (!io) {
        return missingTransport();
    }
    if (data == nullptr && length > 0) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Write Memory' has no data! length: " << length;
        return ResultFailure;
    }
    qInfo() << "Write memory"
            << " id: " << hex8(memoryId) << " address: " << hex8(address) << " length: " << length
            << " buffer: " << bytesAsText(data, length);
    const int result = sendStream(CmdWriteMemory, memoryId, address, data, nullptr, length,
                                  &RomCmd::signalMemoryWriteProgress);
    return finish("Cmd 'Write Memory' finished! Status: ", checkResponse(result));
}

int RomCmd::writeMemoryByFile(uint32_t memoryId, uint32_t address, const QString& filePath) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Write memory by file"
            << " id: " << hex8(memoryId) << " address: " << hex8(address) << " file: " << filePath;
    QFile file;
    const DataFile::Input opened = DataFile::openInput(filePath, &file);
    if (opened == DataFile::Input::OpenFailed) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Write Memory' open file failed!";
        return ResultOpenFailed;
    }
    if (opened == DataFile::Input::NotRegular) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Write Memory' file is not a regular file! file: " << filePath;
        return ResultOpenFailed;
    }
    const qint64 size = file.size();
    if (size <= 0) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Write Memory' file is empty!";
        return ResultOpenFailed;
    }
    // The length travels in a 32-bit parameter.
    if (uint64_t(size) > UINT32_MAX) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Write Memory' file is larger than 4 GiB! size: " << size;
        return ResultFailure;
    }
    const int result = sendStream(CmdWriteMemory, memoryId, address, nullptr, &file, uint64_t(size),
                                  &RomCmd::signalFile2MemoryWriteProgress);
    file.close();
    return finish("Cmd 'Write Memory' finished! Status: ", checkResponse(result));
}

int RomCmd::loadImage(const QString& filePath) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Load image"
            << " filePath: " << filePath;
    QFile file;
    const DataFile::Input opened = DataFile::openInput(filePath, &file);
    if (opened == DataFile::Input::OpenFailed) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Load Image' open file failed!";
        return ResultOpenFailed;
    }
    if (opened == DataFile::Input::NotRegular) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Load Image' file is not a regular file! file: " << filePath;
        return ResultOpenFailed;
    }
    // Without a single data packet the ROM has nothing to answer.
    const qint64 size = file.size();
    if (size <= 0) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Load Image' file is empty!";
        return ResultOpenFailed;
    }
    const int result = sendStream(CmdLoadImage, 0, 0, nullptr, &file, uint64_t(size),
                                  &RomCmd::signalImageLoadProgress);
    file.close();
    return finish("Cmd 'Load Image' finished! Status: ", checkResponse(result));
}

int RomCmd::sendVerify(uint32_t memoryId, uint32_t address, uint32_t length,
                       const uint8_t* digest) {
    uint8_t packet[kPacketSize];
    const uint16_t header = buildCommand(
        packet, CmdVerifyChecksum, kFlagCommand,
        {address, length, memoryId, kDigestAlgorithmSha256, kDigestLength, 0, 0, 0, 0, 0, 0, 0, 0});
    const size_t digestOffset = header - kDigestLength;
    std::memcpy(packet + digestOffset, digest, kDigestLength);
    const int result = checkResponse(io->writePacket(packet, header));
    return finish("Cmd 'Verify Checksum' finished! Status: ", result);
}

int RomCmd::verifyChecksum(uint32_t memoryId, uint32_t address, const uint8_t* data,
                           uint32_t length) {
    if (!io) {
        return missingTransport();
    }
    if (data == nullptr && length > 0) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Verify Checksum' has no data! length: " << length;
        return ResultFailure;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    // addData takes an int length.
    constexpr uint32_t kBlock = 1u << 30;
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min(kBlock, length - done);
        hash.addData(reinterpret_cast<const char*>(data + done), int(n));
        done += n;
    }
    const QByteArray digest = hash.result();
    return sendVerify(memoryId, address, length, reinterpret_cast<const uint8_t*>(digest.data()));
}

int RomCmd::verifyChecksumByFile(uint32_t memoryId, uint32_t address, const QString& filePath,
                                 uint64_t length) {
    if (!io) {
        return missingTransport();
    }
    qInfo() << "Verify checksum by file"
            << " id: " << hex8(memoryId) << " address: " << hex8(address) << " file: " << filePath
            << " file length: " << quint64(length);
    QFile file;
    const DataFile::Input opened = DataFile::openInput(filePath, &file);
    if (opened == DataFile::Input::OpenFailed) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Verify Checksum' open file failed!";
        return ResultOpenFailed;
    }
    if (opened == DataFile::Input::NotRegular) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Verify Checksum' file is not a regular file! file: " << filePath;
        return ResultOpenFailed;
    }
    const uint64_t size = uint64_t(std::max<qint64>(file.size(), 0));
    // A verification of nothing would pass whatever the memory holds.
    if (size == 0) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Verify Checksum' file is empty!";
        return ResultOpenFailed;
    }
    if (length == 0) {
        length = size;
    }
    // A digest over fewer bytes than the device compares could never match.
    if (length > size) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Verify Checksum' length is beyond the end of the file! length: "
                    << quint64(length) << " file size: " << quint64(size);
        return ResultFailure;
    }
    if (length > UINT32_MAX) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Verify Checksum' length is larger than 4 GiB! length: "
                    << quint64(length);
        return ResultFailure;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char block[kMaxHostPayload];
    uint64_t done = 0;
    while (done < length) {
        const qint64 n = file.read(block, qint64(std::min<uint64_t>(sizeof(block), length - done)));
        if (n <= 0) {
            break;
        }
        hash.addData(block, int(n));
        done += uint64_t(n);
    }
    file.close();
    if (done != length) {
        qCritical() << "Id: " << id << "\r\n"
                    << "Cmd 'Verify Checksum' read file failed! read bytes: " << quint64(done)
                    << " length: " << quint64(length);
        return ResultOpenFailed;
    }
    const QByteArray digest = hash.result();
    return sendVerify(memoryId, address, uint32_t(length),
                      reinterpret_cast<const uint8_t*>(digest.data()));
}

QString RomCmd::statusMessage(int status) {
    return lookupStatusMessage(status);
}

QString RomCmd::resultMessage(int code) {
    return lookupResultMessage(code);
}

QStringList RomCmd::usbDevicePaths(uint16_t vid, uint16_t pid) {
    return HidIO::devicePaths(vid, pid);
}

}  // namespace RomCmd
