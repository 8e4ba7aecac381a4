// The serial-port layer of the fuzz builds, linked instead of the operating system's: the
// framing above it runs unchanged, with the fuzz input as the line and no real waiting.

#include "tests/fuzz/FuzzSerialPort.h"

#include <algorithm>
#include <cstring>

#include "transport/SerialPort.h"

namespace RomCmd {

namespace Fuzz {

FuzzLine& fuzzLine() {
    static FuzzLine line;
    return line;
}

}  // namespace Fuzz

SerialPort::~SerialPort() {
    close();
}

bool SerialPort::open(const std::string&, int* errorNumber) {
    *errorNumber = 0;
    fd = 3;
    return true;
}

void SerialPort::setLine(int, uint8_t, int, int) {}

void SerialPort::setTimeouts(uint32_t t) {
    readTimeout = t;
}

size_t SerialPort::read(uint8_t* data, size_t count) {
    Fuzz::FuzzLine& line = Fuzz::fuzzLine();
    line.largestRead = std::max(line.largestRead, count);
    const size_t served = std::min(count, line.size - line.position);
    if (served > 0)
        std::memcpy(data, line.data + line.position, served);
    line.position += served;
    return served;
}

size_t SerialPort::write(const uint8_t* data, size_t count) {
    Fuzz::FuzzLine& line = Fuzz::fuzzLine();
    count = std::min(count, line.writeLimit);
    if (line.writeLimit != SIZE_MAX)
        line.writeLimit -= count;
    // Touch every byte handed over, so that a source shorter than count shows.
    volatile uint8_t sink = 0;
    for (size_t i = 0; i < count; ++i)
        sink = sink ^ data[i];
    line.bytesWritten += count;
    return count;
}

bool SerialPort::isOpen() const {
    return fd >= 0;
}

intptr_t SerialPort::handle() const {
    return fd;
}

int SerialPort::close() {
    const bool wasOpen = fd >= 0;
    fd = -1;
    return wasOpen ? 1 : 0;
}

}  // namespace RomCmd
