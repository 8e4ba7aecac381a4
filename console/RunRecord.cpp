#include "console/RunRecord.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>
#include <QUuid>

#include "romcmd/CommandTables.h"

namespace RomCmd {

namespace {

QString utcText(const QDateTime& time) {
    return time.toUTC().toString(Qt::ISODateWithMs);
}

}  // namespace

void RunRecord::start(const QStringList& arguments) {
    commandLine = arguments;
    startTime = QDateTime::currentDateTimeUtc();
    clock.start();
}

void RunRecord::beginCommand(const QString& text) {
    Command command;
    command.text = text;
    commandList.append(command);
    inCommand = true;
    commandClock.start();
}

void RunRecord::noteResult(int result, bool hasRomStatus, uint32_t romStatus) {
    if (!inCommand) {
        return;
    }
    Command& command = commandList.last();
    command.hasResult = true;
    command.result = result;
    command.hasRomStatus = hasRomStatus;
    command.romStatus = romStatus;
}

void RunRecord::forgetResult() {
    if (inCommand) {
        commandList.last().hasResult = false;
        commandList.last().hasRomStatus = false;
    }
}

void RunRecord::noteBytes(quint64 bytes) {
    if (inCommand) {
        commandList.last().bytes = qMax(commandList.last().bytes, bytes);
    }
}

void RunRecord::noteFile(const QString& path, bool written) {
    if (inCommand) {
        commandList.last().files.append(File{path, written});
    }
}

void RunRecord::endCommand(bool ok) {
    if (!inCommand) {
        return;
    }
    Command& command = commandList.last();
    command.ok = ok;
    command.durationMs = commandClock.elapsed();
    inCommand = false;
}

void RunRecord::noteRom(const QString& version, const QString& socRevision,
                        const QString& lifeCycle) {
    romKnown = true;
    romVersion = version;
    romSocRevision = socRevision;
    romLifeCycle = lifeCycle;
}

QJsonObject RunRecord::fileObject(const QString& path, bool written) {
    QJsonObject object{{"path", path}, {"access", written ? "written" : "read"}};
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly) && hash.addData(&file) && file.error() == QFile::NoError) {
        object.insert("size", double(file.pos()));
        object.insert("sha256", QString::fromLatin1(hash.result().toHex()));
    } else {
        object.insert("size", QJsonValue::Null);
        object.insert("sha256", QJsonValue::Null);
    }
    return object;
}

QByteArray RunRecord::line(const QJsonValue& device, const QJsonObject& firmware, int exitStatus,
                           const QString& logFile) const {
    QJsonArray commands;
    for (const Command& command : commandList) {
        QJsonArray files;
        for (const File& file : command.files) {
            files.append(fileObject(file.path, file.written));
        }
        QJsonObject object{{"text", command.text},
                           {"result", command.ok ? "ok" : "failed"},
                           {"duration_ms", double(command.durationMs)},
                           {"bytes", double(command.bytes)},
                           {"files", files}};
        object.insert("code", command.hasResult ? QJsonValue(command.result) : QJsonValue());
        object.insert("code_text", command.hasResult
                                       ? QJsonValue(lookupResultMessage(command.result))
                                       : QJsonValue());
        object.insert("rom_status",
                      command.hasRomStatus ? QJsonValue(double(command.romStatus)) : QJsonValue());
        commands.append(object);
    }
    QJsonValue rom;
    if (romKnown) {
        rom = QJsonObject{{"version", romVersion},
                          {"soc_revision", romSocRevision},
                          {"life_cycle", romLifeCycle}};
    }
    const qint64 elapsed = clock.elapsed();
    const QJsonObject record{
        {"schema", kSchema},
        {"tool_version", QCoreApplication::applicationVersion()},
        {"run_id", QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {"start", utcText(startTime)},
        {"end", utcText(startTime.addMSecs(elapsed))},
        {"duration_ms", double(elapsed)},
        {"host", QSysInfo::machineHostName()},
        {"user", userName()},
        {"command_line", QJsonArray::fromStringList(commandLine)},
        {"device", device},
        {"firmware", firmware},
        {"rom", rom},
        {"commands", commands},
        {"exit_status", exitStatus},
        {"log_file", logFile.isEmpty() ? QJsonValue() : QJsonValue(logFile)},
    };
    return QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace RomCmd
