#include "tests/common/SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>

namespace RomCmd {
namespace Test {

namespace {

constexpr int kStopBoundMs = 5000;

}  // namespace

SimProcess::SimProcess() = default;

SimProcess::~SimProcess() {
    stop();
}

bool SimProcess::start(const QStringList& arguments, bool withHid, int timeoutMs) {
    stop();
    QStringList args = arguments;
    socket.clear();
    if (withHid) {
        socket = dir.filePath(QStringLiteral("hid.sock"));
        args << QStringLiteral("--hid-socket") << socket << QStringLiteral("--sysfs")
             << sysfsRoot();
    }
    process.reset(new QProcess);
    process->setProgram(romsimPath());
    process->setArguments(args);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setReadChannel(QProcess::StandardOutput);
    // The device's diagnostics are only of interest when a test fails.
    process->setStandardErrorFile(dir.filePath(QStringLiteral("romsim.stderr")));
    process->start();
    QDeadlineTimer deadline(timeoutMs);
    if (!process->waitForStarted(int(deadline.remainingTime()))) {
        stop();
        return false;
    }
    while (!process->canReadLine()) {
        if (process->state() != QProcess::Running || deadline.hasExpired()) {
            stop();
            return false;
        }
        process->waitForReadyRead(
            int(qMax<qint64>(1, qMin<qint64>(100, deadline.remainingTime()))));
    }
    pty = QString::fromLocal8Bit(process->readLine()).trimmed();
    if (pty.isEmpty()) {
        stop();
        return false;
    }
    return true;
}

void SimProcess::stop() {
    if (process) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(kStopBoundMs)) {
                process->kill();
                process->waitForFinished(kStopBoundMs);
            }
        }
        process.reset();
    }
    pty.clear();
}

bool SimProcess::stopCleanly(QString* log) {
    if (!process) {
        return false;
    }
    bool clean = false;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        clean = process->waitForFinished(kStopBoundMs) &&
                process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
    }
    stop();
    if (log) {
        QFile err(dir.filePath(QStringLiteral("romsim.stderr")));
        *log = err.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(err.readAll()) : QString();
    }
    return clean;
}

QProcessEnvironment SimProcess::hidEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), shimPath());
    env.insert(QStringLiteral("TARVO_HIDSIM_SOCKET"), socket);
    env.insert(QStringLiteral("TARVO_SYSFS_ROOT"), sysfsRoot());
    if (!env.contains(QStringLiteral("ASAN_OPTIONS"))) {
        // A preloaded shim comes before the sanitizer runtime in the link order.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
    }
    return env;
}

QString SimProcess::sysfsRoot() const {
    return dir.filePath(QStringLiteral("sys"));
}

QString SimProcess::romsimPath() {
    return QStringLiteral(TARVO_BIN_DIR "/tarvo_romsim");
}

QString SimProcess::shimPath() {
    return QStringLiteral(TARVO_BIN_DIR "/libtarvo_hidsim.so");
}

}  // namespace Test
}  // namespace RomCmd
