#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

namespace RomCmd {

// What one run did, collected while it runs from what the handlers and the report slots see,
// and turned into the one JSON line of --record at its end.
class RunRecord {
public:
    static constexpr int kSchema = 1;

    struct File {
        QString path;
        bool written = false;
    };
    struct Command {
        QString text;
        bool ok = false;
        // Unset when the command failed before any exchange (a bad parameter).
        bool hasResult = false;
        int result = 0;
        bool hasRomStatus = false;
        uint32_t romStatus = 0;
        qint64 durationMs = 0;
        quint64 bytes = 0;
        QVector<File> files;
    };

    void start(const QStringList& arguments);

    void beginCommand(const QString& text);
    // Outside a command (the firmware step's own exchanges) these are ignored.
    void noteResult(int result, bool hasRomStatus, uint32_t romStatus);
    void forgetResult();
    void noteBytes(quint64 bytes);
    void noteFile(const QString& path, bool written);
    void endCommand(bool ok);
    void noteRom(const QString& version, const QString& socRevision, const QString& lifeCycle);

    const QVector<Command>& commands() const { return commandList; }

    // The whole line, "\n" included. device and firmware come from the controller.
    QByteArray line(const QJsonValue& device, const QJsonObject& firmware, int exitStatus,
                    const QString& logFile) const;
    // Path, access, size and SHA-256 of a file as it is now; size and digest are null when
    // it cannot be read.
    static QJsonObject fileObject(const QString& path, bool written);

    // Appends the line with one write, under an exclusive advisory lock, to a file created
    // with mode 0640 when absent. False with *error set when the line did not get in whole.
    static bool append(const QString& path, const QByteArray& line, QString* error);
    static QString userName();

private:
    QStringList commandLine;
    QDateTime startTime;
    QElapsedTimer clock;
    QElapsedTimer commandClock;
    QVector<Command> commandList;
    bool inCommand = false;
    bool romKnown = false;
    QString romVersion;
    QString romSocRevision;
    QString romLifeCycle;
};

}  // namespace RomCmd
