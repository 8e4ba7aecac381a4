#include "transport/Interruption.h"

#include <csignal>
#include <cstdlib>

namespace RomCmd {

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

extern "C" void onSignal(int signalNumber) {
#ifdef _WIN32
    // The Windows runtime resets the handler before it calls it.
    std::signal(signalNumber, onSignal);
#endif
    if (receivedSignal == 0) {
        receivedSignal = signalNumber;
        return;
    }
    // The operator insists: nothing is waited for any more.
    if (signalNumber == SIGINT) {
        std::_Exit(128 + SIGINT);
    }
}

}  // namespace

void Interruption::install() {
#ifdef _WIN32
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns with EINTR, so its wait looks at the request.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

bool Interruption::requested() {
    return receivedSignal != 0;
}

int Interruption::signalNumber() {
    return receivedSignal;
}

int Interruption::exitStatus() {
    return receivedSignal != 0 ? 128 + receivedSignal : 0;
}

void Interruption::reset() {
    receivedSignal = 0;
}

}  // namespace RomCmd
