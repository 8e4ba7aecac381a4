#pragma once

namespace RomCmd {

// The carrier an engine talks through; the number travels with the device record.
constexpr int kSerialDevice = 1;  // UART, a SerialPortInfo record
constexpr int kUsbDevice = 2;     // USB-HID, a UsbInfo record

}  // namespace RomCmd
