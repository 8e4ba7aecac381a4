#include "transport/SerialPort.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>

namespace RomCmd {

namespace {

// CreateFileA takes at most MAX_PATH characters, the terminating zero included.
constexpr size_t kMaxNameBytes = 260;
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kDevicePathMax = 30;
constexpr DWORD kInterByteLimitMs = 1000;
constexpr DWORD kPerByteMs = 10;
// With t == 0 reads may wait for ever, but a write to a line that takes nothing must not.
constexpr DWORD kUnboundedWriteConstantMs = 10000;
// wine adds the per-byte part to the constant as a signed 32-bit number, and a sum past
// 2^31 ends the transfer at once. Room for the largest packet plus its CRC, the longest
// transfer the framing asks for; the limit is still over 24 days.
constexpr DWORD kLargestTransfer = 0xFFFF + 2;
constexpr DWORD kConstantLimitMs = 0x7FFFFFFF - kPerByteMs * kLargestTransfer;

HANDLE asHandle(void* value) {
    return static_cast<HANDLE>(value);
}

DWORD boundedConstant(uint64_t ms) {
    return static_cast<DWORD>(std::min<uint64_t>(ms, kConstantLimitMs));
}

// The read contract for t, and writes ending after t + 10 ms per byte like a read of as many.
COMMTIMEOUTS contractTimeouts(uint32_t t) {
    COMMTIMEOUTS timeouts{};
    if (t != 0) {
        timeouts.ReadIntervalTimeout = kInterByteLimitMs;
        timeouts.ReadTotalTimeoutMultiplier = kPerByteMs;
        timeouts.ReadTotalTimeoutConstant = boundedConstant(t);
    }
    timeouts.WriteTotalTimeoutMultiplier = kPerByteMs;
    timeouts.WriteTotalTimeoutConstant = t != 0 ? boundedConstant(t) : kUnboundedWriteConstantMs;
    return timeouts;
}

// One read under a fixed total bound and the gap limit, writes as the contract has them.
DWORD readWithin(HANDLE port, uint32_t t, uint8_t* data, DWORD count, uint64_t totalMs) {
    COMMTIMEOUTS timeouts = contractTimeouts(t);
    timeouts.ReadIntervalTimeout = kInterByteLimitMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = boundedConstant(std::max<uint64_t>(totalMs, 1));
    ::SetCommTimeouts(port, &timeouts);
    DWORD got = 0;
    ::ReadFile(port, data, count, &got, nullptr);
    return got;
}

// Device names are case-insensitive and accept either slash; backslashes cannot
// appear in a kernel object name.
std::wstring claimName(const std::string& path) {
    std::wstring name = L"Global\\tarvo-serial:";
    for (const char c : path) {
        if (c == '\\')
            name += L'/';
        else if (c >= 'a' && c <= 'z')
            name += static_cast<wchar_t>(c - 'a' + 'A');
        else
            name += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return name;
}

BYTE lineParity(int parity) {
    switch (parity) {
        case 2:
            return EVENPARITY;
        case 3:
            return ODDPARITY;
        case 4:
            return SPACEPARITY;
        case 5:
            return MARKPARITY;
        default:
            return NOPARITY;
    }
}

BYTE lineStopBits(int stopBits) {
    switch (stopBits) {
        case 2:
            return TWOSTOPBITS;
        case 3:
            return ONE5STOPBITS;
        default:
            return ONESTOPBIT;
    }
}

}  // namespace

SerialPort::~SerialPort() {
    if (isOpen())
        close();
}

bool SerialPort::isOpen() const {
    return port != nullptr;
}

intptr_t SerialPort::handle() const {
    return isOpen() ? reinterpret_cast<intptr_t>(port) : -1;
}

std::string SerialPort::systemPath(const std::string& name) {
    return !name.empty() && name[0] == '\\' ? name : kDevicePrefix + name;
}

bool SerialPort::open(const std::string& name, int* errorNumber) {
    // A name cut at a zero byte would open another port.
    if (name.find('\0') != std::string::npos) {
        *errorNumber = ERROR_INVALID_NAME;
        return false;
    }
    const std::string path = systemPath(name);
    const bool asItStands = path == name;
    if (path.size() > (asItStands ? kMaxNameBytes - 1 : kDevicePathMax)) {
        *errorNumber = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }

    // Share mode 0 is not enforced by every serial driver (wine's COM ports ignore it), so
    // a named mutex per device keeps every other opener of this tool off the port too.
    ::SetLastError(ERROR_SUCCESS);
    HANDLE claimHandle = ::CreateMutexW(nullptr, FALSE, claimName(path).c_str());
    if (claimHandle == nullptr) {
        *errorNumber = static_cast<int>(::GetLastError());
        return false;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(claimHandle);
        *errorNumber = ERROR_SHARING_VIOLATION;
        return false;
    }

    HANDLE portHandle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (portHandle == INVALID_HANDLE_VALUE) {
        *errorNumber = static_cast<int>(::GetLastError());
        ::CloseHandle(claimHandle);
        return false;
    }
    port = portHandle;
    claim = claimHandle;
    return true;
}

void SerialPort::setLine(int baudRate, uint8_t byteSize, int parity, int stopBits) {
    if (!isOpen())
        return;
    DCB current{};
    current.DCBlength = sizeof current;
    if (!::GetCommState(asHandle(port), &current))
        return;

    // Everything not set below stays off: no handshakes, DTR and RTS held inactive, no
    // parity checking or error-character replacement, no abort on error.
    DCB line{};
    line.DCBlength = sizeof line;
    line.BaudRate = baudRate > 0 ? static_cast<DWORD>(baudRate) : current.BaudRate;
    line.fBinary = TRUE;  // the only mode Windows supports
    // An unsupported byte size keeps the port's current one.
    line.ByteSize = byteSize >= 5 && byteSize <= 8 ? byteSize : current.ByteSize;
    line.Parity = lineParity(parity);
    line.StopBits = lineStopBits(stopBits);
    line.fDtrControl = DTR_CONTROL_DISABLE;
    line.fRtsControl = RTS_CONTROL_DISABLE;
    // Unused without XON/XOFF, but drivers refuse a state where both are equal.
    line.XonChar = 0x11;
    line.XoffChar = 0x13;

    // A refused rate is not reported: keep the rest of the settings at least.
    if (!::SetCommState(asHandle(port), &line)) {
        line.BaudRate = current.BaudRate;
        ::SetCommState(asHandle(port), &line);
    }
    // Bytes a stopped run left in the line must not pass for this run's answers.
    ::PurgeComm(asHandle(port), PURGE_RXCLEAR);
}

void SerialPort::setTimeouts(uint32_t t) {
    readTimeout = t;
    if (!isOpen())
        return;
    COMMTIMEOUTS timeouts = contractTimeouts(t);
    ::SetCommTimeouts(asHandle(port), &timeouts);
}

size_t SerialPort::read(uint8_t* data, size_t count) {
    if (!isOpen() || count == 0)
        return 0;
    const DWORD n = static_cast<DWORD>(std::min<size_t>(count, MAXDWORD));
    const uint64_t totalMs = uint64_t(kPerByteMs) * n + readTimeout;
    // The driver's gap limit only starts with a first byte, and its total grows with the
    // count: a long read on a silent line gets its first byte within t + 1000 ms or ends.
    if (readTimeout != 0 && uint64_t(kPerByteMs) * n > kInterByteLimitMs) {
        const ULONGLONG start = ::GetTickCount64();
        DWORD got = readWithin(asHandle(port), readTimeout, data, 1,
                               uint64_t(readTimeout) + kInterByteLimitMs);
        if (got == 1 && n > 1) {
            const uint64_t spent = ::GetTickCount64() - start;
            got += readWithin(asHandle(port), readTimeout, data + 1, n - 1,
                              totalMs > spent ? totalMs - spent : 0);
        }
        COMMTIMEOUTS timeouts = contractTimeouts(readTimeout);
        ::SetCommTimeouts(asHandle(port), &timeouts);
        return got;
    }
    DWORD got = 0;
    ::ReadFile(asHandle(port), data, n, &got, nullptr);
    return got;
}

size_t SerialPort::write(const uint8_t* data, size_t count) {
    if (!isOpen())
        return 0;
    DWORD done = 0;
    ::WriteFile(asHandle(port), data, static_cast<DWORD>(std::min<size_t>(count, MAXDWORD)), &done,
                nullptr);
    return done;
}

int SerialPort::close() {
    if (!isOpen())
        return 0;
    const BOOL result = ::CloseHandle(asHandle(port));
    port = nullptr;
    // Released only after the port, so nobody else gets in while it is still ours.
    ::CloseHandle(asHandle(claim));
    claim = nullptr;
    return result ? 1 : 0;
}

}  // namespace RomCmd
