#pragma once

#include <QByteArray>

namespace RomCmd {
namespace LogScrambler {

// The fixed key that keeps log lines unreadable at a glance; it is not a secret.
extern const char kKey[17];

// Base64, XOR with the key (restarting at byte 0), Base64 again.
QByteArray scramble(const QByteArray& clearText);
// False when the text is not a scrambled line.
bool unscramble(const QByteArray& scrambled, QByteArray* clearText);

}  // namespace LogScrambler
}  // namespace RomCmd
