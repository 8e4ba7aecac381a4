#include "transport/Interruption.h"

#include <csignal>
#include <cstdlib>

namespace RomCmd {

namespace {

volatile std::sig_atomic_t receivedSignal = 0;

}  // namespace

void Interruption::record(int signalNumber) {
    if (receivedSignal == 0) {
        receivedSignal = signalNumber;
        return;
    }
    // The operator insists: nothing is waited for any more.
    if (signalNumber == SIGINT) {
        std::_Exit(128 + SIGINT);
    }
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
