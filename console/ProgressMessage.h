#pragma once

#include <QLoggingCategory>
#include <QString>
#include <cstdint>

namespace RomCmd {

// The progress lines of long transfers travel in a category of their own, which logging
// rules can silence.
Q_DECLARE_LOGGING_CATEGORY(progressCategory)

struct ProgressRecord {
    QString label;
    // The engine's counts are unsigned 32-bit values carried in int.
    uint32_t done = 0;
    uint32_t total = 0;
};

// Logs "LABEL  Progress:  N  Total:  M" at info level in progressCategory, with its numbers
// beside the text for the message handler (progressBeingLogged), so that a terminal can show
// one transfer on one rewritten line.
void logProgress(const char* label, int total, int progress);
// Inside a message handler: the numbers of the progress message now being handled on this
// thread; null for any other message.
const ProgressRecord* progressBeingLogged();

}  // namespace RomCmd
