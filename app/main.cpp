#include <QCoreApplication>

#include "app/LogHandler.h"
#include "app/Options.h"
#include "console/RomConsoleMode.h"

int main(int argc, char* argv[])
{
    RomCmd::LogHandler::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion("0.6.0");
    QCommandLineParser parser;
    RomCmd::setupOptions(app, parser);
    RomCmd::RomConsoleMode console(parser);
    console.run();
    return 0;
}
