#pragma once

#include <sys/types.h>

namespace RomCmd {
namespace Test {

// Makes write() calls from the code under test fail with EIO: counted on the given
// character device, the call numbered `firstFailingCall` (1-based) and all later ones.
// Works through the linker's --wrap=write on the test executable.
void armWriteFault(dev_t device, int firstFailingCall);
void disarmWriteFault();

}  // namespace Test
}  // namespace RomCmd
