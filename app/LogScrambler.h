#pragma once

#include <QByteArray>
#include <string>

namespace RomCmd {
namespace LogScrambler {

// The fixed key that keeps log lines unreadable at a glance; it is not a secret.
extern const char kKey[17];

// Base64, XOR with the key (restarting at byte 0), Base64 again.
QByteArray scramble(const QByteArray& clearText);
// The same for `size` bytes at `clearText`, appended to `out`; `scratch` holds the middle
// step, so a caller that keeps both strings scrambles without allocating.
void appendScrambled(const char* clearText, size_t size, std::string* scratch, std::string* out);
// False when the text is not a scrambled line.
bool unscramble(const QByteArray& scrambled, QByteArray* clearText);

}  // namespace LogScrambler
}  // namespace RomCmd
