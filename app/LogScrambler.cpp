#include "app/LogScrambler.h"

namespace RomCmd {
namespace LogScrambler {

const char kKey[17] = "Rk4mWq8z_hNPsxV_";

namespace {

constexpr int kKeyLength = 16;

QByteArray xorWithKey(QByteArray bytes) {
    for (int i = 0; i < bytes.size(); ++i) {
        bytes[i] = char(bytes[i] ^ kKey[i % kKeyLength]);
    }
    return bytes;
}

bool strictBase64Decode(const QByteArray& text, QByteArray* decoded) {
    const QByteArray::FromBase64Result result =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!result) {
        return false;
    }
    // Re-encoding catches texts that the decoder tolerates but the writer never produces.
    if (result.decoded.toBase64() != text) {
        return false;
    }
    *decoded = result.decoded;
    return true;
}

}  // namespace

QByteArray scramble(const QByteArray& clearText) {
    return xorWithKey(clearText.toBase64()).toBase64();
}

bool unscramble(const QByteArray& scrambled, QByteArray* clearText) {
    QByteArray inner;
    if (!strictBase64Decode(scrambled, &inner)) {
        return false;
    }
    return strictBase64Decode(xorWithKey(inner), clearText);
}

}  // namespace LogScrambler
}  // namespace RomCmd
