#pragma once

namespace RomCmd {

// SIGINT and SIGTERM during a run: the first one only asks the run to stop after the exchange
// under way, so the device and the files are left consistent; a second SIGINT ends the
// process at once.
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
};

}  // namespace RomCmd
