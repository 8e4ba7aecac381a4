#include <gtest/gtest.h>

#include <QByteArray>

#include "app/LogScrambler.h"

namespace RomCmd {
namespace {

// Expected values worked out separately: Base64, XOR with "Rk4mWq8z_hNPsxV_", Base64.
struct Vector {
    QByteArray clear;
    QByteArray scrambled;
};

TEST(LogScramblerTest, MatchesKnownVectors) {
    const Vector vectors[] = {
        // 16 bytes after the first Base64 step: the key is used exactly once.
        {"[Info] abc", "BVtYGA0cAR4WLwg5Kg9rYg=="},
        // 48 bytes: the key restarts from its first character twice.
        {"[Debug] Parse device info:  \"COM3\"",
         "BVtmAQ4fbhQHOwwBKiAcJQg4dgYNKWIKBlobNxIvYzIwEVsKHjJyPgtYfio6H2ti"},
        {"[Warning] \xc3\xa4\xc3\xb6\xc3\xbc \xe6\xb8\xa9\xe5\xba\xa6",
         "BVpQBTQcDQo9BSo0OjUZNCVcVikhMnwXKiMgPAYJD2I="},
        {"", ""},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.clear.toStdString());
        EXPECT_EQ(LogScrambler::scramble(v.clear).toStdString(), v.scrambled.toStdString());
        QByteArray clear("not touched");
        ASSERT_TRUE(LogScrambler::unscramble(v.scrambled, &clear));
        EXPECT_EQ(clear.toHex().toStdString(), v.clear.toHex().toStdString());
    }
}

TEST(LogScramblerTest, RoundTripsTextsOfEveryLength) {
    // Every length up to three key cycles and beyond, with bytes of the whole range.
    for (int length = 0; length <= 80; ++length) {
        QByteArray clear;
        for (int i = 0; i < length; ++i) {
            clear.append(char((i * 37 + length) & 0xFF));
        }
        SCOPED_TRACE(length);
        const QByteArray scrambled = LogScrambler::scramble(clear);
        EXPECT_FALSE(scrambled.contains('\n'));
        QByteArray back;
        ASSERT_TRUE(LogScrambler::unscramble(scrambled, &back));
        EXPECT_EQ(back.toHex().toStdString(), clear.toHex().toStdString());
    }
}

TEST(LogScramblerTest, RejectsWhatItNeverProduces) {
    const QByteArray valid = LogScrambler::scramble("[Info] abc");
    const QByteArray notScrambled[] = {
        "hello world",                 // blank outside the alphabet
        "@@@@",                        // no Base64 at all
        "[Info] abc",                  // clear text
        valid.left(valid.size() - 2),  // padding cut off
        valid + "AAAA",                // data after the padding
        "c0oVTA==",                    // outer layer fine, inner layer "!!!!" is no Base64
        "QUJD",                        // Base64 of "ABC", whose XOR is no Base64
        valid + "\n",                  // a line feed is not part of a line's text
    };
    for (const QByteArray& text : notScrambled) {
        SCOPED_TRACE(text.toStdString());
        QByteArray clear;
        EXPECT_FALSE(LogScrambler::unscramble(text, &clear));
    }
}

}  // namespace
}  // namespace RomCmd
