// USB-HID report reading: the fuzz input is a sequence of reads, each with the report (or
// the absence or failure of one) that the HID layer delivers.

#include <QSet>
#include <QVariant>
#include <cstring>
#include <memory>

#include "tests/fuzz/FuzzInput.h"
#include "tests/transport/HidDouble.h"
#include "transport/Framing.h"
#include "transport/HidIO.h"

using namespace RomCmd;
using namespace RomCmd::Fuzz;
namespace HidDouble = RomCmd::Test::HidDouble;

namespace {

constexpr uint16_t kUnwritten = 0xBEEF;
const char kPath[] = "/dev/hidraw-fuzz";

// One transport for all inputs: it keeps nothing from one read to the next.
HidIO& setUp() {
    silenceLogging();
    HidDouble::reset();
    HidDouble::attach(kPath, 0x5E3A, 1);
    UsbInfo info;
    info.devicePath = kPath;
    static HidIO& io = *new HidIO(QVariant::fromValue(info));
    return io;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HidIO& io = setUp();
    FUZZ_CHECK(io.status != 5);
    HidDouble::reset();

    static const QSet<int> readResults{0, 4, 11, 12, 13, 15};
    static const QSet<int> ackResults{0, 1, 2, 3, 9, 16};
    FuzzInput input(data, size);
    // The transport keeps nothing between reads: a few reads per input cover it, and more
    // would only slow the fuzzer down.
    for (int reads = 0; reads < 16 && !input.empty(); ++reads) {
        const uint8_t op = input.byte();
        size_t reportSize = 0;
        const uint8_t* report = input.take(input.u16() & 0x7FF, &reportSize);
        switch ((op >> 1) & 3) {
            case 0:
            case 1:
                HidDouble::queueReport(
                    QByteArray(reinterpret_cast<const char*>(report), int(reportSize)));
                break;
            case 2:
                HidDouble::queueNoReport();
                break;
            case 3:
                HidDouble::queueReadFailure();
                break;
        }
        if (op & 0x10)
            HidDouble::failWritesFrom(HidDouble::writes().size() + 1);

        int result = -1;
        if ((op & 1) == 0) {
            // Exactly the engine's buffer, so anything written past it shows.
            auto buffer = std::make_unique<uint8_t[]>(Framing::kPacketBufferSize);
            uint16_t length = kUnwritten;
            result = io.readPacket(buffer.get(), &length);
            FUZZ_CHECK(readResults.contains(result));
            if (result == 0) {
                // Every delivered byte comes from inside the report.
                const size_t delivered = std::min(reportSize, Framing::kHidReportBufferSize);
                FUZZ_CHECK(length + Framing::kHeaderSize <= delivered);
                FUZZ_CHECK(std::memcmp(buffer.get(), report + Framing::kHeaderSize, length) == 0);
            } else if (result != 15) {
                // The length is only given for a packet taken whole.
                FUZZ_CHECK(length == kUnwritten);
            }
        } else {
            result = io.readAck();
            FUZZ_CHECK(ackResults.contains(result));
        }
        FUZZ_CHECK(io.status == result);
        HidDouble::failWritesFrom(0);
    }
    return 0;
}
