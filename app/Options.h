#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

namespace RomCmd {

bool setupOptions(QCoreApplication& app, QCommandLineParser& parser);
QStringList preprocessArguments(QStringList arguments);

}  // namespace RomCmd
