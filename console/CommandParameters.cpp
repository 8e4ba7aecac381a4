#include "console/CommandParameters.h"

#include "console/RomConsoleMode.h"

namespace RomCmd {

namespace {

bool countFits(bool fits) {
    if (!fits) {
        qCritical() << "Number of parameter is incorrect!";
    }
    return fits;
}

bool converted(bool ok, const char* notNumberText) {
    if (!ok) {
        qCritical() << notNumberText;
    }
    return ok;
}

}  // namespace

bool hasTokenCount(const QStringList& tokens, int count) {
    return countFits(tokens.size() == count);
}

bool hasAtLeastTokens(const QStringList& tokens, int minimum) {
    return countFits(tokens.size() >= minimum);
}

bool tokenToUInt(const QString& token, int base, const char* notNumberText, uint32_t* value) {
    bool ok = false;
    *value = token.toUInt(&ok, base);
    return converted(ok, notNumberText);
}

bool tokenToNumber(const QString& token, const char* notNumberText, uint32_t* value) {
    bool ok = false;
    *value = RomConsoleMode::parseNumber(token, &ok);
    return converted(ok, notNumberText);
}

bool reportFailure(QDebug line, int status) {
    // The caller's line is printed when its own stream object goes, after these items.
    line << " status: " << status << " message: " << RomConsoleMode::statusText(status);
    return false;
}

}  // namespace RomCmd
