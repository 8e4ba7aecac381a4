#include "app/Options.h"

namespace RomCmd {

bool setupOptions(QCoreApplication& app, QCommandLineParser& parser)
{
    parser.process(preprocessArguments(app.arguments()));
    return true;
}
QStringList preprocessArguments(QStringList arguments) { return arguments; }

}  // namespace RomCmd
