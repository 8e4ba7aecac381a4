// UART packet and acknowledgement reading: the fuzz input picks the operations and is the
// line they read from; a line that runs dry plays the time-out.

#include <QSet>
#include <QVariant>
#include <climits>
#include <memory>
#include <vector>

#include "tests/fuzz/FuzzInput.h"
#include "tests/fuzz/FuzzSerialPort.h"
#include "transport/Framing.h"
#include "transport/SerialIO.h"

using namespace RomCmd;
using namespace RomCmd::Fuzz;

namespace {

constexpr uint16_t kUnwritten = 0xBEEF;
const int kTimeouts[] = {0, 1, 10000, INT_MAX, -1, INT_MIN};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    silenceLogging();
    FuzzInput input(data, size);
    const int operations = 1 + (input.byte() & 7);
    std::vector<uint8_t> ops;
    for (int i = 0; i < operations; ++i)
        ops.push_back(input.byte());

    FuzzLine& line = fuzzLine();
    line = FuzzLine();
    line.data = input.rest(&line.size);

    SerialPortInfo info;
    info.portName = QStringLiteral("fuzz");
    SerialIO io{QVariant::fromValue(info)};
    FUZZ_CHECK(io.status == 0);

    static const QSet<int> readResults{0, 1, 4, 11, 12, 13, 14, 15};
    static const QSet<int> ackResults{0, 1, 2, 3, 9, 10};
    static const QSet<int> writeResults{0, 1, 2, 3, 6, 7, 8, 9, 10};
    static const QSet<int> writeFailures{6, 7, 8};
    for (const uint8_t op : ops) {
        if (op & 0x80)
            io.setTimeout(kTimeouts[(op >> 4) % (sizeof kTimeouts / sizeof kTimeouts[0])]);
        int result = -1;
        switch (op & 3) {
            case 0: {
                // Exactly the engine's buffer, so anything written past it shows.
                auto buffer = std::make_unique<uint8_t[]>(Framing::kPacketBufferSize);
                uint16_t length = kUnwritten;
                result = io.readPacket(buffer.get(), &length);
                FUZZ_CHECK(readResults.contains(result));
                if (result == 0)
                    FUZZ_CHECK(length <= Framing::kPacketBufferSize);
                else if (result != 15)
                    FUZZ_CHECK(length == kUnwritten);
                break;
            }
            case 1:
                result = io.readAck();
                FUZZ_CHECK(ackResults.contains(result));
                break;
            case 2:
            case 3: {
                const size_t payloadLength = size_t((op >> 2) & 0x1F) * 37;
                const std::vector<uint8_t> payload(payloadLength, 0x5A);
                // A cut anywhere in the frame: header, payload or CRC.
                if ((op & 3) == 3)
                    line.writeLimit = size_t(op >> 2) * 11 % (payloadLength + 6);
                result = io.writePacket(payload.data(), uint16_t(payloadLength));
                if ((op & 3) == 3)
                    FUZZ_CHECK(writeFailures.contains(result));
                else
                    FUZZ_CHECK(writeResults.contains(result));
                line.writeLimit = SIZE_MAX;
                break;
            }
        }
        FUZZ_CHECK(io.status == result);
    }
    return 0;
}
