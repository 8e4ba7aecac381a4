#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>

#include "console/ProgressMessage.h"

namespace RomCmd {

// One transfer's progress on a terminal: a single console line, rewritten in place with
// label, percent, bytes done of total, rate and time left, for example
// "[Info] Load Image.   45%  7.2 MiB of 16.0 MiB  3.1 MiB/s  0:03 left".
class ProgressLine {
public:
    // Redraws at most this often while a transfer goes on; its first and last state always.
    static constexpr int64_t kRedrawMs = 100;

    // Appends to `out` what the terminal needs for this progress message: the end of another
    // transfer's line, and the redrawn line unless it was drawn very recently. `nowMs` is a
    // monotonic time; `columns` the terminal's width (0: unknown), used when a line starts.
    void update(const QByteArray& prefix, const ProgressRecord& record, int64_t nowMs, int columns,
                std::string* out);
    // Ends the line with a line feed and the empty line that follows every console message.
    void close(std::string* out);
    bool isOpen() const { return open; }

private:
    bool open = false;
    QString label;
    uint32_t total = 0;
    uint32_t lastDone = 0;
    uint32_t firstDone = 0;
    int64_t firstMs = 0;
    int64_t drawnMs = 0;
    size_t drawnLength = 0;
    int columns = 0;
};

}  // namespace RomCmd
