#include <QtDebug>

#include "console/RomConsoleMode.h"
#include "transport/Interruption.h"

namespace RomCmd {

namespace {

using CommandHandler = bool (RomConsoleMode::*)(const QStringList&);

}  // namespace

struct RomConsoleMode::ConsoleCommand {
    const char* name;
    // Null for a command that is accepted and does nothing.
    CommandHandler handler;
};

const RomConsoleMode::ConsoleCommand* RomConsoleMode::findCommand(const QString& name) {
    static const ConsoleCommand kConsoleCommands[] = {
        {"query-rte", &RomConsoleMode::cmdQueryRte},
        {"config-rte", &RomConsoleMode::cmdConfigRte},
        {"config-memory", &RomConsoleMode::cmdConfigMemory},
        {"write-memory", &RomConsoleMode::cmdWriteMemory},
        {"read-memory", &RomConsoleMode::cmdReadMemory},
        {"load-image", &RomConsoleMode::cmdLoadImage},
        {"erase-region", &RomConsoleMode::cmdEraseRegion},
        {"erase-chip", &RomConsoleMode::cmdEraseChip},
        {"reset", &RomConsoleMode::cmdReset},
        {"gen-keyblob", nullptr},
        {"verify-checksum", &RomConsoleMode::cmdVerifyChecksum},
        {"load-blfw", &RomConsoleMode::cmdLoadBlfw},
    };
    for (const ConsoleCommand& command : kConsoleCommands) {
        if (name == QLatin1String(command.name)) {
            return &command;
        }
    }
    return nullptr;
}

QStringList RomConsoleMode::splitTokens(const QString& command) {
    return command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool RomConsoleMode::dispatchCommand(const QString& command) {
    runRecord.beginCommand(command);
    const bool ok = dispatchTokens(command);
    runRecord.endCommand(ok);
    return ok;
}

bool RomConsoleMode::dispatchTokens(const QString& command) {
    qInfo() << "Run command: " << command;
    const QStringList tokens = splitTokens(command);
    if (tokens.isEmpty()) {
        qCritical() << "Number of command parameter is zero!";
        return false;
    }
    const ConsoleCommand* found = findCommand(tokens.first());
    if (found == nullptr) {
        qCritical() << "Command is not exist!"
                    << " Command: " << tokens.first();
        return false;
    }
    if (found->handler == nullptr) {
        return true;
    }
    if (found->handler == &RomConsoleMode::cmdEraseRegion ||
        found->handler == &RomConsoleMode::cmdEraseChip) {
        setMemorySizeMb(0);
        // The memory size report sets the erase time-out; without a memory id there is
        // nothing to ask, and the erase handler reports the missing parameter.
        if (tokens.size() >= 2) {
            cmdQueryRte({QStringLiteral("query-rte"), QStringLiteral("4"), tokens.at(1)});
            // The erase's own result and ROM status stand for the command, not the query's.
            runRecord.forgetResult();
        }
        // No new exchange once a signal asked the run to stop.
        if (Interruption::requested()) {
            return false;
        }
    }
    return (this->*found->handler)(tokens);
}

}  // namespace RomCmd
