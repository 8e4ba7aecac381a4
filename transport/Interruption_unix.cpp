#include <csignal>

#include "transport/Interruption.h"

namespace RomCmd {

namespace {

extern "C" void onSignal(int signalNumber) {
    Interruption::record(signalNumber);
}

}  // namespace

void Interruption::install() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns with EINTR, so its wait looks at the request.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace RomCmd
