#pragma once

namespace RomCmd {

// SIGINT and SIGTERM during a run: the first one asks the run to stop; a wait under way ends
// within a fraction of a second and no further packet is sent, so the files are left
// consistent. A second SIGINT ends the process at once. The transports look at it too, which
// is why it lives at the bottom layer.
class Interruption {
public:
    static void install();
    static bool requested();
    // The signal that asked to stop, 0 while none did.
    static int signalNumber();
    // 128 + the signal number, as shells report a process ended by that signal; 0 while none.
    static int exitStatus();
    // Forgets a recorded signal; for tests.
    static void reset();
    // What the platform's signal handler calls: the first signal asks to stop, a second
    // SIGINT ends the process at once.
    static void record(int signalNumber);
};

}  // namespace RomCmd
