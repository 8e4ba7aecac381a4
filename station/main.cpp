// tarvo_station: runs the tool on many boards at once.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "app/Version.h"
#include "station/Station.h"
#include "station/StationOptions.h"

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int signalNumber) {
    const char byte = char(signalNumber);
    (void)::write(signalPipe[1], &byte, 1);
}

const char kUsage[] =
    "Usage: tarvo_station [options] DEVICE... -- TOOL-OPTIONS\n"
    "Runs tarvo_manufacturing_tool once per board, many boards at once.\n"
    "\n"
    "DEVICE is a board's device as the tool takes it, one slot each:\n"
    "  -p PORT              a serial port (/dev/ttyUSB0, /dev/serial/by-path/...)\n"
    "  -u SELECTOR          a USB-HID device: port:LOCATION, serial:TEXT or a device path\n"
    "  --all-usb            every USB-HID device of vendor 0x5E3A, one slot per USB port\n"
    "TOOL-OPTIONS (after --) are given to every run: -r, -t, -f.\n"
    "\n"
    "Options:\n"
    "  -j, --jobs N         at most N runs at once (default: every slot at once)\n"
    "  --record FILE        every run appends its JSON record line to FILE\n"
    "  --watch              production mode: a slot runs whenever a new board arrives at its\n"
    "                       port, then waits for the board to leave; Ctrl-C stops after the\n"
    "                       runs under way, a second Ctrl-C stops them\n"
    "  --tool PATH          the tool to run (default: the one beside tarvo_station)\n"
    "  -h, --help           this text\n"
    "  -v, --version        the version\n"
    "\n"
    "On a terminal a table shows every slot; in a pipe every event is one line. At the end a\n"
    "summary lists each slot with its result, exit status and time.\n"
    "\n"
    "Exit status:\n"
    "  0    every slot passed\n"
    "  1    the arguments were refused\n"
    "  2    no device was found\n"
    "  3    at least one slot failed\n"
    "  130  interrupted (Ctrl-C), 143 terminated (SIGTERM)\n";

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(RomCmd::kVersion);
    RomCmd::StationOptions options;
    QString error;
    if (!RomCmd::StationOptions::parse(app.arguments(), &options, &error)) {
        std::fprintf(stderr, "tarvo_station: %s\n\n%s", qPrintable(error), kUsage);
        return 1;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tarvo_station %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (options.devices.isEmpty() && !options.allUsb) {
        std::fprintf(stderr,
                     "tarvo_station: no device: name one with -p or -u, or use --all-usb\n");
        return 2;
    }

    // Signals arrive as bytes on a pipe, so the event loop handles them like any other input.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("tarvo_station: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    RomCmd::Station station(options, stdout, ::isatty(STDOUT_FILENO) == 1);
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &station, [&station] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) == 1) {
            station.interrupt(int(byte));
        }
    });
    QObject::connect(&station, &RomCmd::Station::finished, &app,
                     [&app](int status) { app.exit(status); });
    station.start();
    return app.exec();
}
