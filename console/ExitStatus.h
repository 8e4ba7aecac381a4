#pragma once

namespace RomCmd {

// What the process tells its caller; line scripts branch on these, so the numbers stay fixed.
enum ExitStatus : int {
    ExitSuccess = 0,
    ExitUsage = 1,            // the option parser refused the arguments
    ExitNoDevice = 2,         // no -p/-u, no device selected, or the device did not open
    ExitCommandFailed = 3,    // a command failed; the rest were not run
    ExitFirmwareIgnored = 4,  // the firmware step gave up, every command after it succeeded
    ExitRecordFailed = 5,     // the commands succeeded but the run record could not be written
    ExitInterrupted = 130,    // SIGINT
    ExitTerminated = 143,     // SIGTERM
};

}  // namespace RomCmd
