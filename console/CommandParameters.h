#pragma once

#include <QDebug>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace RomCmd {

// Checks shared by the console command handlers. Each logs its own critical line when the
// check fails, so a handler only has to return false.

bool hasTokenCount(const QStringList& tokens, int count);
bool hasAtLeastTokens(const QStringList& tokens, int minimum);

// Converts the whole token in the given base; notNumberText is logged as is when that fails.
bool tokenToUInt(const QString& token, int base, const char* notNumberText, uint32_t* value);
// As above, decimal first and only then hexadecimal.
bool tokenToNumber(const QString& token, const char* notNumberText, uint32_t* value);

// Ends a command's failure line with the engine status and its text. Returns false, the
// handler's result.
bool reportFailure(QDebug line, int status);

}  // namespace RomCmd
