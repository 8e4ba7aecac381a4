#include "transport/SerialIO.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <cstring>
#include <vector>

#include "transport/Framing.h"
#include "transport/Interruption.h"
#include "transport/ResultCode.h"

namespace RomCmd {

namespace {

// Two transports never open, set up or close ports at the same moment.
QMutex serialPortLock;

}  // namespace

SerialIO::SerialIO(const QVariant& deviceInfo) : info(deviceInfo.value<SerialPortInfo>()) {
    QMutexLocker locker(&serialPortLock);
    int errorNumber = 0;
    if (!port.open(info.portName.toUtf8().toStdString(), &errorNumber)) {
        status = ResultOpenFailed;
        qCritical() << "Serial port open failed! Name: " << info.portName
                    << " error: " << errorNumber;
        return;
    }
    port.setLine(info.baudRate, static_cast<uint8_t>(info.dataBits & 0xFF), info.parity,
                 info.stopBits);
    port.setTimeouts(static_cast<uint32_t>(timeout));
}

SerialIO::~SerialIO() {
    QMutexLocker locker(&serialPortLock);
    const intptr_t handle = port.handle();
    const int result = port.close();
    qInfo() << "serial close fd: " << handle << " name: " << info.portName << " result: " << result;
}

int SerialIO::writePacket(const uint8_t* payload, uint16_t length) {
    if (!port.isOpen()) {
        qCritical() << "Serial port is closed";
        return status = ResultOpenFailed;
    }
    // One write for the whole frame; how far it got names the part that failed.
    const size_t frameSize = Framing::kHeaderSize + length + Framing::kCrcSize;
    frame.resize(frameSize);
    uint8_t* header = frame.data();
    Framing::buildUartHeader(header, length);
    if (length > 0)
        std::memcpy(header + Framing::kHeaderSize, payload, length);
    const uint16_t crc = Crc16Xmodem::compute(header, Framing::kHeaderSize + length);
    header[frameSize - 2] = static_cast<uint8_t>(crc & 0xFF);
    header[frameSize - 1] = static_cast<uint8_t>(crc >> 8);
    const size_t written = port.write(frame.data(), frameSize);
    if (written < Framing::kHeaderSize) {
        return failure(ResultWriteHeaderFailed, "Write header error!");
    }
    if (written < Framing::kHeaderSize + length) {
        return failure(ResultWritePayloadFailed, "Write payload error!");
    }
    if (written < frameSize) {
        return failure(ResultWriteCrcFailed, "Write crc16 error!");
    }
    status = ResultOk;
    return readAck();
}

int SerialIO::readPacket(uint8_t* buffer, uint16_t* length) {
    if (!port.isOpen()) {
        qCritical() << "Serial port is closed";
        return status = ResultOpenFailed;
    }
    if (!findStartByte()) {
        return failure(ResultTimeout, "Read timeout!");
    }
    uint8_t byte = 0;
    if (port.read(&byte, 1) != 1 || byte != Framing::kPacketTag) {
        return failure(ResultReadPayloadFailed, "Read payload error!");
    }
    uint8_t lengthBytes[2];
    if (port.read(lengthBytes, sizeof lengthBytes) != sizeof lengthBytes) {
        return failure(ResultReadPayloadLengthFailed, "Read payload length error!");
    }
    const uint16_t n = static_cast<uint16_t>(lengthBytes[0] | (lengthBytes[1] << 8));
    if (n > Framing::kPacketBufferSize)
        return discardOversizedPacket(n);

    if (port.read(buffer, n) != n) {
        return failure(ResultReadPayloadBufferFailed, "Read payload buffer error!");
    }
    uint8_t crcBytes[Framing::kCrcSize];
    if (port.read(crcBytes, sizeof crcBytes) != sizeof crcBytes) {
        return failure(ResultReadCrcFailed, "Read crc error!");
    }
    const uint8_t header[Framing::kHeaderSize] = {Framing::kStartByte, Framing::kPacketTag,
                                                  lengthBytes[0], lengthBytes[1]};
    Crc16Xmodem crc;
    crc.update(header, sizeof header);
    crc.update(buffer, n);
    const uint16_t received = static_cast<uint16_t>(crcBytes[0] | (crcBytes[1] << 8));
    if (crc.value() != received) {
        sendResponse(Framing::kResponseCrcError);
        return status = ResultNak;
    }
    *length = n;
    return sendResponse(Framing::kResponseOk);
}

// Bytes other than the start byte do not renew the wait: a device that keeps sending them
// gets the time-out of one read for the whole search.
bool SerialIO::findStartByte() {
    QElapsedTimer clock;
    clock.start();
    uint8_t byte = 0;
    if (port.read(&byte, 1) != 1)
        return false;
    if (byte == Framing::kStartByte)
        return true;
    bool found = false;
    for (;;) {
        if (timeout != 0) {
            const qint64 remaining = qint64(uint32_t(timeout)) - clock.elapsed();
            if (remaining <= 0)
                break;
            port.setTimeouts(uint32_t(remaining));
        }
        if (port.read(&byte, 1) != 1)
            break;
        if (byte == Framing::kStartByte) {
            found = true;
            break;
        }
    }
    port.setTimeouts(uint32_t(timeout));
    return found;
}

// The caller's buffer cannot take the payload: consume the rest of the packet so the
// line stays in step, and reject it so the device is not left waiting for an answer.
int SerialIO::discardOversizedPacket(uint16_t n) {
    std::vector<uint8_t> rest(static_cast<size_t>(n) + Framing::kCrcSize);
    if (port.read(rest.data(), rest.size()) == rest.size())
        sendResponse(Framing::kResponseCrcError);
    qCritical() << "Read payload buffer error!"
                << " length: " << n;
    return status = ResultReadPayloadBufferFailed;
}

void SerialIO::setTimeout(int milliseconds) {
    timeout = milliseconds;
    if (port.isOpen())
        port.setTimeouts(static_cast<uint32_t>(milliseconds));
}

int SerialIO::readAck() {
    if (!port.isOpen()) {
        qCritical() << "Serial port is closed";
        return status = ResultOpenFailed;
    }
    uint8_t byte = 0;
    if (port.read(&byte, 1) != 1) {
        return failure(ResultReadAckStartFailed, "Read ack error!");
    }
    if (byte != Framing::kStartByte)
        return status = ResultFailure;
    if (port.read(&byte, 1) != 1) {
        return failure(ResultReadAckStatusFailed, "Read ack error!");
    }
    return status = Framing::ackStatusToResult(byte);
}

// A wait that a signal ended is no fault of the line: the run reports the interruption once.
int SerialIO::failure(int code, const char* message) {
    if (Interruption::requested())
        return status = ResultInterrupted;
    qCritical() << message;
    return status = code;
}

int SerialIO::sendResponse(uint8_t code) {
    if (!port.isOpen()) {
        qCritical() << "Serial port is closed";
        return status = ResultOpenFailed;
    }
    const uint8_t response[2] = {Framing::kStartByte, code};
    if (port.write(response, sizeof response) != sizeof response) {
        qCritical() << "Send response failed! resp: " << static_cast<int>(code);
        return status = ResultSendResponseFailed;
    }
    return status = ResultOk;
}

}  // namespace RomCmd
