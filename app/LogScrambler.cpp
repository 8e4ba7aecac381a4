#include "app/LogScrambler.h"

namespace RomCmd {
namespace LogScrambler {

QByteArray scramble(const QByteArray& clearText) { return clearText; }
bool unscramble(const QByteArray& scrambled, QByteArray* clearText)
{
    *clearText = scrambled;
    return false;
}

}  // namespace LogScrambler
}  // namespace RomCmd
