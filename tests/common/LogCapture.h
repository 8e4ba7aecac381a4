#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace RomCmd {
namespace Test {

// Takes over Qt's message handler while it lives and restores the previous one after.
// Qt keeps one handler per process, so the record is shared and the queries are static;
// a mutex guards it because engines and devices log from their own threads.
class LogCapture {
public:
    using Message = QPair<QtMsgType, QString>;

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static QList<Message> messages();
    static QStringList messages(QtMsgType type);
    static QStringList texts(QtMsgType type) { return messages(type); }
    // Every message as the console shows it, e.g. "[Info] abc".
    static QStringList lines();
    static QStringList lines(const QString& prefix);
    // Texts of one level ("debug", "info", "warning", "critical", "fatal") containing the
    // fragment.
    static QStringList matching(const char* level, const QString& fragment);
    // Index of the first message of this type containing the fragment, or -1.
    static int find(QtMsgType type, const QString& fragment);
    static bool anyContains(const QString& fragment);
    // How many messages read exactly this text.
    static int count(const QString& text);
    // All lines, one per row, for failure output.
    static QString dump();
    static void clear();

private:
    QtMessageHandler previous = nullptr;
};

}  // namespace Test
}  // namespace RomCmd
