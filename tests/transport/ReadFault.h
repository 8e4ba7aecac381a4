#pragma once

#include <sys/types.h>

namespace RomCmd {
namespace Test {

// Makes the next `count` read() calls from the code under test on the given character device
// return 0 with errno 0 and take nothing, as a terminal may right after poll() reported input.
// Works through the linker's --wrap=read on the test executable.
void armEmptyReads(dev_t device, int count);
void disarmEmptyReads();

// Records the waits that poll() is asked for on the given character device (--wrap=poll).
void watchPollWaits(dev_t device);
// The shortest wait recorded since watchPollWaits; 0x7FFFFFFF while none was.
int shortestPollWait();

}  // namespace Test
}  // namespace RomCmd
