#include <csignal>

#include "transport/Interruption.h"

namespace RomCmd {

namespace {

extern "C" void onSignal(int signalNumber) {
    // The Windows runtime resets the handler before it calls it.
    std::signal(signalNumber, onSignal);
    Interruption::record(signalNumber);
}

}  // namespace

void Interruption::install() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

}  // namespace RomCmd
