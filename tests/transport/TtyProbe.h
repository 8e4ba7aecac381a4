#pragma once

#include <cstdint>

namespace RomCmd {
namespace Test {

// The output rate the tty behind fd is set to, including arbitrary rates; 0 on failure.
uint32_t ttyOutputSpeed(int fd);

// A pty forces 8 bits without parity whatever it is asked for, so the tests also look at
// what the code under test asked the driver for (through the linker's --wrap=ioctl).
// Control flags of the last line setting requested, and whether one was requested.
uint32_t lastRequestedControlFlags();
bool lineSettingRequested();
void forgetRequestedLineSetting();

}  // namespace Test
}  // namespace RomCmd
