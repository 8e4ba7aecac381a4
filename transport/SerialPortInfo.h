#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>

// Serial port description handed from the console to the engine and the UART transport.
struct SerialPortInfo {
    QString portName;
    int32_t baudRate = 115200;
    int32_t dataBits = 8;
    int32_t parity = 0;    // 0 none, 2 even, 3 odd, 4 space, 5 mark
    int32_t stopBits = 1;  // 1 one, 3 one and a half, 2 two
    int32_t flowControl = 0;
    uint8_t reservedFlag = 0;
};

Q_DECLARE_METATYPE(SerialPortInfo)
