#include <QtDebug>
#include <cstring>

#include "console/RomConsoleMode.h"
#include "romcmd/CommandTables.h"

namespace RomCmd {

namespace {

// words (1 byte + 3 reserved), periphMask, speed: the part of SerialInfParam the ROM takes.
constexpr int kConfigRecordLength = 12;

}  // namespace

QString RomConsoleMode::statusText(int status) {
    return lookupResultMessage(status);
}

bool RomConsoleMode::cmdQueryRte(const QStringList& tokens) {
    uint32_t rteId = 0;
    uint32_t arg = 0;
    bool rteIdOk = true;
    bool argOk = true;
    if (tokens.size() == 2 || tokens.size() == 3) {
        rteId = tokens.at(1).toUInt(&rteIdOk, 10);
    }
    if (tokens.size() == 3) {
        arg = tokens.at(2).toUInt(&argOk, 16);
    }
    if (!rteIdOk || !argOk) {
        qCritical() << "Parameter is not a number!";
        return false;
    }
    const int status = romCmd->queryRte(rteId, arg);
    if (status == 0) {
        return true;
    }
    qCritical() << "QueryRTE failed!"
                << " rteId: " << rteId << " arg: " << arg << " status: " << status
                << " message: " << statusText(status);
    return false;
}

bool RomConsoleMode::cmdConfigRte(const QStringList& tokens) {
    if (tokens.size() != 3) {
        qCritical() << "Number of parameter is incorrect!";
        return false;
    }
    bool ok = false;
    const uint32_t mask = tokens.at(1).toUInt(&ok, 16);
    if (!ok) {
        qCritical() << "Parameter 'PeripheralMask' is not a number!";
        return false;
    }
    const uint32_t baudRate = tokens.at(2).toUInt(&ok, 10);
    if (!ok) {
        qCritical() << "Parameter 'BaudRate' is not a number!";
        return false;
    }
    SerialInfParam record;
    std::memset(&record, 0, sizeof(record));
    record.words = 3;
    record.periphMask = mask;
    record.speed = baudRate;
    const int status =
        romCmd->configRte(reinterpret_cast<const uint8_t*>(&record), kConfigRecordLength);
    if (status == 0) {
        return true;
    }
    qCritical() << "ConfigRTE failed!"
                << " peripheral: " << mask << " baudRate: " << baudRate << " status: " << status
                << " message: " << statusText(status);
    return false;
}

bool RomConsoleMode::cmdReset(const QStringList& tokens) {
    if (tokens.size() != 2) {
        qCritical() << "Number of parameter is incorrect!";
        return false;
    }
    bool ok = false;
    const uint32_t resetType = tokens.at(1).toUInt(&ok, 10);
    if (!ok) {
        qCritical() << "Parameter 'ResetType' is not a number!";
        return false;
    }
    const int status = romCmd->resetDevice(resetType);
    if (status == 0) {
        return true;
    }
    qCritical() << "Reset failed!"
                << " resetType: " << resetType << " status: " << status
                << " message: " << statusText(status);
    return false;
}

}  // namespace RomCmd
