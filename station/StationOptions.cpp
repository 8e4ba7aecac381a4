#include "station/StationOptions.h"

namespace RomCmd {

namespace {

constexpr int kMaxJobs = 256;

}  // namespace

bool StationOptions::parse(const QStringList& arguments, StationOptions* options, QString* error) {
    *options = StationOptions();
    int i = 1;
    const auto value = [&](const QString& name, QString* out) {
        if (i + 1 >= arguments.size() || arguments.at(i + 1) == QLatin1String("--")) {
            *error = name + " needs a value";
            return false;
        }
        *out = arguments.at(++i);
        return true;
    };
    bool separator = false;
    for (; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        QString text;
        if (argument == QLatin1String("--")) {
            separator = true;
            ++i;
            break;
        }
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            options->help = true;
            return true;
        }
        if (argument == QLatin1String("-v") || argument == QLatin1String("--version")) {
            options->version = true;
            return true;
        }
        if (argument == QLatin1String("--jobs") || argument == QLatin1String("-j")) {
            if (!value(argument, &text)) {
                return false;
            }
            bool ok = false;
            const int jobs = text.toInt(&ok, 10);
            if (!ok || jobs < 1 || jobs > kMaxJobs) {
                *error = QStringLiteral("--jobs needs a number from 1 to %1, not \"%2\"")
                             .arg(kMaxJobs)
                             .arg(text);
                return false;
            }
            options->jobs = jobs;
        } else if (argument == QLatin1String("--record")) {
            if (!value(argument, &options->recordFile) || options->recordFile.isEmpty()) {
                *error = QStringLiteral("--record needs a file");
                return false;
            }
        } else if (argument == QLatin1String("--tool")) {
            if (!value(argument, &options->toolPath) || options->toolPath.isEmpty()) {
                *error = QStringLiteral("--tool needs the tool's path");
                return false;
            }
        } else if (argument == QLatin1String("--watch")) {
            options->watch = true;
        } else if (argument == QLatin1String("--all-usb")) {
            options->allUsb = true;
        } else if (argument == QLatin1String("-p") || argument == QLatin1String("-u")) {
            if (!value(argument, &text) || text.isEmpty()) {
                *error = argument + QStringLiteral(" needs a device: every slot names its own");
                return false;
            }
            options->devices.append({argument, text});
        } else {
            *error = QStringLiteral("unknown argument \"%1\" (the tool's options go after \"--\")")
                         .arg(argument);
            return false;
        }
    }
    if (!separator) {
        *error = QStringLiteral("the tool's options are missing: give them after \"--\"");
        return false;
    }
    options->toolOptions = arguments.mid(i);
    if (options->toolOptions.isEmpty()) {
        *error = QStringLiteral("the tool's options are missing: give them after \"--\"");
        return false;
    }
    // Each slot's device and record are the runner's to give.
    for (const QString& option : options->toolOptions) {
        if (option == QLatin1String("-p") || option == QLatin1String("-u") ||
            option.startsWith(QLatin1String("--port")) ||
            option.startsWith(QLatin1String("--usb")) ||
            option.startsWith(QLatin1String("--record"))) {
            *error = QStringLiteral("\"%1\" is the runner's to give: name devices before \"--\"")
                         .arg(option);
            return false;
        }
    }
    // Slots are named by device; a device named twice would run two tools on one board.
    for (int a = 0; a < options->devices.size(); ++a) {
        for (int b = a + 1; b < options->devices.size(); ++b) {
            if (options->devices.at(a).text() == options->devices.at(b).text()) {
                *error = QStringLiteral("device \"%1\" is named twice")
                             .arg(options->devices.at(a).text());
                return false;
            }
        }
    }
    return true;
}

}  // namespace RomCmd
