#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <functional>
#include <string>

#include "app/LogFile.h"
#include "app/ProgressLine.h"

namespace RomCmd {

// The process-wide message handler: every message goes to standard output (all levels
// but debug) and, time-stamped and scrambled, to the day's log file beside the program,
// or in the user's state folder when the folder beside the program cannot be written.
// On a terminal the progress messages of one transfer share one rewritten line.
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

    // The log folder beside a program in applicationDirectory.
    static QString besideDirectory(const QString& applicationDirectory);
    // $XDG_STATE_HOME/tarvo_manufacturing_tool/logs, ~/.local/state/... when unset;
    // %LOCALAPPDATA%\tarvo_manufacturing_tool\logs on Windows.
    static QString fallbackDirectory();
    static QString fileName(const QDate& date);
    // The running program's folder, known before the application object exists.
    static QString executableDirectory();

    // Test seams; an empty clock, an empty folder and a null stream restore the defaults.
    // A new folder also forgets the open file and the warnings already given.
    void setClock(Clock clock);
    void setApplicationDirectory(const QString& directory);
    void setConsole(FILE* stream);

    // The folder beside the program and a day's file in it.
    QString logDirectory();
    QString logFilePath(const QDate& date);
    // The file this run writes its lines to, wherever it was opened; empty while none is open.
    QString openFilePath();

private:
    LogHandler() = default;
    void handle(QtMsgType type, const QString& text);
    void nowLocked(QDate* date, QTime* time);
    QString applicationDirectoryLocked();
    FILE* consoleStreamLocked() const;
    bool consoleIsTerminalLocked();
    void consoleLocked(const QByteArray& prefix, const QByteArray& text);
    void progressLocked(const QByteArray& prefix, const ProgressRecord& record);
    bool fileReadyLocked(const QDate& date, const QTime& time);
    bool openLocked(const QDate& date, const QTime& time);
    void writeFileLocked(const std::string& line);
    void closeLocked();

    QMutex mutex;
    Clock clock;
    QString applicationDirectory;
    FILE* console = nullptr;
    enum Terminal { Unknown, IsTerminal, NotTerminal };
    Terminal consoleTerminal = Unknown;
    ProgressLine progressLine;

    // The local time read once per second, and its stamp "[hh:mm:ss]".
    qint64 stampSecond = -1;
    QDate stampDate;
    QTime stampTime;
    std::string stamp;
    // Kept between messages, so composing a line allocates nothing.
    std::string consoleBytes;
    std::string clearBytes;
    std::string scrambleBytes;
    std::string fileBytes;

    // The day's file stays open between messages; the folder is chosen once per run.
    enum Folder { Beside, Fallback, NoFolder };
    Folder folder = Beside;
    LogFile file;
    QDate fileDate;
    int checkedSecond = -1;
    bool fallbackAnnounced = false;
    bool writeFailureReported = false;
};

}  // namespace RomCmd
