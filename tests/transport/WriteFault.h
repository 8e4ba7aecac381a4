#pragma once

#include <sys/types.h>

namespace RomCmd {
namespace Test {

// Makes write() calls from the code under test fail with EIO: counted on the given
// character device, the call numbered `firstFailingCall` (1-based) and all later ones.
// Works through the linker's --wrap=write on the test executable.
void armWriteFault(dev_t device, int firstFailingCall);
// Lets the first `acceptedBytes` bytes written to the device through (the call that reaches
// the limit writes short) and fails every write after that with EIO.
void armWriteLimit(dev_t device, size_t acceptedBytes);
void disarmWriteFault();

}  // namespace Test
}  // namespace RomCmd
