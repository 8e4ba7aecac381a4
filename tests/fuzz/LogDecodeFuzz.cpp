// The log decoder, fed the fuzz input as a log file; the input's first line also goes through
// the scrambler as a message and must decode back to itself.

#include <QByteArray>

#include "app/LogDecode.h"
#include "app/LogScrambler.h"
#include "tests/fuzz/FuzzInput.h"

using namespace RomCmd;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    // Lines decode independently: a few per input cover the decoder, more only slow it down.
    for (int lines = 0; lines < 16 && start < size; ++lines) {
        size_t end = start;
        while (end < size && text[end] != '\n')
            ++end;
        if (end < size)
            ++end;
        // Raw data: the decoder sees exactly the line's bytes, without a terminating zero.
        const QByteArray line = QByteArray::fromRawData(text + start, int(end - start));
        const QByteArray printed = LogDecode::decodeLine(line);
        FUZZ_CHECK(printed.endsWith('\n'));
        if (start == 0) {
            // As the log handler stores a message: behind its level prefix.
            const QByteArray clearText = "[Info] " + line;
            const QByteArray stored = "[12:34:56]" + LogScrambler::scramble(clearText);
            FUZZ_CHECK(LogDecode::decodeLine(stored) == "[12:34:56] " + clearText + '\n');
        }
        start = end;
    }
    return 0;
}
