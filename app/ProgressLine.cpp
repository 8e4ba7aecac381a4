#include "app/ProgressLine.h"

#include <cstdio>

namespace RomCmd {

namespace {

std::string sizeText(double bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    } else if (bytes < 1024.0 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
    } else if (bytes < 1024.0 * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    } else {
        std::snprintf(text, sizeof text, "%.2f GiB", bytes / (1024.0 * 1024 * 1024));
    }
    return text;
}

std::string durationText(double seconds) {
    // Rounded up: a transfer with a fraction of a second left is not done yet.
    const long long s = static_cast<long long>(seconds + 0.999);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    }
    return text;
}

// Label, percent, bytes done of total, rate and time left; "--" while the rate is unknown.
std::string lineText(const ProgressRecord& record, double bytesPerSecond) {
    const bool finished = record.done >= record.total;
    const unsigned percent = finished ? 100u : unsigned(uint64_t(record.done) * 100 / record.total);
    char head[16];
    std::snprintf(head, sizeof head, "  %3u%%  ", percent);
    std::string text = record.label.toStdString() + head + sizeText(record.done) + " of " +
                       sizeText(record.total) + "  ";
    text += bytesPerSecond > 0 ? sizeText(bytesPerSecond) + "/s" : std::string("-- B/s");
    if (finished) {
        text += "  0:00 left";
    } else if (bytesPerSecond > 0) {
        text += "  " + durationText((record.total - record.done) / bytesPerSecond) + " left";
    } else {
        text += "  --:-- left";
    }
    return text;
}

}  // namespace

void ProgressLine::update(const QByteArray& prefix, const ProgressRecord& record, int64_t nowMs,
                          int terminalColumns, std::string* out) {
    // Another transfer, or the same one begun again, gets a line of its own.
    if (open && (record.label != label || record.total != total || record.done < lastDone)) {
        close(out);
    }
    const bool first = !open;
    if (first) {
        open = true;
        label = record.label;
        total = record.total;
        firstDone = record.done;
        firstMs = nowMs;
        drawnLength = 0;
        columns = terminalColumns;
    }
    lastDone = record.done;
    const bool finished = record.done >= record.total;
    if (!first && !finished && nowMs - drawnMs < kRedrawMs) {
        return;
    }
    drawnMs = nowMs;
    const int64_t elapsedMs = nowMs - firstMs;
    const double rate =
        elapsedMs > 0 ? double(record.done - firstDone) * 1000.0 / double(elapsedMs) : 0.0;
    std::string line = prefix.toStdString() + lineText(record, rate);
    // A line that wraps cannot be rewritten from its start.
    if (columns > 1 && line.size() >= size_t(columns)) {
        line.resize(size_t(columns) - 1);
    }
    // Blanks over the rest of a longer earlier text, rather than a control sequence that
    // not every terminal knows.
    const size_t length = line.size();
    if (length < drawnLength) {
        line.append(drawnLength - length, ' ');
    }
    drawnLength = length;
    out->append("\r").append(line);
    if (finished) {
        close(out);
    }
}

void ProgressLine::close(std::string* out) {
    if (!open) {
        return;
    }
    out->append("\n\n");
    open = false;
}

}  // namespace RomCmd
