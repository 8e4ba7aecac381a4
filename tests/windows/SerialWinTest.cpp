// The Win32 serial layer against real COM ports under wine. scripts/test-windows maps:
//   COM7                        the virtual device (tarvo_romsim)
//   tarvo-port-name-of-26-char  the virtual device again, under a 26-character name
//   tarvo-port-name-of-27-chars the virtual device again, under a 27-character name
//   COM8                        tarvo_linepeer, which sends bytes when and as told
// Reports one line per case like CTest and exits non-zero when a case fails.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "transport/Framing.h"
#include "transport/SerialPort.h"

using RomCmd::SerialPort;

namespace {

const char* const kDevicePort = "COM7";
const char* const kPeerPort = "COM8";
// Nothing here may take longer; a hung call fails the run instead of blocking it.
constexpr DWORD kWatchdogMs = 120000;
// Timer granularity allowance for lower bounds; upper bounds allow for a loaded machine.
constexpr double kEarlyMs = 20;
constexpr double kLateMs = 3000;

std::vector<std::string> failures;
std::vector<std::string> notes;
const char* runningCase = "";

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

void expect(bool ok, const std::string& what) {
    if (!ok)
        failures.push_back(what);
}

double nowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

DWORD WINAPI watchdog(void*) {
    Sleep(kWatchdogMs);
    std::printf("watchdog: case %s still running after %lu ms\n", runningCase,
                static_cast<unsigned long>(kWatchdogMs));
    std::fflush(stdout);
    ExitProcess(1);
}

HANDLE win32Handle(const SerialPort& port) {
    return reinterpret_cast<HANDLE>(port.handle());
}

bool openPort(SerialPort& port, const char* name) {
    int error = 0;
    const bool ok = port.open(name, &error);
    expect(ok, format("open %s failed with error %d", name, error));
    return ok;
}

// --- the name rule -----------------------------------------------------------------

struct NameCase {
    const char* label;
    std::string name;
    int expectedError;  // 0: opens
};

void nameRule(const NameCase& c) {
    SerialPort port;
    int error = 0;
    const bool opened = port.open(c.name, &error);
    if (c.expectedError == 0) {
        expect(opened, format("open failed with error %d", error));
        expect(port.close() != 0, "close reported failure");
    } else {
        expect(!opened, "opened, expected a refusal");
        expect(error == c.expectedError, format("error %d, expected %d", error, c.expectedError));
    }
}

// --- exclusive open ----------------------------------------------------------------

void exclusiveOpen() {
    SerialPort first;
    if (!openPort(first, kDevicePort))
        return;
    SerialPort second;
    int error = 0;
    // Another spelling of the same device.
    expect(!second.open("\\\\.\\com7", &error), "a second open of the port succeeded");
    expect(error == ERROR_SHARING_VIOLATION,
           format("second open: error %d, expected %d", error, ERROR_SHARING_VIOLATION));
    expect(first.close() != 0, "close reported failure");
    expect(second.open(kDevicePort, &error),
           format("open after the close failed with error %d", error));
}

// --- line settings -----------------------------------------------------------------

struct LineCase {
    const char* label;
    DWORD before;  // baud rate set first, with every handshake on
    int baudRate;
    int parity;
    int stopBits;
    DWORD expectedBaud;
    BYTE expectedStopBits;
};

DCB readLine(HANDLE handle) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    expect(GetCommState(handle, &dcb) != 0, "GetCommState failed");
    return dcb;
}

void lineSettings(const LineCase& c) {
    SerialPort port;
    if (!openPort(port, kPeerPort))
        return;
    const HANDLE handle = win32Handle(port);
    DCB dirty = readLine(handle);
    dirty.BaudRate = c.before;
    dirty.StopBits = c.expectedStopBits == ONESTOPBIT ? TWOSTOPBITS : ONESTOPBIT;
    dirty.fOutxCtsFlow = TRUE;
    dirty.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dirty.fOutX = TRUE;
    dirty.fInX = TRUE;
    expect(SetCommState(handle, &dirty) != 0, "setting up the dirty line failed");
    const DCB seeded = readLine(handle);
    // Otherwise the checks below could not fail.
    expect(seeded.fOutxCtsFlow && seeded.fOutX && seeded.fInX && seeded.BaudRate == c.before,
           "the dirty line did not reach the port");

    port.setLine(c.baudRate, 8, c.parity, c.stopBits);
    const DCB line = readLine(handle);
    expect(line.BaudRate == c.expectedBaud,
           format("baud rate %lu, expected %lu", static_cast<unsigned long>(line.BaudRate),
                  static_cast<unsigned long>(c.expectedBaud)));
    expect(line.ByteSize == 8, format("byte size %d", line.ByteSize));
    expect(line.Parity == NOPARITY, format("parity %d", line.Parity));
    expect(line.StopBits == c.expectedStopBits,
           format("stop bits %d, expected %d", line.StopBits, c.expectedStopBits));
    expect(!line.fOutxCtsFlow && !line.fOutxDsrFlow, "a hardware handshake is still on");
    expect(!line.fOutX && !line.fInX, "XON/XOFF is still on");
}

// --- the read time-out contract ----------------------------------------------------

// Asks the line peer for `count` bytes 01 02 ..., `gapMs` apart, the first after `delayMs`.
bool peerSends(SerialPort& line, int count, int gapMs, int delayMs) {
    const uint8_t command[8] = {'L',
                                'P',
                                'S',
                                static_cast<uint8_t>(count),
                                static_cast<uint8_t>(gapMs & 0xFF),
                                static_cast<uint8_t>(gapMs >> 8),
                                static_cast<uint8_t>(delayMs & 0xFF),
                                static_cast<uint8_t>(delayMs >> 8)};
    const bool sent = line.write(command, sizeof command) == sizeof command;
    expect(sent, "the command to the line peer was not written");
    return sent;
}

struct ReadCase {
    const char* label;
    const char* contract;
    uint32_t t;
    int peerCount, peerGapMs, peerDelayMs;
    size_t readCount;
    size_t minGot, maxGot;
    double minMs, maxMs;
};

void readContract(const ReadCase& c) {
    SerialPort line;
    if (!openPort(line, kPeerPort))
        return;
    line.setLine(115200, 8, 0, 1);
    line.setTimeouts(c.t);
    uint8_t data[1024] = {};
    // Timed from before the request, so no byte can arrive before the clock starts.
    const double start = nowMs();
    if (c.peerCount > 0 && !peerSends(line, c.peerCount, c.peerGapMs, c.peerDelayMs))
        return;
    size_t got = line.read(data, c.readCount);
    const double elapsed = nowMs() - start;
    notes.push_back(format("%-34s t=%-10lu read %2u: %u bytes in %6.0f ms (contract: %s)", c.label,
                           static_cast<unsigned long>(c.t), static_cast<unsigned>(c.readCount),
                           static_cast<unsigned>(got), elapsed, c.contract));
    expect(got >= c.minGot && got <= c.maxGot,
           format("%u bytes, expected %u to %u", static_cast<unsigned>(got),
                  static_cast<unsigned>(c.minGot), static_cast<unsigned>(c.maxGot)));
    expect(elapsed >= c.minMs - kEarlyMs && elapsed <= c.maxMs,
           format("took %.0f ms, expected %.0f to %.0f ms", elapsed, c.minMs, c.maxMs));

    // The rest of the pattern, so the next case starts on a quiet line; bytes stay in order.
    const size_t total = static_cast<size_t>(c.peerCount);
    if (got < total) {
        line.setTimeouts(10000);
        got += line.read(data + got, total - got);
    }
    for (size_t i = 0; i < got && i < total; ++i) {
        if (data[i] != i + 1) {
            expect(false, format("byte %u is 0x%02x, expected 0x%02x", static_cast<unsigned>(i),
                                 data[i], static_cast<unsigned>(i + 1)));
            break;
        }
    }
    expect(got == total || c.peerCount == 0, "the peer's bytes did not all arrive");
}

// Bytes a stopped run left in the line must not pass for the next run's answers.
void openingDiscardsWaitingInput() {
    {
        SerialPort line;
        if (!openPort(line, kPeerPort))
            return;
        line.setLine(115200, 8, 0, 1);
        if (!peerSends(line, 4, 0, 0))
            return;
        Sleep(300);
    }
    SerialPort line;
    if (!openPort(line, kPeerPort))
        return;
    line.setLine(115200, 8, 0, 1);
    line.setTimeouts(200);
    uint8_t data[4] = {};
    const size_t got = line.read(data, sizeof data);
    expect(got == 0, format("%u bytes sent before the open were read", static_cast<unsigned>(got)));
}

// --- a framed exchange with the virtual device ---------------------------------------

void framedQuery() {
    using namespace RomCmd;
    SerialPort port;
    if (!openPort(port, kDevicePort))
        return;
    port.setLine(115200, 8, 0, 1);
    port.setTimeouts(10000);

    // query-rte of item 0: code 1, one word, flags 0, reserved 0, the item id
    const uint8_t payload[8] = {0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    uint8_t header[Framing::kHeaderSize];
    Framing::buildUartHeader(header, sizeof payload);
    Crc16Xmodem crc;
    crc.update(header, sizeof header);
    crc.update(payload, sizeof payload);
    const uint8_t crcBytes[2] = {static_cast<uint8_t>(crc.value() & 0xFF),
                                 static_cast<uint8_t>(crc.value() >> 8)};
    expect(port.write(header, sizeof header) == sizeof header, "header not written");
    expect(port.write(payload, sizeof payload) == sizeof payload, "payload not written");
    expect(port.write(crcBytes, sizeof crcBytes) == sizeof crcBytes, "CRC not written");

    uint8_t ack[2] = {};
    const size_t ackLength = port.read(ack, sizeof ack);
    expect(ackLength == 2 && ack[0] == Framing::kStartByte && ack[1] == Framing::kAckAccepted,
           format("acknowledgement %u bytes %02x %02x, expected 5a a1",
                  static_cast<unsigned>(ackLength), ack[0], ack[1]));

    uint8_t head[Framing::kHeaderSize] = {};
    const size_t headLength = port.read(head, sizeof head);
    const size_t length = static_cast<size_t>(head[2] | (head[3] << 8));
    if (headLength != sizeof head || head[0] != Framing::kStartByte ||
        head[1] != Framing::kPacketTag || length < 8 || length > Framing::kPacketBufferSize) {
        expect(false,
               format("response header %u bytes %02x %02x %02x %02x",
                      static_cast<unsigned>(headLength), head[0], head[1], head[2], head[3]));
        return;
    }
    std::vector<uint8_t> response(length + Framing::kCrcSize);
    const size_t responseLength = port.read(response.data(), response.size());
    expect(responseLength == response.size(),
           format("response %u bytes, expected %u", static_cast<unsigned>(responseLength),
                  static_cast<unsigned>(response.size())));
    Crc16Xmodem check;
    check.update(head, sizeof head);
    check.update(response.data(), length);
    const uint16_t received = static_cast<uint16_t>(response[length] | (response[length + 1] << 8));
    expect(check.value() == received,
           format("response CRC %04x, computed %04x", received, check.value()));
    const uint32_t romStatus = static_cast<uint32_t>(response[4] | (response[5] << 8) |
                                                     (response[6] << 16) | (response[7] << 24));
    expect(response[0] == 0x01 && romStatus == 0,
           format("response code %02x status %lu", response[0],
                  static_cast<unsigned long>(romStatus)));
    const uint8_t answer[2] = {Framing::kStartByte, Framing::kResponseOk};
    expect(port.write(answer, sizeof answer) == sizeof answer, "response answer not written");
}

// --- bounded writes (last: the peer stops reading for good) ----------------------------

void boundedWrite() {
    SerialPort line;
    if (!openPort(line, kPeerPort))
        return;
    line.setLine(115200, 8, 0, 1);
    constexpr uint32_t t = 200;
    line.setTimeouts(t);
    const uint8_t hold[8] = {'L', 'P', 'H', 0, 0, 0, 0, 0};
    expect(line.write(hold, sizeof hold) == sizeof hold, "hold command not written");
    Sleep(300);  // the peer is reading no more

    // Fill the line's buffers until a write runs into its bound.
    uint8_t chunk[64] = {};
    const double boundMs = t + 10.0 * sizeof chunk;
    for (int i = 0; i < 16384; ++i) {
        const double start = nowMs();
        const size_t done = line.write(chunk, sizeof chunk);
        const double elapsed = nowMs() - start;
        if (done == sizeof chunk)
            continue;
        notes.push_back(format("%-34s t=%-10lu write %u: %u bytes in %6.0f ms (contract: %.0f ms)",
                               "write to a line that takes nothing", static_cast<unsigned long>(t),
                               static_cast<unsigned>(sizeof chunk), static_cast<unsigned>(done),
                               elapsed, boundMs));
        expect(elapsed >= boundMs - kEarlyMs && elapsed <= boundMs + kLateMs,
               format("the short write took %.0f ms, bound %.0f ms", elapsed, boundMs));
        return;
    }
    expect(false, "1 MiB went into a line that takes nothing");
}

struct Case {
    std::string name;
    std::function<void()> run;
};

}  // namespace

int main() {
    CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);

    const std::vector<NameCase> names = {
        {"COM7", "COM7", 0},
        {"leading_backslash", "\\\\.\\COM7", 0},
        {"longest_plain_name", "tarvo-port-name-of-26-char", 0},
        {"plain_name_too_long", "tarvo-port-name-of-27-chars", ERROR_FILENAME_EXCED_RANGE},
        {"long_name_with_backslash", "\\\\.\\tarvo-port-name-of-27-chars", 0},
        {"embedded_zero", std::string("COM7\0X", 6), ERROR_INVALID_NAME},
    };
    const std::vector<LineCase> lines = {
        {"57600_two_stop_bits", 9600, 57600, 0, 2, 57600, TWOSTOPBITS},
        {"parity_1_and_stop_bits_0", 57600, 115200, 1, 0, 115200, ONESTOPBIT},
    };
    const std::vector<ReadCase> reads = {
        {"full_count", "the count arrived", 10000, 8, 0, 0, 8, 8, 8, 0, kLateMs},
        {"long_read_full_count", "the count arrived", 10000, 200, 0, 0, 200, 200, 200, 0, kLateMs},
        {"more_than_1000ms_between_bytes", "ends 1000 ms after a byte", 10000, 2, 2000, 0, 4, 1, 1,
         1000, 1900},
        {"10ms_per_byte_plus_t_silent", "10 * 20 + 300 = 500 ms", 300, 0, 0, 0, 20, 0, 0, 500,
         500 + kLateMs},
        {"10ms_per_byte_plus_t_trickle", "10 * 10 + 200 = 300 ms", 200, 10, 200, 0, 10, 1, 9, 300,
         1500},
        {"silent_long_read_ends_t_plus_1000", "min(10 * 1000 + 300, 300 + 1000) = 1300 ms", 300, 0,
         0, 0, 1000, 0, 0, 1300, 1300 + kLateMs},
        {"t0_waits_for_the_full_count", "no time-out", 0, 2, 1500, 0, 2, 2, 2, 1500,
         1500 + kLateMs},
        {"t_near_2_32_does_not_wrap", "10 + 4294967295 ms", 0xFFFFFFFFu, 1, 0, 500, 1, 1, 1, 500,
         500 + kLateMs},
    };

    std::vector<Case> cases;
    for (const NameCase& c : names)
        cases.push_back({std::string("name_rule/") + c.label, [c] { nameRule(c); }});
    cases.push_back({"exclusive_open", exclusiveOpen});
    for (const LineCase& c : lines)
        cases.push_back({std::string("line_settings/") + c.label, [c] { lineSettings(c); }});
    for (const ReadCase& c : reads)
        cases.push_back({std::string("read_timeouts/") + c.label, [c] { readContract(c); }});
    cases.push_back({"opening_discards_waiting_input", openingDiscardsWaitingInput});
    cases.push_back({"framed_query_with_the_virtual_device", framedQuery});
    cases.push_back({"bounded_write", boundedWrite});

    std::printf("Test project serial_win_tests (Win32 serial layer under wine)\n");
    int failed = 0;
    const int total = static_cast<int>(cases.size());
    for (int i = 0; i < total; ++i) {
        const Case& c = cases[i];
        runningCase = c.name.c_str();
        failures.clear();
        std::printf("      Start %2d: %s\n", i + 1, c.name.c_str());
        std::fflush(stdout);
        const double start = nowMs();
        c.run();
        const double seconds = (nowMs() - start) / 1000.0;
        std::string dots(c.name.size() < 50 ? 50 - c.name.size() : 3, '.');
        std::printf("%2d/%d Test #%2d: %s %s %s %6.2f sec\n", i + 1, total, i + 1, c.name.c_str(),
                    dots.c_str(), failures.empty() ? "  Passed" : "***Failed", seconds);
        for (const std::string& f : failures)
            std::printf("    %s\n", f.c_str());
        if (!failures.empty())
            ++failed;
        std::fflush(stdout);
    }
    std::printf("\nMeasured time-outs:\n");
    for (const std::string& note : notes)
        std::printf("  %s\n", note.c_str());
    std::printf("\n%d%% tests passed, %d tests failed out of %d\n",
                total ? (total - failed) * 100 / total : 100, failed, total);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
