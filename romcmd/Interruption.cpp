#include "romcmd/Interruption.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace RomCmd {

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

extern "C" void onSignal(int signalNumber) {
    if (receivedSignal == 0) {
        receivedSignal = signalNumber;
        return;
    }
    // The operator insists: nothing is waited for any more.
    if (signalNumber == SIGINT) {
        ::_exit(128 + SIGINT);
    }
}

}  // namespace

void Interruption::install() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Calls under way carry on; the run looks at the request between exchanges.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
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
