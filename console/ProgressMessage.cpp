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

// Set by logProgress only while the message handler runs on this thread: Qt calls the
// handler synchronously, so the record cannot outlive the message it belongs to.
thread_local const ProgressRecord* beingLogged = nullptr;

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
    const int labelLength = int(std::min(std::strlen(label), size_t(64)));
    char* p = std::copy_n(label, labelLength, text);
    p = std::copy_n(kProgressItem.data(), kProgressItem.size(), p);
    p = std::copy<const char*>(progressText, progressEnd, p);
    p = std::copy_n(kTotalItem.data(), kTotalItem.size(), p);
    p = std::copy<const char*>(totalText, totalEnd, p);
    // Kept between calls (the slots run on one thread), so a message allocates nothing.
    thread_local QString message;
    message.resize(0);
    message.append(QLatin1String(text, int(p - text)));
    // The label stays the same through a transfer: only a new one is copied.
    thread_local ProgressRecord record;
    const QLatin1String labelText(text, labelLength);
    if (record.label != labelText) {
        record.label = labelText;
    }
    record.done = uint32_t(progress);
    record.total = uint32_t(total);
    const QMessageLogContext context(nullptr, 0, nullptr, progressCategory().categoryName());
    beingLogged = &record;
    qt_message_output(QtInfoMsg, context, message);
    beingLogged = nullptr;
}

const ProgressRecord* progressBeingLogged() {
    return beingLogged;
}

}  // namespace RomCmd
