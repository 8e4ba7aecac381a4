#pragma once

#include <QByteArray>

namespace RomCmd {
namespace LogScrambler {

QByteArray scramble(const QByteArray& clearText);
// False when the text is not a scrambled line.
bool unscramble(const QByteArray& scrambled, QByteArray* clearText);

}  // namespace LogScrambler
}  // namespace RomCmd
