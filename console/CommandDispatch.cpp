#include <QMap>
#include <QtDebug>

#include "console/RomConsoleMode.h"

namespace RomCmd {

namespace {

enum ConsoleCommand {
    UnknownCommand = 0,
    QueryRte = 1,
    ConfigRte = 2,
    ConfigMemory = 3,
    WriteMemory = 4,
    ReadMemory = 5,
    LoadImage = 6,
    EraseRegion = 7,
    EraseChip = 8,
    Reset = 9,
    GenKeyblob = 10,
    VerifyChecksum = 11,
    LoadBlfw = 12,
};

// "unknown command" holds a blank, so no token can ever match it.
const QMap<int, QString>& consoleCommandNames() {
    static const QMap<int, QString> table{
        {UnknownCommand, "unknown command"},
        {QueryRte, "query-rte"},
        {ConfigRte, "config-rte"},
        {ConfigMemory, "config-memory"},
        {WriteMemory, "write-memory"},
        {ReadMemory, "read-memory"},
        {LoadImage, "load-image"},
        {EraseRegion, "erase-region"},
        {EraseChip, "erase-chip"},
        {Reset, "reset"},
        {GenKeyblob, "gen-keyblob"},
        {VerifyChecksum, "verify-checksum"},
        {LoadBlfw, "load-blfw"},
    };
    return table;
}

int findCommand(const QString& name) {
    const QMap<int, QString>& names = consoleCommandNames();
    for (auto it = names.constBegin(); it != names.constEnd(); ++it) {
        if (it.key() != UnknownCommand && it.value() == name) {
            return it.key();
        }
    }
    return UnknownCommand;
}

}  // namespace

QStringList RomConsoleMode::splitTokens(const QString& command) {
    return command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool RomConsoleMode::dispatchCommand(const QString& command) {
    qInfo() << "Run command: " << command;
    const QStringList tokens = splitTokens(command);
    if (tokens.isEmpty()) {
        qCritical() << "Number of command parameter is zero!";
        return false;
    }
    const int number = findCommand(tokens.first());
    switch (number) {
        case QueryRte:
            return cmdQueryRte(tokens);
        case ConfigRte:
            return cmdConfigRte(tokens);
        case ConfigMemory:
            return cmdConfigMemory(tokens);
        case WriteMemory:
            return cmdWriteMemory(tokens);
        case ReadMemory:
            return cmdReadMemory(tokens);
        case LoadImage:
            return cmdLoadImage(tokens);
        case EraseRegion:
        case EraseChip: {
            memorySizeMb = 0;
            // The memory size report sets the erase time-out; without a memory id there is
            // nothing to ask, and the erase handler reports the missing parameter.
            if (tokens.size() >= 2) {
                cmdQueryRte({QStringLiteral("query-rte"), QStringLiteral("4"), tokens.at(1)});
            }
            return number == EraseRegion ? cmdEraseRegion(tokens) : cmdEraseChip(tokens);
        }
        case Reset:
            return cmdReset(tokens);
        case VerifyChecksum:
            return cmdVerifyChecksum(tokens);
        case LoadBlfw:
            return cmdLoadBlfw(tokens);
        case GenKeyblob:
            return true;
        default:
            qCritical() << "Command is not exist!"
                        << " Command: " << tokens.first();
            return false;
    }
}

}  // namespace RomCmd
