#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QProcess>

#include "console/RomConsoleMode.h"
#include "transport/Interruption.h"

namespace RomCmd {

namespace {

// Only "create-image" is carried out; the others are kept for their numbers.
const QStringList imageCommandNames = {
    QStringLiteral("gen-image"),
    QStringLiteral("gen-exip-image"),
    QStringLiteral("create-image"),
};
constexpr int kCreateImage = 2;
constexpr int kWaitSliceMs = 100;
constexpr int kKillWaitMs = 5000;

#ifdef Q_OS_WIN
const char* const kExecutableSuffix = ".exe";
#else
const char* const kExecutableSuffix = "";
#endif

void relayOutput(QProcess& process) {
    const QByteArray chunk = process.readAllStandardOutput();
    if (!chunk.isEmpty()) {
        qInfo().noquote() << QString::fromLocal8Bit(chunk);
    }
}

}  // namespace

bool RomConsoleMode::runImageCommand(const QString& command) {
    qInfo() << "Run command: " << command;
    const QStringList tokens = command.split(' ', Qt::SkipEmptyParts);
    if (tokens.isEmpty()) {
        qCritical() << "Number of command parameter is zero!";
        return false;
    }
    if (tokens.at(0) == imageCommandNames.at(kCreateImage)) {
        return cmdCreateImage(tokens);
    }
    qCritical() << "Command is not exist!"
                << " Command: " << tokens.at(0);
    return false;
}

bool RomConsoleMode::cmdCreateImage(const QStringList& tokens) {
    if (tokens.size() != 2) {
        qCritical() << "Number of parameter is incorrect!";
        return false;
    }
    const QString jsonPath = tokens.at(1);
    if (!QFileInfo::exists(jsonPath)) {
        qCritical() << "Can not find json path: " << jsonPath;
        return false;
    }
    const QStringList arguments = {QStringLiteral("--"), QStringLiteral("create_image"), jsonPath};
    const QString toolPath = QCoreApplication::applicationDirPath() + "/tools/tarvo_img_util" +
                             QLatin1String(kExecutableSuffix);
    if (!QFileInfo::exists(toolPath)) {
        qCritical() << "Can not find image editor tools! Please ensure the integrity of tools "
                       "directory!";
        return false;
    }

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [&process]() { relayOutput(process); });
    process.start(toolPath, arguments, QIODevice::ReadWrite);
    // In slices, so an interruption ends the tool instead of waiting it out.
    bool interrupted = false;
    while (!process.waitForFinished(kWaitSliceMs) && process.state() != QProcess::NotRunning) {
        if (Interruption::requested()) {
            interrupted = true;
            process.kill();
            process.waitForFinished(kKillWaitMs);
            break;
        }
    }
    // Output that arrived together with the exit is not announced by another signal.
    relayOutput(process);
    if (interrupted) {
        return false;
    }
    // A tool that never ran wrote no image and printed nothing: that is no success.
    if (process.error() == QProcess::FailedToStart) {
        qCritical() << "Can not start image editor tools!" << process.errorString();
        return false;
    }
    // The tool explains its own errors in the relayed output; here they fail the command.
    if (process.exitStatus() == QProcess::CrashExit) {
        // After a crash the exit code holds the signal that ended the tool.
        qCritical() << "Image editor tools crashed!"
                    << " signal: " << process.exitCode();
        return false;
    }
    if (process.exitCode() != 0) {
        qCritical() << "Image editor tools failed!"
                    << " exit code: " << process.exitCode();
        return false;
    }
    return true;
}

}  // namespace RomCmd
