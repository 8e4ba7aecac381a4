#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>

// USB-HID device description handed from the console to the engine and the HID transport.
struct UsbInfo {
    QString devicePath;
    QString reservedText;
    int32_t pid = 0;
    int32_t vid = 0;
    int32_t reservedValue = 0;
    uint8_t reservedFlag = 0;
    // What stays true of the device when its path changes; empty when unknown.
    QString serialNumber;
    QString location;  // the USB port it sits in, as UsbLocation names it
};

Q_DECLARE_METATYPE(UsbInfo)
