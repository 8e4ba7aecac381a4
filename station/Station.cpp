#include "station/Station.h"

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

namespace RomCmd {

namespace {

constexpr int kPollMs = 500;
// The listing opens nothing; one that takes this long hangs.
constexpr int kListingBoundMs = 10000;
// At most 10 redraws a second.
constexpr int kRedrawMs = 100;
// A stopped run ends after its exchange under way, each bounded by the tool's time-out.
constexpr int kStopBoundMs = 60000;
constexpr int kExitPassed = 0;
constexpr int kExitNoDevice = 2;
constexpr int kExitFailed = 3;

// Its own process group: a Ctrl-C on the terminal reaches the runner only, which decides
// what the runs get.
class RunProcess : public QProcess {
protected:
    void setupChildProcess() override { ::setpgid(0, 0); }
};

const QRegularExpression kRunCommand(QStringLiteral("^\\[Info\\] Run command:  \"(.*)\"$"));
const QRegularExpression kProgress(QStringLiteral("Progress:  (\\d+)  Total:  (\\d+)"));
const QLatin1String kCritical("[Critical] ");
const QLatin1String kRunFailed("[Critical] Run command failed!");

QString seconds(qint64 ms) {
    return QString::number(double(ms) / 1000.0, 'f', 1) + QLatin1String(" s");
}

}  // namespace

Station::Station(const StationOptions& stationOptions, FILE* output, bool isTerminal)
    : options(stationOptions), out(output), terminal(isTerminal) {
    toolPath = options.toolPath.isEmpty()
                   ? QCoreApplication::applicationDirPath() + "/tarvo_manufacturing_tool"
                   : options.toolPath;
    for (const StationDevice& device : options.devices) {
        auto* slot = new Slot;
        slot->device = device;
        boards.append(slot);
    }
    pollTimer.setInterval(kPollMs);
    connect(&pollTimer, &QTimer::timeout, this, &Station::poll);
    listingBound.setSingleShot(true);
    connect(&listingBound, &QTimer::timeout, this, [this] {
        if (listing) {
            listing->kill();
        }
    });
    redrawTimer.setInterval(kRedrawMs);
    connect(&redrawTimer, &QTimer::timeout, this, [this] {
        if (dirty) {
            redraw();
        }
    });
    stopBound.setSingleShot(true);
    connect(&stopBound, &QTimer::timeout, this, [this] {
        for (Slot* slot : boards) {
            if (slot->state == State::Running) {
                slot->process->kill();
            }
        }
    });
}

Station::~Station() {
    for (Slot* slot : boards) {
        if (slot->process && slot->process->state() != QProcess::NotRunning) {
            slot->process->kill();
            slot->process->waitForFinished(5000);
        }
        delete slot;
    }
}

void Station::start() {
    clock.start();
    if (terminal) {
        redrawTimer.start();
    }
    if (!options.watch) {
        for (Slot* slot : boards) {
            slot->state = State::Queued;
        }
    }
    if (needsListing()) {
        poll();
        pollTimer.start();
        return;
    }
    if (options.watch) {
        poll();
        pollTimer.start();
        return;
    }
    startRuns();
    checkDone();
}

bool Station::needsListing() const {
    if (options.allUsb) {
        return !options.watch ? !listingKnown : true;
    }
    if (!options.watch) {
        return false;
    }
    for (const Slot* slot : boards) {
        if (slot->device.option == QLatin1String("-u") &&
            !slot->device.value.startsWith(QLatin1Char('/'))) {
            return true;
        }
    }
    return false;
}

void Station::poll() {
    if (ended) {
        return;
    }
    if (needsListing()) {
        if (listing) {
            return;  // the last one is still under way
        }
        listing = std::make_unique<QProcess>();
        listing->setProcessChannelMode(QProcess::SeparateChannels);
        connect(listing.get(), QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                &Station::listed);
        connect(listing.get(), &QProcess::errorOccurred, this,
                [this](QProcess::ProcessError error) {
                    if (error == QProcess::FailedToStart) {
                        listed(-1, QProcess::CrashExit);
                    }
                });
        listing->start(toolPath, {QStringLiteral("--list")});
        listingBound.start(kListingBoundMs);
        return;
    }
    if (!options.watch) {
        return;
    }
    watchBoards();
}

void Station::watchBoards() {
    for (Slot* slot : boards) {
        const bool here = present(*slot);
        if (slot->state == State::Waiting && here && !stopSignal) {
            slot->state = State::Queued;
        } else if (slot->state == State::Leaving && !here) {
            slot->state = State::Waiting;
            event(*slot, QStringLiteral("board left"));
        }
    }
    startRuns();
    markDirty();
}

void Station::listed(int exitCode, QProcess::ExitStatus exitStatus) {
    listingBound.stop();
    if (!listing) {
        return;
    }
    const QString text = QString::fromLocal8Bit(listing->readAllStandardOutput());
    listing->disconnect(this);
    listing.release()->deleteLater();
    // 2: the listing found nothing; anything else but 0 is a listing that failed.
    const bool ok = exitStatus == QProcess::NormalExit && (exitCode == 0 || exitCode == 2);
    if (!ok && !listingKnown && options.allUsb && !options.watch) {
        std::fprintf(stderr, "tarvo_station: the device listing (%s --list) failed\n",
                     qPrintable(toolPath));
        finish(kExitNoDevice);
        return;
    }
    if (ok) {
        listedDevices = parseListing(text);
        listingKnown = true;
    }
    if (options.allUsb) {
        for (const ListedDevice& device : listedDevices) {
            if (device.kind != QLatin1String("hid")) {
                continue;
            }
            const StationDevice named{QStringLiteral("-u"), device.selector()};
            bool known = false;
            for (const Slot* slot : boards) {
                known = known || slot->device.text() == named.text();
            }
            if (!known && !stopSignal) {
                auto* slot = new Slot;
                slot->device = named;
                slot->state = options.watch ? State::Waiting : State::Queued;
                boards.append(slot);
            }
        }
        if (!options.watch) {
            pollTimer.stop();
            startRuns();
            checkDone();
            return;
        }
    }
    if (options.watch) {
        watchBoards();
    }
}

bool Station::present(const Slot& slot) const {
    const QString& value = slot.device.value;
    if (slot.device.option == QLatin1String("-p")) {
        return QFileInfo::exists(value.startsWith(QLatin1Char('/')) ? value : "/dev/" + value);
    }
    if (value.startsWith(QLatin1Char('/'))) {
        return QFileInfo::exists(value);
    }
    for (const ListedDevice& device : listedDevices) {
        if (device.kind == QLatin1String("hid") && device.matches(value)) {
            return true;
        }
    }
    return false;
}

void Station::startRuns() {
    if (stopSignal) {
        return;
    }
    int running = 0;
    for (const Slot* slot : boards) {
        running += slot->state == State::Running;
    }
    for (Slot* slot : boards) {
        if (options.jobs > 0 && running >= options.jobs) {
            break;
        }
        if (slot->state == State::Queued) {
            launch(*slot);
            ++running;
        }
    }
}

void Station::launch(Slot& slot) {
    slot.state = State::Running;
    slot.command.clear();
    slot.percent = -1;
    slot.exitStatus = -1;
    slot.message.clear();
    slot.pending.clear();
    slot.clock.start();
    slot.process = std::make_unique<RunProcess>();
    QProcess* process = slot.process.get();
    process->setProcessChannelMode(QProcess::MergedChannels);
    Slot* target = &slot;
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, target] { readOutput(*target); });
    connect(
        process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
        [this, target](int code, QProcess::ExitStatus status) { runEnded(*target, code, status); });
    connect(process, &QProcess::errorOccurred, this, [this, target](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            target->message =
                QStringLiteral("the tool could not be started: ") + target->process->errorString();
            runEnded(*target, -1, QProcess::CrashExit);
        }
    });
    QStringList arguments = slot.device.arguments() + options.toolOptions;
    if (!options.recordFile.isEmpty()) {
        arguments << QStringLiteral("--record") << options.recordFile;
    }
    event(slot, QStringLiteral("started"));
    process->start(toolPath, arguments);
    markDirty();
}

void Station::readOutput(Slot& slot) {
    slot.pending += slot.process->readAllStandardOutput();
    for (;;) {
        const int end = slot.pending.indexOf('\n');
        if (end < 0) {
            break;
        }
        const QString line = QString::fromLocal8Bit(slot.pending.left(end)).trimmed();
        slot.pending.remove(0, end + 1);
        if (!line.isEmpty()) {
            takeLine(slot, line);
        }
    }
}

void Station::takeLine(Slot& slot, const QString& line) {
    const QRegularExpressionMatch command = kRunCommand.match(line);
    if (command.hasMatch()) {
        if (!slot.command.isEmpty()) {
            event(slot, QStringLiteral("command done: ") + slot.command);
        }
        slot.command = command.captured(1);
        slot.percent = -1;
        markDirty();
        return;
    }
    const QRegularExpressionMatch progress = kProgress.match(line);
    if (progress.hasMatch()) {
        const double total = progress.captured(2).toDouble();
        const int percent = total > 0 ? int(100.0 * progress.captured(1).toDouble() / total) : 0;
        if (percent != slot.percent) {
            slot.percent = percent;
            markDirty();
        }
        return;
    }
    // The tool's first critical line says why; the generic one after it names the command.
    if (line.startsWith(kCritical) && slot.message.isEmpty() && !line.startsWith(kRunFailed)) {
        slot.message = line.mid(kCritical.size());
    }
}

void Station::runEnded(Slot& slot, int exitCode, QProcess::ExitStatus status) {
    if (slot.state != State::Running) {
        return;
    }
    readOutput(slot);
    slot.durationMs = slot.clock.elapsed();
    slot.exitStatus = status == QProcess::NormalExit ? exitCode : -1;
    const bool passed = slot.exitStatus == kExitPassed;
    if (status != QProcess::NormalExit && slot.message.isEmpty()) {
        slot.message = QStringLiteral("the tool ended abnormally");
    }
    if (!slot.command.isEmpty()) {
        event(slot,
              QStringLiteral("command %1: %2")
                  .arg(passed ? QStringLiteral("done") : QStringLiteral("failed"), slot.command));
    }
    passed ? ++slot.passed : ++slot.failed;
    slot.state = options.watch ? State::Leaving : State::Done;
    event(slot, QStringLiteral("finished: %1, exit status %2, %3%4")
                    .arg(passed ? QStringLiteral("passed") : QStringLiteral("FAILED"))
                    .arg(slot.exitStatus)
                    .arg(seconds(slot.durationMs))
                    .arg(slot.message.isEmpty() ? QString() : QStringLiteral(": ") + slot.message));
    slot.process->disconnect(this);
    slot.process.release()->deleteLater();
    markDirty();
    startRuns();
    checkDone();
}

void Station::checkDone() {
    if (ended) {
        return;
    }
    bool running = false;
    bool open = false;
    for (const Slot* slot : boards) {
        running = running || slot->state == State::Running;
        open = open || slot->state == State::Queued || slot->state == State::Running;
    }
    if (stopSignal) {
        if (!running) {
            for (Slot* slot : boards) {
                if (slot->state == State::Queued) {
                    slot->state = State::NotRun;
                }
            }
            finish(128 + stopSignal);
        }
        return;
    }
    if (options.watch || open || (options.allUsb && !listingKnown)) {
        return;
    }
    if (boards.isEmpty()) {
        std::fprintf(stderr, "tarvo_station: no device found\n");
        finish(kExitNoDevice);
        return;
    }
    bool failed = false;
    for (const Slot* slot : boards) {
        failed = failed || slot->exitStatus != kExitPassed;
    }
    finish(failed ? kExitFailed : kExitPassed);
}

void Station::interrupt(int signalNumber) {
    if (ended) {
        return;
    }
    const bool first = stopSignal == 0;
    if (first) {
        stopSignal = signalNumber;
    }
    // --watch and Ctrl-C: the boards under way finish first; the runs are stopped by a second
    // Ctrl-C, by SIGTERM, and outside --watch at once.
    const bool stopNow = !options.watch || signalNumber == SIGTERM || !first;
    if (stopNow && !stopRuns) {
        stopRuns = true;
        for (Slot* slot : boards) {
            if (slot->state == State::Running && slot->process->processId() > 0) {
                ::kill(pid_t(slot->process->processId()), signalNumber);
            }
        }
        stopBound.start(kStopBoundMs);
    }
    if (first || stopNow) {
        notice = stopNow ? QStringLiteral("tarvo_station: stopping the runs")
                         : QStringLiteral(
                               "tarvo_station: finishing the runs under way (Ctrl-C "
                               "again stops them)");
        if (!terminal) {
            std::fprintf(out, "%s\n", qPrintable(notice));
            std::fflush(out);
        }
    }
    markDirty();
    checkDone();
}

void Station::finish(int exitStatus) {
    if (ended) {
        return;
    }
    ended = true;
    pollTimer.stop();
    redrawTimer.stop();
    if (terminal) {
        redraw();
    }
    printSummary();
    emit finished(exitStatus);
}

QString Station::slotName(const Slot& slot) const {
    return QString::number(boards.indexOf(const_cast<Slot*>(&slot)) + 1);
}

void Station::event(const Slot& slot, const QString& text) {
    if (terminal) {
        return;
    }
    std::fprintf(out, "slot %s %s: %s\n", qPrintable(slotName(slot)),
                 qPrintable(slot.device.text()), qPrintable(text));
    std::fflush(out);
}

void Station::markDirty() {
    dirty = true;
}

QString Station::resultText(const Slot& slot) const {
    switch (slot.state) {
        case State::Waiting:
            return QStringLiteral("waiting for a board");
        case State::Queued:
            return QStringLiteral("queued");
        case State::Running:
            return QStringLiteral("running");
        case State::NotRun:
            return QStringLiteral("not run");
        case State::Done:
        case State::Leaving:
            break;
    }
    const QString result =
        slot.exitStatus == kExitPassed ? QStringLiteral("passed") : QStringLiteral("FAILED");
    return slot.state == State::Leaving
               ? result + QStringLiteral(", waiting for the board to leave")
               : result;
}

QStringList Station::tableLines() const {
    QStringList lines;
    lines << QStringLiteral("%1  %2  %3  %4  %5  %6")
                 .arg(QStringLiteral("slot"), -4)
                 .arg(QStringLiteral("device"), -28)
                 .arg(QStringLiteral("command"), -36)
                 .arg(QStringLiteral("%"), 4)
                 .arg(QStringLiteral("time"), 8)
                 .arg(options.watch ? QStringLiteral("passed/failed  result")
                                    : QStringLiteral("result"));
    for (const Slot* slot : boards) {
        const qint64 ms = slot->state == State::Running ? slot->clock.elapsed() : slot->durationMs;
        QString command = slot->state == State::Running ? slot->command : QString();
        if (command.size() > 36) {
            command = command.left(33) + QStringLiteral("...");
        }
        QString result = resultText(*slot);
        if (options.watch) {
            result = QStringLiteral("%1/%2").arg(slot->passed).arg(slot->failed).leftJustified(13) +
                     QStringLiteral("  ") + result;
        }
        lines << QStringLiteral("%1  %2  %3  %4  %5  %6")
                     .arg(slotName(*slot), -4)
                     .arg(slot->device.text(), -28)
                     .arg(command, -36)
                     .arg(slot->state == State::Running && slot->percent >= 0
                              ? QString::number(slot->percent)
                              : QString(),
                          4)
                     .arg(ms > 0 ? seconds(ms) : QString(), 8)
                     .arg(result);
    }
    if (!notice.isEmpty()) {
        lines << notice;
    }
    return lines;
}

void Station::redraw() {
    dirty = false;
    QByteArray text;
    // Back to the table's first line; each line is cleared before it is written again.
    if (drawnLines > 0) {
        text += "\r\x1b[" + QByteArray::number(drawnLines) + "A";
    }
    const QStringList lines = tableLines();
    for (const QString& line : lines) {
        text += "\x1b[2K" + line.toLocal8Bit() + "\n";
    }
    drawnLines = lines.size();
    std::fwrite(text.constData(), 1, size_t(text.size()), out);
    std::fflush(out);
}

void Station::printSummary() {
    QStringList lines;
    lines << QString() << QStringLiteral("Summary:");
    lines << QStringLiteral("%1  %2  %3  %4  %5  %6")
                 .arg(QStringLiteral("slot"), -4)
                 .arg(QStringLiteral("device"), -28)
                 .arg(QStringLiteral("result"), -7)
                 .arg(QStringLiteral("exit"), 4)
                 .arg(QStringLiteral("time"), 8)
                 .arg(options.watch ? QStringLiteral("passed/failed") : QStringLiteral("message"));
    int passed = 0;
    int failed = 0;
    int notRun = 0;
    for (const Slot* slot : boards) {
        passed += slot->passed;
        failed += slot->failed;
        QString result;
        QString last;
        if (slot->state == State::NotRun ||
            (slot->exitStatus < 0 && slot->passed + slot->failed == 0)) {
            result = QStringLiteral("not run");
            ++notRun;
        } else {
            result = slot->exitStatus == kExitPassed ? QStringLiteral("passed")
                                                     : QStringLiteral("FAILED");
            last = QString::number(slot->exitStatus);
        }
        lines << QStringLiteral("%1  %2  %3  %4  %5  %6")
                     .arg(slotName(*slot), -4)
                     .arg(slot->device.text(), -28)
                     .arg(result, -7)
                     .arg(last, 4)
                     .arg(slot->durationMs > 0 ? seconds(slot->durationMs) : QString(), 8)
                     .arg(options.watch
                              ? QStringLiteral("%1/%2").arg(slot->passed).arg(slot->failed)
                              : slot->message);
    }
    lines << QStringLiteral("Total: %1 boards, %2 passed, %3 failed%4, %5")
                 .arg(passed + failed)
                 .arg(passed)
                 .arg(failed)
                 .arg(notRun > 0 ? QStringLiteral(", %1 boards not run").arg(notRun) : QString())
                 .arg(seconds(clock.elapsed()));
    for (QString line : lines) {
        while (line.endsWith(QLatin1Char(' '))) {
            line.chop(1);
        }
        std::fprintf(out, "%s\n", qPrintable(line));
    }
    std::fflush(out);
}

}  // namespace RomCmd
