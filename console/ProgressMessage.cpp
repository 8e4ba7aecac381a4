#include "console/ProgressMessage.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace RomCmd {

Q_LOGGING_CATEGORY(progressCategory, "tarvo.progress")

namespace {

// The items as the logging stream used to compose them: one blank between them.
const QLatin1String kProgressItem("  Progress:  ");
const QLatin1String kTotalItem("  Total:  ");

}  // namespace

void logProgress(const char* label, int total, int progress) {
    if (!progressCategory().isInfoEnabled()) {
        return;
    }
    // This runs for every packet: the text is put together in place and handed to the
    // message handler as it stands, where QDebug's stream or qCInfo's QString::vasprintf cost
    // more than the rest of the packet's work. The items are those the stream used to join.
    char progressText[12];
    char totalText[12];
    const char* const progressEnd =
        std::to_chars(progressText, progressText + sizeof progressText, progress).ptr;
    const char* const totalEnd = std::to_chars(totalText, totalText + sizeof totalText, total).ptr;
    char text[64 + sizeof progressText + sizeof totalText + 32];
    char* p = std::copy_n(label, std::min(std::strlen(label), size_t(64)), text);
    p = std::copy_n(kProgressItem.data(), kProgressItem.size(), p);
    p = std::copy<const char*>(progressText, progressEnd, p);
    p = std::copy_n(kTotalItem.data(), kTotalItem.size(), p);
    p = std::copy<const char*>(totalText, totalEnd, p);
    // Kept between calls (the slots run on one thread), so a message allocates nothing.
    thread_local QString message;
    message.resize(0);
    message.append(QLatin1String(text, int(p - text)));
    const QMessageLogContext context(nullptr, 0, nullptr, progressCategory().categoryName());
    qt_message_output(QtInfoMsg, context, message);
}

bool parseProgress(const QString& text, ProgressRecord* record) {
    const int progressAt = text.indexOf(kProgressItem);
    if (progressAt <= 0) {
        return false;
    }
    const int numberAt = progressAt + kProgressItem.size();
    const int totalAt = text.indexOf(kTotalItem, numberAt);
    if (totalAt < 0) {
        return false;
    }
    bool doneOk = false;
    bool totalOk = false;
    const int done = text.midRef(numberAt, totalAt - numberAt).toInt(&doneOk);
    const int total = text.midRef(totalAt + kTotalItem.size()).toInt(&totalOk);
    if (!doneOk || !totalOk) {
        return false;
    }
    // The label stays the same through a transfer: only a new one is copied.
    const QStringRef label = text.leftRef(progressAt);
    if (record->label != label) {
        record->label = label.toString();
    }
    record->done = uint32_t(done);
    record->total = uint32_t(total);
    return true;
}

}  // namespace RomCmd
