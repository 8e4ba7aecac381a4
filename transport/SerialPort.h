#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace RomCmd {

// Thin blocking serial-port layer with the read time-out contract the UART
// framing relies on. One source file per operating system implements it; it needs
// the standard library only, so it also builds where Qt is not available.
class SerialPort {
public:
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort();

    // What the system opens for a port name: a path as it stands, any other name as the
    // device of that name (/dev/NAME; on Windows \\.\NAME, and a name that starts with a
    // backslash as it stands).
    static std::string systemPath(const std::string& name);
    // Opens the port exclusively for blocking I/O; on failure returns false and
    // sets *errorNumber to the operating system's error number.
    bool open(const std::string& name, int* errorNumber);
    // Byte size, parity and stop bits use the codes of SerialPortInfo.
    void setLine(int baudRate, uint8_t byteSize, int parity, int stopBits);
    // t != 0: a read ends at the full count, after more than 1000 ms between two
    // bytes (or before the first byte, t + 1000 ms), or after 10 ms per requested byte
    // plus t ms. t == 0: waits for the full count. A write ends after 10 ms per byte plus
    // t ms (10000 ms for t == 0).
    void setTimeouts(uint32_t t);
    // Both return the number of bytes transferred, fewer than `count` after a time-out or
    // failure. A read may take more from the line than asked for; the rest is kept for the
    // next read.
    size_t read(uint8_t* data, size_t count);
    size_t write(const uint8_t* data, size_t count);
    // Returns nonzero on success.
    int close();

    bool isOpen() const;
    // The descriptor or handle value for the log, -1 while closed.
    intptr_t handle() const;

private:
#ifdef _WIN32
    void* port = nullptr;   // HANDLE of the open port
    void* claim = nullptr;  // named mutex that keeps other openers of this tool out
#else
    size_t takeInput(uint8_t* data, size_t count);
    bool waitReadable(int64_t waitMs, bool* hungUp);
    static bool requestLowLatency(int handle, bool on);

    int fd = -1;
    int readFd = -1;  // blocking, for reads only
    bool blockingReads = false;
    bool lowLatencyAdded = false;
    // What one read() brought beyond the count asked for: a packet's bytes arrive together,
    // and fetching them one syscall each costs more than the rest of the exchange.
    uint8_t input[4096];
    size_t inputStart = 0;
    size_t inputEnd = 0;
#endif
    uint32_t readTimeout = 0;
};

}  // namespace RomCmd
