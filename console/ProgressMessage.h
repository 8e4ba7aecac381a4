#pragma once

#include <QLoggingCategory>

namespace RomCmd {

// The progress lines of long transfers travel in a category of their own.
Q_DECLARE_LOGGING_CATEGORY(progressCategory)

// Logs "LABEL  Progress:  N  Total:  M" at info level in progressCategory.
void logProgress(const char* label, int total, int progress);

}  // namespace RomCmd
