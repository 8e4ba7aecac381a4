#include "tests/common/ToolRun.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

namespace RomCmd {
namespace Test {

QString writeFileIn(const QString& folder, const QString& name, const QByteArray& content) {
    const QString path = folder + '/' + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        return QString();
    }
    return path;
}

namespace {

void copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + "/" + it.fileName();
        if (it.fileInfo().isDir()) {
            copyTree(source, target);
        } else {
            QFile::copy(source, target);
            QFile::setPermissions(target, QFile::permissions(source));
        }
    }
}

}  // namespace

ToolRun::ToolRun() {
    const QString bin = QStringLiteral(TARVO_BIN_DIR);
    const QString tool = toolPath();
    QFile::copy(bin + "/tarvo_manufacturing_tool", tool);
    QFile::setPermissions(tool, QFile::permissions(bin + "/tarvo_manufacturing_tool"));
    QFile::copy(bin + "/console_instruction", dir.path() + "/console_instruction");
    for (const char* folder : {"tools", "bl_fw"}) {
        if (QDir(bin + "/" + folder).exists()) {
            copyTree(bin + "/" + folder, dir.path() + "/" + folder);
        }
    }
}

QString ToolRun::toolPath() const {
    return dir.path() + "/tarvo_manufacturing_tool";
}

ToolResult ToolRun::run(const QStringList& arguments, const QProcessEnvironment& environment,
                        int timeoutMs) const {
    ToolResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(dir.path());
    process.start(toolPath(), arguments);
    if (!process.waitForStarted(10000)) {
        return result;
    }
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

std::unique_ptr<QProcess> ToolRun::start(const QStringList& arguments,
                                         const QProcessEnvironment& environment) const {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setWorkingDirectory(dir.path());
    process->start(toolPath(), arguments);
    process->waitForStarted(10000);
    return process;
}

bool waitForOutput(QProcess& process, const QString& text, int boundMs, QString* output) {
    QDeadlineTimer deadline(boundMs);
    for (;;) {
        *output += QString::fromLocal8Bit(process.readAll());
        if (output->contains(text)) {
            return true;
        }
        if (deadline.hasExpired() || process.state() != QProcess::Running) {
            return false;
        }
        process.waitForReadyRead(int(qBound<qint64>(1, deadline.remainingTime(), 100)));
    }
}

QString ToolRun::decodedLog() const {
    const QString logFile = dir.path() + "/logs/tarvo_manufacturing_tool/" +
                            QDate::currentDate().toString("yyyy-MM-dd") + ".log";
    QProcess decoder;
    decoder.start(QStringLiteral(TARVO_BIN_DIR "/tarvo_log_decode"), {logFile});
    if (!decoder.waitForFinished(30000)) {
        decoder.kill();
        decoder.waitForFinished(5000);
        return {};
    }
    return QString::fromLocal8Bit(decoder.readAllStandardOutput());
}

}  // namespace Test
}  // namespace RomCmd
