#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <memory>

#include "app/Options.h"

namespace RomCmd {
namespace Test {

// The tool's own option set, parsed (not processed) from `arguments`, program name first.
// A failed parse leaves its reason in errorText(). Users link tarvo_app.
inline std::unique_ptr<QCommandLineParser> makeParser(const QStringList& arguments) {
    auto parser = std::make_unique<QCommandLineParser>();
    addOptions(*parser);
    parser->parse(arguments);
    return parser;
}

}  // namespace Test
}  // namespace RomCmd
