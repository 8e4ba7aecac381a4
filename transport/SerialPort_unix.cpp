#include "transport/SerialPort.h"

#include <cerrno>

namespace RomCmd {

// Placeholder until the POSIX layer lands.
SerialPort::~SerialPort() = default;
bool SerialPort::open(const QByteArray&, int* errorNumber)
{
    *errorNumber = ENOSYS;
    return false;
}
void SerialPort::setLine(int, uint8_t, int, int) {}
void SerialPort::setTimeouts(uint32_t t) { readTimeout = t; }
size_t SerialPort::read(uint8_t*, size_t) { return 0; }
size_t SerialPort::write(const uint8_t*, size_t) { return 0; }
int SerialPort::close() { return 0; }

}  // namespace RomCmd
