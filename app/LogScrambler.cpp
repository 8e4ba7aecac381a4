#include "app/LogScrambler.h"

#include <cstdint>
#include <cstring>

namespace RomCmd {
namespace LogScrambler {

const char kKey[17] = "Rk4mWq8z_hNPsxV_";

namespace {

constexpr int kKeyLength = 16;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two Base64 characters of every 12-bit value, so one look-up serves two characters.
struct Base64Pairs {
    char pair[4096][2];
};

constexpr Base64Pairs makeBase64Pairs() {
    Base64Pairs pairs{};
    for (int v = 0; v < 4096; ++v) {
        pairs.pair[v][0] = kAlphabet[v >> 6];
        pairs.pair[v][1] = kAlphabet[v & 63];
    }
    return pairs;
}

constexpr Base64Pairs kBase64Pairs = makeBase64Pairs();

// Standard Base64 with padding, as QByteArray::toBase64() writes it, appended to a string the
// caller keeps: every log line goes through this twice, and toBase64() allocates each time.
void appendBase64(const char* data, size_t size, std::string* out) {
    const size_t start = out->size();
    out->resize(start + (size + 2) / 3 * 4);
    char* p = &(*out)[start];
    const auto* in = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* const whole = in + size / 3 * 3;
    for (; in != whole; in += 3, p += 4) {
        const uint32_t v = uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
        std::memcpy(p, kBase64Pairs.pair[v >> 12], 2);
        std::memcpy(p + 2, kBase64Pairs.pair[v & 0xFFF], 2);
    }
    const size_t left = size % 3;
    if (left > 0) {
        const uint32_t v = uint32_t(in[0]) << 16 | (left > 1 ? uint32_t(in[1]) << 8 : 0);
        std::memcpy(p, kBase64Pairs.pair[v >> 12], 2);
        p[2] = left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        p[3] = '=';
    }
}

// XOR with the key from its first byte on, eight bytes at a time.
void xorWithKey(char* data, size_t size) {
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        uint64_t key;
        std::memcpy(&word, data + i, 8);
        std::memcpy(&key, kKey + i % kKeyLength, 8);
        word ^= key;
        std::memcpy(data + i, &word, 8);
    }
    for (; i < size; ++i) {
        data[i] = char(data[i] ^ kKey[i % kKeyLength]);
    }
}

QByteArray xorWithKey(QByteArray bytes) {
    xorWithKey(bytes.data(), size_t(bytes.size()));
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
    std::string scratch;
    std::string scrambled;
    appendScrambled(clearText.constData(), size_t(clearText.size()), &scratch, &scrambled);
    return QByteArray(scrambled.data(), int(scrambled.size()));
}

void appendScrambled(const char* clearText, size_t size, std::string* scratch, std::string* out) {
    scratch->clear();
    appendBase64(clearText, size, scratch);
    xorWithKey(&(*scratch)[0], scratch->size());
    appendBase64(scratch->data(), scratch->size(), out);
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
