#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

namespace RomCmd {

// Version, help and the tool's options, in the order the help text lists them.
void addOptions(QCommandLineParser& parser);
// Loads the help description, adds the options and processes the application's arguments;
// the parser itself exits on help, version and bad arguments.
bool setupOptions(QCoreApplication& app, QCommandLineParser& parser);
// Lets "-p" and "-u" stand without a value in front of another option. Only a next argument
// that begins with "-" counts as an option: /dev/serial/by-id/usb-... is a value.
QStringList preprocessArguments(QStringList arguments);

}  // namespace RomCmd
