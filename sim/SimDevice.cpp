#include "sim/SimDevice.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cstring>

#include "tools/ImageFormat.h"
#include "transport/Framing.h"

namespace RomCmd {
namespace Sim {

namespace {

using ImageFormat::readLe32;

// Deliberately a copy of the host's command codes and flags: the device is an independent
// model of the ROM, so a wrong code on the host side is refused here instead of mirrored.
constexpr uint8_t kCmdQueryRte = 1;
constexpr uint8_t kCmdConfigRte = 2;
constexpr uint8_t kCmdConfigMemory = 3;
constexpr uint8_t kCmdWrite = 4;
constexpr uint8_t kCmdRead = 5;
constexpr uint8_t kCmdLoadImage = 6;
constexpr uint8_t kCmdErase = 7;
constexpr uint8_t kCmdReset = 8;
constexpr uint8_t kCmdVerify = 10;

constexpr uint8_t kFlagsCommand = 0x00;
constexpr uint8_t kFlagsData = 0x01;
constexpr uint8_t kFlagsConfigMemory = 0x02;

constexpr uint32_t kOtpId = 0x20000;
constexpr uint8_t kReadFiller = 0xEE;  // bytes served past the end of a memory

void appendLe32(std::vector<uint8_t>* out, uint32_t v) {
    uint8_t b[4];
    ImageFormat::writeLe32(b, v);
    out->insert(out->end(), b, b + 4);
}

uint32_t param(const uint8_t* p, int index) {
    return readLe32(p + 4 + 4 * index);
}

}  // namespace

std::vector<MemoryLayout> defaultMemoryMap() {
    MemoryLayout ram;
    ram.id = 0;
    ram.kind = MemoryKind::Ram;
    ram.memoryType = 1;
    ram.unitShift = 10;
    ram.unitCount = 256;
    ram.start = 0x20000000;

    MemoryLayout flash;
    flash.id = 1;
    flash.kind = MemoryKind::Flash;
    flash.memoryType = 8;
    flash.unitShift = 12;
    flash.unitCount = 512;
    flash.start = 0x08000000;
    flash.pageSize = 256;
    flash.sectorSize = 4096;
    flash.blockSize = 65536;

    MemoryLayout otp;
    otp.id = kOtpId;
    otp.kind = MemoryKind::Otp;
    otp.memoryType = 2;
    otp.unitShift = 2;
    otp.unitCount = 64;
    otp.start = 0;
    return {ram, flash, otp};
}

SimDevice::SimDevice(DeviceConfig cfg) : config(std::move(cfg)) {
    runningFirmware = config.firmwareRunning;
    for (const MemoryLayout& layout : config.memories) {
        Memory m;
        m.layout = layout;
        m.data.assign(size_t(layout.size()), layout.kind == MemoryKind::Flash ? 0xFF : 0x00);
        memories.push_back(std::move(m));
    }
}

uint32_t SimDevice::currentRomVersion() const {
    return runningFirmware ? config.firmwareVersion : config.romVersion;
}

SimDevice::Memory* SimDevice::findMemory(uint32_t id) {
    for (Memory& m : memories) {
        if (m.layout.id == id) {
            return &m;
        }
    }
    return nullptr;
}

const SimDevice::Memory* SimDevice::findMemory(uint32_t id) const {
    return const_cast<SimDevice*>(this)->findMemory(id);
}

uint32_t SimDevice::checkRange(const Memory& m, uint32_t address, uint32_t length) const {
    if (address < m.layout.start || uint64_t(address - m.layout.start) + length > m.data.size()) {
        return StatusInvalidMemoryRange;
    }
    return StatusSuccess;
}

bool SimDevice::peek(uint32_t memoryId, uint32_t address, uint32_t length,
                     std::vector<uint8_t>* out) const {
    const Memory* m = findMemory(memoryId);
    if (!m || checkRange(*m, address, length) != StatusSuccess) {
        return false;
    }
    auto begin = m->data.begin() + (address - m->layout.start);
    out->assign(begin, begin + length);
    return true;
}

Outcome SimDevice::finish(uint8_t code, uint32_t status, uint8_t ack) {
    lastCmd = code;
    lastStat = status;
    Outcome o;
    o.ack = ack;
    o.respond = true;
    o.response = {code, 0, 0, 0};
    appendLe32(&o.response, status);
    return o;
}

Outcome SimDevice::finishData(uint8_t code, const std::vector<uint8_t>& data) {
    Outcome o = finish(code, StatusSuccess);
    o.response.insert(o.response.end(), data.begin(), data.end());
    return o;
}

void SimDevice::abortTransfer() {
    transfer = Transfer::None;
    xferRemaining = 0;
    imageData_.clear();
    imageData_.shrink_to_fit();
}

void SimDevice::returnToBus(Outcome::After reason) {
    abortTransfer();
    if (reason == Outcome::After::FirmwareStarted) {
        runningFirmware = !config.firmwareFails;
        return;
    }
    runningFirmware = false;
    for (Memory& m : memories) {
        m.configured = false;
        if (m.layout.kind == MemoryKind::Ram) {
            std::fill(m.data.begin(), m.data.end(), 0);
        }
    }
}

Outcome SimDevice::handlePacket(const uint8_t* p, size_t n) {
    if (n < 4) {
        abortTransfer();
        return finish(n > 0 ? p[0] : 0, StatusInvalidArguments);
    }
    const uint8_t code = p[0];
    const uint8_t flags = p[2];
    if (flags == kFlagsData) {
        if (code == kCmdLoadImage) {
            return imageData(p, n);
        }
        if (code == kCmdWrite && transfer == Transfer::Write) {
            return writeData(p, n);
        }
        abortTransfer();
        return finish(code, StatusInvalidArguments, Framing::kAckAborted);
    }

    abortTransfer();
    if (code >= 32 || !(config.commandMask & (1u << code))) {
        return finish(code, StatusUnknownCommand);
    }
    uint32_t forced = 0;
    bool isForced = false;
    auto once = forcedOnce.find(code);
    if (once != forcedOnce.end()) {
        forced = once->second;
        isForced = true;
        forcedOnce.erase(once);
    } else if (config.forcedStatus.count(code)) {
        forced = config.forcedStatus.at(code);
        isForced = true;
    }
    if (isForced) {
        // A refused multi-packet write is aborted so the host stops sending and reads the answer.
        const bool moreData = code == kCmdWrite && n >= 16 && param(p, 1) > n - 16;
        return finish(code, forced, moreData ? Framing::kAckAborted : Framing::kAckAccepted);
    }
    switch (code) {
        case kCmdQueryRte:
            return queryRte(p, n);
        case kCmdConfigRte:
            return configRte(p, n);
        case kCmdConfigMemory:
            return configMemory(p, n);
        case kCmdWrite:
            return writeFirst(p, n);
        case kCmdRead:
            return readMemory(p, n);
        case kCmdErase:
            return erase(p, n);
        case kCmdReset:
            return reset(p, n);
        case kCmdVerify:
            return verify(p, n);
        default:
            // Load-image starts with a data packet; a command packet of code 6 or any code
            // without an implementation is not understood.
            return finish(code, StatusUnknownCommand);
    }
}

Outcome SimDevice::queryRte(const uint8_t* p, size_t n) {
    const uint8_t count = p[1];
    if (p[2] != kFlagsCommand || p[3] != 0 || count < 1 || n != 4 + 4 * size_t(count)) {
        return finish(kCmdQueryRte, StatusInvalidArguments);
    }
    const uint32_t item = param(p, 0);
    if (item > 5 || (item == 4) != (count == 2) || count > 2) {
        return finish(kCmdQueryRte, StatusInvalidArguments);
    }
    std::vector<uint8_t> data;
    switch (item) {
        case 0:
            appendLe32(&data, currentRomVersion());
            appendLe32(&data, config.socRevision);
            data.insert(data.end(), {config.lifeCycle, 0, 0, 0});
            appendLe32(&data, config.capabilities);
            break;
        case 1:
            data.insert(data.end(), {3, 0, 0, 0});
            appendLe32(&data, config.periphMask);
            appendLe32(&data, config.speed);
            data.resize(24, 0);
            break;
        case 2:
            // The previous command: this query becomes the last command once answered.
            data.insert(data.end(), {lastCmd, 0, 0, 0});
            appendLe32(&data, lastStat);
            data.resize(24, 0);
            break;
        case 3:
            data.insert(data.end(), {config.bootMode, 0, 0, 0});
            appendLe32(&data, config.bootDevice);
            appendLe32(&data, config.bootStatus);
            break;
        case 4: {
            const Memory* m = findMemory(param(p, 1));
            if (!m) {
                return finish(kCmdQueryRte, StatusInvalidMemoryId);
            }
            const MemoryLayout& s = m->layout;
            data.insert(data.end(), {s.memoryType, s.unitShift, 0, 0});
            appendLe32(&data, s.id);
            appendLe32(&data, s.start);
            appendLe32(&data, uint32_t(s.start + s.size() - 1));
            appendLe32(&data, s.unitCount);
            appendLe32(&data, s.pageSize);
            appendLe32(&data, s.sectorSize);
            appendLe32(&data, s.blockSize);
            break;
        }
        default:
            appendLe32(&data, config.commandMask);
            break;
    }
    return finishData(kCmdQueryRte, data);
}

Outcome SimDevice::configRte(const uint8_t* p, size_t n) {
    const uint8_t count = p[1];
    if (p[2] != kFlagsCommand || p[3] != 0 || count < 2 || n != 4 + 4 * size_t(count)) {
        return finish(kCmdConfigRte, StatusInvalidArguments);
    }
    const uint32_t item = param(p, 0);
    if (item != 1) {
        return finish(kCmdConfigRte, item <= 5 ? StatusReadOnlyItem : StatusInvalidArguments);
    }
    const uint8_t* record = p + 8;
    const uint8_t words = record[0];
    if (words < 1 || words > count - 1 || record[1] || record[2] || record[3]) {
        return finish(kCmdConfigRte, StatusInvalidArguments);
    }
    uint32_t periph = config.periphMask;
    uint32_t speed = config.speed;
    if (words >= 2) {
        periph = readLe32(record + 4);
    }
    if (words >= 3) {
        speed = readLe32(record + 8);
    }
    if ((periph != 0x1 && periph != 0x10) || speed < 1200 || speed > 4000000) {
        return finish(kCmdConfigRte, StatusInvalidArguments);
    }
    config.periphMask = periph;
    config.speed = speed;
    return finish(kCmdConfigRte, StatusSuccess);
}

Outcome SimDevice::configMemory(const uint8_t* p, size_t n) {
    if (p[1] != 2 || p[2] != kFlagsConfigMemory || p[3] != 0 || n != 12) {
        return finish(kCmdConfigMemory, StatusInvalidArguments);
    }
    Memory* m = findMemory(param(p, 0));
    if (!m) {
        return finish(kCmdConfigMemory, StatusInvalidMemoryId);
    }
    if (m->layout.kind != MemoryKind::Flash) {
        return finish(kCmdConfigMemory, StatusSuccess);
    }
    // The configuration block is read from RAM.
    const uint32_t block = param(p, 1);
    const Memory* ram = nullptr;
    for (const Memory& candidate : memories) {
        if (candidate.layout.kind == MemoryKind::Ram && checkRange(candidate, block, 4) == 0) {
            ram = &candidate;
        }
    }
    if (!ram) {
        return finish(kCmdConfigMemory, StatusInvalidMemoryRange);
    }
    if (block % 4 != 0) {
        return finish(kCmdConfigMemory, StatusUnaligned);
    }
    m->configured = true;
    return finish(kCmdConfigMemory, StatusSuccess);
}

uint32_t SimDevice::storeBytes(Memory& m, uint32_t address, const uint8_t* data, size_t length) {
    uint8_t* target = m.data.data() + (address - m.layout.start);
    if (m.layout.kind != MemoryKind::Ram) {
        // Flash programs only erased bytes; OTP words are written once.
        const uint8_t blank = m.layout.kind == MemoryKind::Flash ? 0xFF : 0x00;
        for (size_t i = 0; i < length; ++i) {
            if (target[i] != blank) {
                return StatusProgramFailed;
            }
        }
    }
    std::memcpy(target, data, length);
    return StatusSuccess;
}

Outcome SimDevice::writeFirst(const uint8_t* p, size_t n) {
    if (p[1] != 3 || p[3] != 0 || n < 16) {
        return finish(kCmdWrite, StatusInvalidArguments);
    }
    const uint32_t address = param(p, 0);
    const uint32_t length = param(p, 1);
    const size_t inFirst = n - 16;
    const uint8_t failAck = length > inFirst ? Framing::kAckAborted : Framing::kAckAccepted;
    if (inFirst > length) {
        return finish(kCmdWrite, StatusInvalidArguments, failAck);
    }
    Memory* m = findMemory(param(p, 2));
    if (!m) {
        return finish(kCmdWrite, StatusInvalidMemoryId, failAck);
    }
    if (secure()) {
        return finish(kCmdWrite, StatusWriteDisallowed, failAck);
    }
    if (uint32_t s = checkRange(*m, address, length)) {
        return finish(kCmdWrite, s, failAck);
    }
    if (m->layout.kind == MemoryKind::Flash && !m->configured) {
        return finish(kCmdWrite, StatusWriteBeforeConfig, failAck);
    }
    if (m->layout.kind == MemoryKind::Otp && (address % 4 || length % 4)) {
        return finish(kCmdWrite, StatusUnaligned, failAck);
    }
    if (uint32_t s = storeBytes(*m, address, p + 16, inFirst)) {
        return finish(kCmdWrite, s, failAck);
    }
    if (inFirst == length) {
        return finish(kCmdWrite, StatusSuccess);
    }
    transfer = Transfer::Write;
    xferMemory = m->layout.id;
    xferAddress = address + uint32_t(inFirst);
    xferRemaining = length - uint32_t(inFirst);
    return Outcome{};
}

Outcome SimDevice::writeData(const uint8_t* p, size_t n) {
    const size_t count = n - 4;
    Memory* m = findMemory(xferMemory);
    if (p[1] != 0 || p[3] != 0 || count == 0 || count > xferRemaining || !m) {
        abortTransfer();
        return finish(kCmdWrite, StatusInvalidArguments, Framing::kAckAborted);
    }
    if (uint32_t s = storeBytes(*m, xferAddress, p + 4, count)) {
        abortTransfer();
        return finish(kCmdWrite, s, Framing::kAckAborted);
    }
    xferAddress += uint32_t(count);
    xferRemaining -= uint32_t(count);
    if (xferRemaining == 0) {
        abortTransfer();
        return finish(kCmdWrite, StatusSuccess);
    }
    return Outcome{};
}

Outcome SimDevice::readMemory(const uint8_t* p, size_t n) {
    if (p[1] != 3 || p[2] != kFlagsCommand || p[3] != 0 || n != 16) {
        return finish(kCmdRead, StatusInvalidArguments);
    }
    const uint32_t address = param(p, 0);
    const uint32_t length = param(p, 1);
    const Memory* m = findMemory(param(p, 2));
    if (!m) {
        return finish(kCmdRead, StatusInvalidMemoryId);
    }
    if (uint32_t s = checkRange(*m, address, length)) {
        return finish(kCmdRead, s);
    }
    if (secure()) {
        return finish(kCmdRead, StatusReadDisallowed);
    }
    if (m->layout.kind == MemoryKind::Otp && (address % 4 || length % 4)) {
        return finish(kCmdRead, StatusUnaligned);
    }
    Outcome o = finish(kCmdRead, StatusSuccess);
    if (length > 0) {
        transfer = Transfer::Read;
        xferMemory = m->layout.id;
        xferAddress = address;
        xferRemaining = length;
        o.readFollows = true;
    }
    return o;
}

bool SimDevice::nextReadPacket(std::vector<uint8_t>* packet, size_t maxPayload,
                               size_t extraOnLast) {
    const Memory* m = findMemory(xferMemory);
    if (transfer != Transfer::Read || !m || maxPayload <= 4) {
        return false;
    }
    const uint32_t chunk = uint32_t(std::min<size_t>(xferRemaining, maxPayload - 4));
    const bool last = chunk == xferRemaining;
    packet->assign({kCmdRead, 0, 1, 0});
    auto begin = m->data.begin() + (xferAddress - m->layout.start);
    packet->insert(packet->end(), begin, begin + chunk);
    if (last) {
        packet->resize(packet->size() + extraOnLast, kReadFiller);
    }
    xferAddress += chunk;
    xferRemaining -= chunk;
    if (xferRemaining == 0) {
        transfer = Transfer::None;
    }
    return true;
}

Outcome SimDevice::imageData(const uint8_t* p, size_t n) {
    const uint8_t* data = p + 4;
    const size_t count = n - 4;
    if (p[1] != 0 || p[3] != 0 || count == 0) {
        abortTransfer();
        return finish(kCmdLoadImage, StatusInvalidArguments, Framing::kAckAborted);
    }
    if (transfer != Transfer::Image) {
        abortTransfer();
        if (config.forcedStatus.count(kCmdLoadImage) || forcedOnce.count(kCmdLoadImage)) {
            auto once = forcedOnce.find(kCmdLoadImage);
            uint32_t status =
                once != forcedOnce.end() ? once->second : config.forcedStatus.at(kCmdLoadImage);
            if (once != forcedOnce.end()) {
                forcedOnce.erase(once);
            }
            return finish(kCmdLoadImage, status, Framing::kAckAborted);
        }
        ImageFormat::Header h;
        const Memory* m = nullptr;
        bool good = ImageFormat::decodeHeader(data, count, &h) && count <= h.totalSize;
        if (good) {
            m = findMemory(h.loadMemory);
            const uint32_t dataSize = h.totalSize - uint32_t(ImageFormat::kHeaderSize);
            good = m && m->layout.kind == MemoryKind::Ram &&
                   checkRange(*m, h.loadAddress, dataSize) == StatusSuccess &&
                   checkRange(*m, h.entry, 1) == StatusSuccess;
        }
        if (!good) {
            return finish(kCmdLoadImage, StatusInvalidArgument, Framing::kAckAborted);
        }
        transfer = Transfer::Image;
        imageTotal = h.totalSize;
        imageFlags = h.flags;
        imageMemory = h.loadMemory;
        imageAddress = h.loadAddress;
        imageCrc = h.dataCrc;
        imageReceived = uint32_t(count);
        imageData_.assign(data + ImageFormat::kHeaderSize, data + count);
    } else {
        if (count > imageTotal - imageReceived) {
            abortTransfer();
            return finish(kCmdLoadImage, StatusInvalidArgument, Framing::kAckAborted);
        }
        imageData_.insert(imageData_.end(), data, data + count);
        imageReceived += uint32_t(count);
    }
    if (imageReceived < imageTotal) {
        return Outcome{};
    }
    const uint16_t crc = Crc16Xmodem::compute(imageData_.data(), imageData_.size());
    Memory* m = findMemory(imageMemory);
    if (crc != imageCrc || !m) {
        abortTransfer();
        return finish(kCmdLoadImage, StatusChecksumMismatch);
    }
    std::copy(imageData_.begin(), imageData_.end(),
              m->data.begin() + (imageAddress - m->layout.start));
    const bool firmware = imageFlags & ImageFormat::kFlagBootLoaderFirmware;
    abortTransfer();
    Outcome o = finish(kCmdLoadImage, StatusSuccess);
    if (firmware) {
        o.after = Outcome::After::FirmwareStarted;
    }
    return o;
}

Outcome SimDevice::erase(const uint8_t* p, size_t n) {
    const uint8_t count = p[1];
    if (p[2] != kFlagsCommand || p[3] != 0 || (count != 2 && count != 4) ||
        n != 4 + 4 * size_t(count)) {
        return finish(kCmdErase, StatusInvalidArguments);
    }
    const uint32_t mode = param(p, 0);
    if ((mode == 0 && count != 4) || (mode == 1 && count != 2) || mode > 1) {
        return finish(kCmdErase, StatusInvalidArguments);
    }
    Memory* m = findMemory(param(p, 1));
    if (!m) {
        return finish(kCmdErase, StatusInvalidMemoryId);
    }
    if (secure()) {
        return finish(kCmdErase, StatusWriteDisallowed);
    }
    if (m->layout.kind != MemoryKind::Flash) {
        return finish(kCmdErase, StatusUnsupportedMemoryCommand);
    }
    if (!m->configured) {
        return finish(kCmdErase, StatusWriteBeforeConfig);
    }
    uint32_t address = m->layout.start;
    uint32_t length = uint32_t(m->data.size());
    if (mode == 0) {
        address = param(p, 2);
        length = param(p, 3);
        if (length == 0) {
            return finish(kCmdErase, StatusInvalidArguments);
        }
        if (uint32_t s = checkRange(*m, address, length)) {
            return finish(kCmdErase, s);
        }
        const uint32_t sector = std::max<uint32_t>(m->layout.sectorSize, 1);
        if ((address - m->layout.start) % sector || length % sector) {
            return finish(kCmdErase, StatusUnaligned);
        }
    }
    auto begin = m->data.begin() + (address - m->layout.start);
    std::fill(begin, begin + length, 0xFF);
    return finish(kCmdErase, StatusSuccess);
}

Outcome SimDevice::reset(const uint8_t* p, size_t n) {
    // Known reset types are 0 and 1; both reboot into the ROM.
    if (p[1] != 1 || p[2] != kFlagsCommand || p[3] != 0 || n != 8 || param(p, 0) > 1) {
        return finish(kCmdReset, StatusInvalidArguments);
    }
    Outcome o = finish(kCmdReset, StatusSuccess);
    o.after = Outcome::After::Reset;
    return o;
}

Outcome SimDevice::verify(const uint8_t* p, size_t n) {
    if (p[1] != 13 || p[2] != kFlagsCommand || p[3] != 0 || n != 56) {
        return finish(kCmdVerify, StatusInvalidArguments);
    }
    const uint32_t address = param(p, 0);
    const uint32_t length = param(p, 1);
    // Algorithm 1 is SHA-256 with its 32-byte digest.
    if (param(p, 3) != 1 || param(p, 4) != 32) {
        return finish(kCmdVerify, StatusInvalidArguments);
    }
    const Memory* m = findMemory(param(p, 2));
    if (!m) {
        return finish(kCmdVerify, StatusInvalidMemoryId);
    }
    if (uint32_t s = checkRange(*m, address, length)) {
        return finish(kCmdVerify, s);
    }
    const char* begin = reinterpret_cast<const char*>(m->data.data()) + (address - m->layout.start);
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromRawData(begin, int(length)),
                                                       QCryptographicHash::Sha256);
    if (std::memcmp(digest.constData(), p + 24, 32) != 0) {
        return finish(kCmdVerify, StatusChecksumMismatch);
    }
    return finish(kCmdVerify, StatusSuccess);
}

}  // namespace Sim
}  // namespace RomCmd
