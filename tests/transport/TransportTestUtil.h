#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>
#include <string>

#include "tests/common/QtPrinters.h"
#include "transport/Framing.h"

// Lets GoogleTest print lists of Qt texts in failure messages.
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '[' << list.join(" | ").toStdString() << ']';
}

namespace RomCmd {
namespace Test {

inline std::string hex(const QByteArray& bytes) {
    return bytes.toHex().toStdString();
}
inline std::string hex(const uint8_t* data, int size) {
    return QByteArray(reinterpret_cast<const char*>(data), size).toHex().toStdString();
}

// A complete device packet on the UART with a correct CRC.
inline QByteArray uartPacket(const QByteArray& payload) {
    const int n = payload.size();
    QByteArray packet;
    packet.append(char(0x5A)).append(char(0xA5)).append(char(n & 0xFF)).append(char(n >> 8));
    packet.append(payload);
    const uint16_t crc = Crc16Xmodem::compute(reinterpret_cast<const uint8_t*>(packet.constData()),
                                              static_cast<size_t>(packet.size()));
    packet.append(char(crc & 0xFF)).append(char(crc >> 8));
    return packet;
}

// Distinct, position-dependent payload bytes.
inline QByteArray patternBytes(int size, int seed = 0) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed * 13 + 3) & 0xFF);
    return bytes;
}

}  // namespace Test
}  // namespace RomCmd
