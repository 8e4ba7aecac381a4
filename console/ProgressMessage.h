#pragma once

#include <QLoggingCategory>
#include <QString>
#include <cstdint>

namespace RomCmd {

// The progress lines of long transfers travel in a category of their own, so the log
// handler can show one transfer on one rewritten console line when that is a terminal.
Q_DECLARE_LOGGING_CATEGORY(progressCategory)

struct ProgressRecord {
    QString label;
    // The engine's counts are unsigned 32-bit values carried in int.
    uint32_t done = 0;
    uint32_t total = 0;
};

// Logs "LABEL  Progress:  N  Total:  M" at info level in progressCategory.
void logProgress(const char* label, int total, int progress);
// Reads such a message back; false for any other text.
bool parseProgress(const QString& text, ProgressRecord* record);

}  // namespace RomCmd
