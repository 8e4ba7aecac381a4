#pragma once

#include <memory>

#include "romcmd/RomCmd.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <algorithm>
#include <cstring>

#include "transport/DeviceIO.h"

namespace RomCmd {
namespace Test {

// Transport double: answers from scripts and records everything the engine hands it.
class FakeDeviceIO : public DeviceIO {
public:
    struct Reply {
        int result;
        QByteArray payload;
    };

    int writePacket(const uint8_t* payload, uint16_t length) override {
        written << QByteArray(reinterpret_cast<const char*>(payload), length);
        timeoutAtWrite << timeout;
        return status = writeResults.isEmpty() ? 0 : writeResults.takeFirst();
    }

    // Writes only the reply's bytes, so anything else the engine sees is its own.
    int readPacket(uint8_t* buffer, uint16_t* length) override {
        ++reads;
        if (replies.isEmpty()) {
            return status = 4;
        }
        const Reply reply = replies.takeFirst();
        if (reply.result != 0) {
            return status = reply.result;
        }
        // A length above the buffer is reported as is, to see the engine bound it.
        std::memcpy(buffer, reply.payload.constData(),
                    std::min<size_t>(size_t(reply.payload.size()), kBufferSize));
        *length = uint16_t(reply.payload.size());
        return status = 0;
    }

    void setTimeout(int milliseconds) override {
        timeoutCalls << milliseconds;
        timeout = milliseconds;
    }

    int readAck() override { return 0; }
    static constexpr size_t kBufferSize = 1024;
    int sendResponse(uint8_t) override { return 0; }

    QStringList writtenHex() const {
        QStringList out;
        for (const QByteArray& packet : written) {
            out << QString::fromLatin1(packet.toHex());
        }
        return out;
    }

    QList<int> writeResults;
    QList<Reply> replies;
    QList<QByteArray> written;
    QList<int> timeoutAtWrite;
    QList<int> timeoutCalls;
    int reads = 0;
};

inline QByteArray le32(uint32_t v) {
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i) {
        out[i] = char(v >> (8 * i));
    }
    return out;
}

// A command response: 4-byte header, status, then data.
inline FakeDeviceIO::Reply response(uint32_t romStatus, const QByteArray& data = QByteArray()) {
    return {0, QByteArray::fromHex("a5000000") + le32(romStatus) + data};
}

// A data packet of a read: 4-byte header, then the data.
inline FakeDeviceIO::Reply dataPacket(const QByteArray& data) {
    return {0, QByteArray::fromHex("05000100") + data};
}

inline FakeDeviceIO::Reply failure(int result) {
    return {result, QByteArray()};
}

// Bytes that differ at every position within a packet, so misplaced slices show.
inline QByteArray pattern(int length, int seed = 0) {
    QByteArray out(length, '\0');
    for (int i = 0; i < length; ++i) {
        out[i] = char((i * 7 + seed + i / 251) & 0xFF);
    }
    return out;
}

// An engine over a scripted transport; the engine owns the transport, the test keeps a view.
struct Rig {
    FakeDeviceIO* io;
    std::unique_ptr<RomCmd> engine;
};

inline Rig makeEngineRig(int deviceType, const QString& deviceId,
                         const QList<FakeDeviceIO::Reply>& replies,
                         const QList<int>& writeResults) {
    auto transport = std::make_unique<FakeDeviceIO>();
    FakeDeviceIO* io = transport.get();
    io->replies = replies;
    io->writeResults = writeResults;
    return {io, std::make_unique<RomCmd>(std::move(transport), deviceType, deviceId)};
}

}  // namespace Test
}  // namespace RomCmd
