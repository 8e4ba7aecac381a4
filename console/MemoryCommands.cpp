#include <QFileInfo>
#include <QtDebug>
#include <vector>

#include "console/CommandParameters.h"
#include "console/RomConsoleMode.h"
#include "transport/ResultCode.h"

namespace RomCmd {

namespace {

constexpr uint64_t kEraseMsPerMb = 10000;

bool isWordArray(const QString& token) {
    return token.contains(QLatin1String("[[")) && token.contains(QLatin1String("]]"));
}

// The text between the leading "[[" and the trailing "]]".
QString wordArrayInner(const QString& token) {
    return token.mid(2, token.size() - 4);
}

// Words go out least significant byte first. The buffer grows with the array, so arrays of
// any length are sent whole rather than cut at a fixed size.
bool parseWordArray(const QString& inner, std::vector<uint8_t>* buffer) {
    const QStringList parts = inner.split(QLatin1Char(','));
    buffer->clear();
    buffer->reserve(size_t(parts.size()) * 4);
    for (const QString& part : parts) {
        bool ok = false;
        const uint32_t word = part.toUInt(&ok, 16);
        if (!ok) {
            qCritical() << "Parameter is not a number! value: " << part;
            return false;
        }
        for (int shift = 0; shift < 32; shift += 8) {
            buffer->push_back(uint8_t(word >> shift));
        }
    }
    return true;
}

}  // namespace

uint32_t RomConsoleMode::parseNumber(const QString& text, bool* ok) {
    const uint32_t value = text.toUInt(ok, 10);
    return *ok ? value : text.toUInt(ok, 16);
}

bool RomConsoleMode::cmdConfigMemory(const QStringList& tokens) {
    uint32_t memoryId = 0;
    uint32_t address = 0;
    if (!hasTokenCount(tokens, 3) ||
        !tokenToUInt(tokens.at(1), 16, "Parameter 'MemoryId' is not a number!", &memoryId) ||
        !tokenToUInt(tokens.at(2), 16, "Parameter 'Address' is not a number!", &address)) {
        return false;
    }
    const int status = noted(romCmd->configMemory(memoryId, address));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Config Memory failed!"
                                         << " memoryId: " << memoryId << " address: " << address,
                             status);
    }
    return true;
}

bool RomConsoleMode::cmdReadMemory(const QStringList& tokens) {
    uint32_t memoryId = 0;
    uint32_t address = 0;
    uint32_t length = 0;
    if (!hasAtLeastTokens(tokens, 4) ||
        !tokenToUInt(tokens.at(1), 16, "Parameter 'Memory' is not a number!", &memoryId) ||
        !tokenToUInt(tokens.at(2), 16, "Parameter 'Address' is not a number!", &address) ||
        !tokenToNumber(tokens.at(3), "Parameter 'Length' is not a number!", &length)) {
        return false;
    }
    if (tokens.size() == 4) {
        const int status = noted(romCmd->readMemory(memoryId, address, length, false));
        // The run reports an interruption once; the stopped command adds no line of its own.
        if (status == ResultInterrupted) {
            return false;
        }
        if (status != 0) {
            return reportFailure(qCritical() << "Read Memory failed!"
                                             << " memoryId: " << memoryId << " address: " << address
                                             << " length: " << length,
                                 status);
        }
        return true;
    }
    const QString& path = tokens.at(4);
    runRecord.noteFile(path, true);
    const int status = noted(romCmd->readMemoryToFile(memoryId, address, length, path));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Read Memory failed!"
                                         << " memoryId: " << memoryId << " address: " << address
                                         << " length: " << length << " filePath: " << path,
                             status);
    }
    return true;
}

namespace {

// Shared by write-memory and verify-checksum: they differ only in the engine calls and the
// failure text.
template <typename BufferCall, typename FileCall>
bool runDataCommand(const QStringList& tokens, const char* failureText, BufferCall bufferCall,
                    FileCall fileCall) {
    uint32_t memoryId = 0;
    uint32_t address = 0;
    if (!hasTokenCount(tokens, 4) ||
        !tokenToUInt(tokens.at(1), 16, "Parameter 'Memory' is not a number!", &memoryId) ||
        !tokenToUInt(tokens.at(2), 16, "Parameter 'Address' is not a number!", &address)) {
        return false;
    }
    const QString& data = tokens.at(3);
    if (isWordArray(data)) {
        const QString inner = wordArrayInner(data);
        std::vector<uint8_t> buffer;
        if (!parseWordArray(inner, &buffer)) {
            return false;
        }
        const int status = bufferCall(memoryId, address, buffer.data(), uint32_t(buffer.size()));
        if (status == ResultInterrupted) {
            return false;
        }
        if (status != 0) {
            return reportFailure(qCritical() << failureText << " memoryId: " << memoryId
                                             << " address: " << address << " buffer: " << inner,
                                 status);
        }
        return true;
    }
    if (!QFileInfo::exists(data)) {
        qCritical() << "Parameter 'path' is not exist!"
                    << " Path: " << data;
        return false;
    }
    const int status = fileCall(memoryId, address, data);
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << failureText << " memoryId: " << memoryId
                                         << " address: " << address << " file path: " << data,
                             status);
    }
    return true;
}

}  // namespace

bool RomConsoleMode::cmdWriteMemory(const QStringList& tokens) {
    return runDataCommand(
        tokens, "Write memory failed!",
        [this](uint32_t id, uint32_t address, const uint8_t* data, uint32_t length) {
            return noted(romCmd->writeMemory(id, address, data, length));
        },
        [this](uint32_t id, uint32_t address, const QString& path) {
            runRecord.noteFile(path, false);
            return noted(romCmd->writeMemoryByFile(id, address, path));
        });
}

bool RomConsoleMode::cmdVerifyChecksum(const QStringList& tokens) {
    return runDataCommand(
        tokens, "Verify checksum failed!",
        [this](uint32_t id, uint32_t address, const uint8_t* data, uint32_t length) {
            return noted(romCmd->verifyChecksum(id, address, data, length));
        },
        [this](uint32_t id, uint32_t address, const QString& path) {
            runRecord.noteFile(path, false);
            return noted(romCmd->verifyChecksumByFile(id, address, path, 0));
        });
}

bool RomConsoleMode::cmdEraseRegion(const QStringList& tokens) {
    uint32_t memoryId = 0;
    uint32_t address = 0;
    uint32_t length = 0;
    if (!hasTokenCount(tokens, 4) ||
        !tokenToUInt(tokens.at(1), 16, "Parameter 'MemoryId' is not a number!", &memoryId) ||
        !tokenToUInt(tokens.at(2), 16, "Parameter 'Address' is not a number!", &address) ||
        !tokenToNumber(tokens.at(3), "Parameter 'Length' is not a number!", &length)) {
        return false;
    }
    qInfo() << "current flash size: " << memorySizeMb << "Mbytes";
    const int status =
        noted(romCmd->eraseRegion(memoryId, address, length, memorySizeMb * kEraseMsPerMb));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Erase all failed!"
                                         << " memoryId: " << memoryId << " address: " << address
                                         << " length: " << length,
                             status);
    }
    return true;
}

bool RomConsoleMode::cmdEraseChip(const QStringList& tokens) {
    uint32_t memoryId = 0;
    if (!hasTokenCount(tokens, 2) ||
        !tokenToUInt(tokens.at(1), 16, "Parameter 'MemoryId' is not a number!", &memoryId)) {
        return false;
    }
    qInfo() << "current flash size: " << memorySizeMb << "Mbytes";
    const int status = noted(romCmd->eraseAll(memoryId, memorySizeMb * kEraseMsPerMb));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Erase all failed!"
                                         << " memoryId: " << memoryId,
                             status);
    }
    return true;
}

bool RomConsoleMode::cmdLoadImage(const QStringList& tokens) {
    if (!hasTokenCount(tokens, 2)) {
        return false;
    }
    const QString& path = tokens.at(1);
    const QFileInfo info(path);
    if (!info.exists()) {
        qCritical() << "File is not exist!"
                    << " File Path:" << path;
        return false;
    }
    if (info.size() == 0) {
        qCritical() << "File is empty!"
                    << " File Path:" << path;
        return false;
    }
    runRecord.noteFile(path, false);
    const int status = noted(romCmd->loadImage(path));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Load image failed!"
                                         << " file path: " << path,
                             status);
    }
    return true;
}

}  // namespace RomCmd
