#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <QVector>
#include <cstdio>
#include <memory>

#include "station/DeviceListing.h"
#include "station/StationOptions.h"

namespace RomCmd {

// Runs the tool once per board, many boards at once, and shows what each slot does: a live
// table on a terminal, one line per event in a pipe, a summary at the end.
class Station : public QObject {
    Q_OBJECT

public:
    Station(const StationOptions& options, FILE* out, bool terminal);
    ~Station() override;

    void start();
    // The first SIGINT or SIGTERM stops the runs (in --watch: SIGINT lets the runs under way
    // finish, a second one stops them); each stopped run still writes its record.
    void interrupt(int signalNumber);

signals:
    void finished(int exitStatus);

private:
    enum class State { Waiting, Queued, Running, Done, Leaving, NotRun };
    struct Slot {
        StationDevice device;
        State state = State::Waiting;
        std::unique_ptr<QProcess> process;
        QByteArray pending;
        QString command;
        int percent = -1;
        QElapsedTimer clock;
        qint64 durationMs = 0;
        int exitStatus = -1;
        QString message;
        int passed = 0;
        int failed = 0;
    };

    void poll();
    void listed(int exitCode, QProcess::ExitStatus exitStatus);
    // --watch: a board that arrived queues its slot, one that left makes it wait again.
    void watchBoards();
    bool present(const Slot& slot) const;
    bool needsListing() const;
    void startRuns();
    void launch(Slot& slot);
    void readOutput(Slot& slot);
    void takeLine(Slot& slot, const QString& line);
    void runEnded(Slot& slot, int exitCode, QProcess::ExitStatus status);
    void checkDone();
    void finish(int exitStatus);

    void event(const Slot& slot, const QString& text);
    void markDirty();
    void redraw();
    QStringList tableLines() const;
    void printSummary();
    QString slotName(const Slot& slot) const;
    QString resultText(const Slot& slot) const;

    StationOptions options;
    QString toolPath;
    FILE* out;
    bool terminal;
    QVector<Slot*> boards;
    std::unique_ptr<QProcess> listing;
    QVector<ListedDevice> listedDevices;
    bool listingKnown = false;
    QTimer pollTimer;
    QTimer listingBound;
    QTimer redrawTimer;
    QTimer stopBound;
    bool dirty = false;
    // On a terminal a notice is the table's last line, so the redraw keeps its place.
    QString notice;
    int drawnLines = 0;
    QElapsedTimer clock;
    int stopSignal = 0;
    bool stopRuns = false;
    bool ended = false;
};

}  // namespace RomCmd
