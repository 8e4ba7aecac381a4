#include <QtDebug>
#include <cstring>

#include "console/CommandParameters.h"
#include "console/RomConsoleMode.h"
#include "romcmd/CommandTables.h"
#include "transport/ResultCode.h"

namespace RomCmd {

namespace {

// words (1 byte + 3 reserved), periphMask, speed: the part of SerialInfParam the ROM takes.
constexpr int kConfigRecordLength = 12;

}  // namespace

QString RomConsoleMode::statusText(int status) {
    return lookupResultMessage(status);
}

bool RomConsoleMode::cmdQueryRte(const QStringList& tokens) {
    // Any other token count asks with id 0 and argument 0.
    const char* const notNumber = "Parameter is not a number!";
    uint32_t rteId = 0;
    uint32_t arg = 0;
    if ((tokens.size() == 2 || tokens.size() == 3) &&
        !tokenToUInt(tokens.at(1), 10, notNumber, &rteId)) {
        return false;
    }
    if (tokens.size() == 3 && !tokenToUInt(tokens.at(2), 16, notNumber, &arg)) {
        return false;
    }
    const int status = noted(romCmd->queryRte(rteId, arg));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "QueryRTE failed!"
                                         << " rteId: " << rteId << " arg: " << arg,
                             status);
    }
    return true;
}

bool RomConsoleMode::cmdConfigRte(const QStringList& tokens) {
    uint32_t mask = 0;
    uint32_t baudRate = 0;
    if (!hasTokenCount(tokens, 3) ||
        !tokenToUInt(tokens.at(1), 16, "Parameter 'PeripheralMask' is not a number!", &mask) ||
        !tokenToUInt(tokens.at(2), 10, "Parameter 'BaudRate' is not a number!", &baudRate)) {
        return false;
    }
    SerialInfParam record;
    std::memset(&record, 0, sizeof(record));
    record.words = 3;
    record.periphMask = mask;
    record.speed = baudRate;
    const int status =
        noted(romCmd->configRte(reinterpret_cast<const uint8_t*>(&record), kConfigRecordLength));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "ConfigRTE failed!"
                                         << " peripheral: " << mask << " baudRate: " << baudRate,
                             status);
    }
    return true;
}

bool RomConsoleMode::cmdReset(const QStringList& tokens) {
    uint32_t resetType = 0;
    if (!hasTokenCount(tokens, 2) ||
        !tokenToUInt(tokens.at(1), 10, "Parameter 'ResetType' is not a number!", &resetType)) {
        return false;
    }
    const int status = noted(romCmd->resetDevice(resetType));
    if (status == ResultInterrupted) {
        return false;
    }
    if (status != 0) {
        return reportFailure(qCritical() << "Reset failed!"
                                         << " resetType: " << resetType,
                             status);
    }
    return true;
}

}  // namespace RomCmd
