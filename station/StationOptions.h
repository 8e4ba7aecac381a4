#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace RomCmd {

// One board's device as the tool takes it: "-p PORT" or "-u SELECTOR".
struct StationDevice {
    QString option;  // "-p" or "-u"
    QString value;
    QStringList arguments() const { return {option, value}; }
    QString text() const { return option + ' ' + value; }
};

// The station runner's command line:
//   tarvo_station [--jobs N] [--record FILE] [--watch] [--tool PATH] DEVICE... -- TOOL-OPTIONS
struct StationOptions {
    int jobs = 0;  // 0: every slot at once
    QString recordFile;
    bool watch = false;
    bool allUsb = false;
    QString toolPath;
    QVector<StationDevice> devices;
    QStringList toolOptions;
    bool help = false;
    bool version = false;

    // False with *error set for a command line that cannot be run.
    static bool parse(const QStringList& arguments, StationOptions* options, QString* error);
};

}  // namespace RomCmd
