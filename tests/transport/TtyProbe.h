#pragma once

#include <cstdint>
#include <vector>

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

// A pty has no serial driver settings; with a driver played, TIOCGSERIAL answers `flags` and
// every TIOCSSERIAL is kept (its flags, in order) and taken over.
void playSerialDriver(bool on, int flags);
std::vector<int> serialSettingsRequested();

}  // namespace Test
}  // namespace RomCmd
