#pragma once

#include <QMap>
#include <QString>
#include <cstdint>

namespace RomCmd {

// ROM command codes: the first byte of every command payload.
enum CommandCode : uint8_t {
    CmdUnknown = 0,
    CmdQueryRte = 1,
    CmdConfigRte = 2,
    CmdConfigMemory = 3,
    CmdWriteMemory = 4,
    CmdReadMemory = 5,
    CmdLoadImage = 6,
    CmdErase = 7,
    CmdReset = 8,
    CmdGenFwBob = 9,
    CmdVerifyChecksum = 10,
};

// Code to text tables, built once and read-only afterwards.
const QMap<int, QString>& romStatusMessages();
const QMap<int, QString>& resultMessages();
const QMap<int, QString>& supportedCommandNames();
const QMap<uint32_t, QString>& capabilityNames();

// "unknown error message" for a status without an entry.
QString lookupStatusMessage(int status);
// Empty text for a code without an entry.
QString lookupResultMessage(int code);

}  // namespace RomCmd
