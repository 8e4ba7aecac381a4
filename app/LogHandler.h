#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <functional>

namespace RomCmd {

// The process-wide message handler: every message goes to standard output (all levels
// but debug) and, time-stamped and scrambled, to the day's log file beside the program.
// Nothing in here may log: the handler holds a non-recursive mutex while it runs.
class LogHandler {
public:
    using Clock = std::function<QDateTime()>;

    static LogHandler& instance();
    static void install();
    static void handleMessage(QtMsgType type, const QMessageLogContext& context,
                              const QString& text);

    static QByteArray prefix(QtMsgType type);
    // "[hh:mm:ss]" followed by the scrambled prefix and text, without the line feed.
    static QByteArray fileLine(const QTime& time, QtMsgType type, const QString& text);

    // Test seams; an empty clock, an empty folder and a null stream restore the defaults.
    void setClock(Clock clock);
    void setApplicationDirectory(const QString& directory);
    void setConsole(FILE* stream);

    QString logDirectory();
    QString logFilePath(const QDate& date);

private:
    LogHandler() = default;
    void handle(QtMsgType type, const QString& text);
    QString applicationDirectoryLocked();

    QMutex mutex;
    Clock clock;
    QString applicationDirectory;
    FILE* console = nullptr;
};

}  // namespace RomCmd
