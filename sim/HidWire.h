#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace RomCmd {
namespace HidWire {

// Messages between the HID shim and tarvo_romsim on a Unix stream socket: a 32-bit
// little-endian body length, then the body, whose first byte is the message type.
enum MessageType : uint8_t {
    MsgEnumerate = 'E',  // shim -> device: list the devices
    // u32 count, then per device u16 vid, u16 pid, u16 path length, path, u16 serial number
    // length, serial number (ASCII)
    MsgDeviceList = 'L',
    MsgOpen = 'O',    // shim -> device: path; the connection then carries that device
    MsgOpened = 'K',  // u8 1 on success, u32 report length
    MsgReport = 'R',  // one HID report, either direction, report ID first
};

constexpr size_t kMaxBody = 4096;

// Connects to the socket at path; -1 on failure. Never waits longer than a second.
int connectSocket(const char* path);
// Sends one message within a bounded time; false on failure.
bool sendMessage(int fd, uint8_t type, const uint8_t* data, size_t length);
// Waits up to timeoutMs (negative: not at all) for a message. 1: a message, 0: none arrived
// in time, -1: the peer closed or sent something malformed.
int receiveMessage(int fd, int timeoutMs, uint8_t* type, std::vector<uint8_t>* data);

}  // namespace HidWire
}  // namespace RomCmd
