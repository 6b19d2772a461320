#include "abstractdata/codepage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/table.h"

TEST(Windows1252, EveryByteIsOneDistinctCodePoint) {
    std::set<std::string> decoded;
    for (int b = 0; b < 256; ++b) {
        const std::string strOne = Windows1252ToUtf8(std::string(1, static_cast<char>(b)));
        if (b < 0x80) {
            EXPECT_EQ(strOne, std::string(1, static_cast<char>(b)));
        } else {
            // A lead byte that announces the length, then continuation bytes.
            ASSERT_GE(strOne.size(), 2u) << b;
            const unsigned char lead = static_cast<unsigned char>(strOne[0]);
            EXPECT_EQ(strOne.size(), lead >= 0xE0 ? 3u : 2u) << b;
            for (size_t i = 1; i < strOne.size(); ++i) {
                EXPECT_EQ(static_cast<unsigned char>(strOne[i]) & 0xC0, 0x80) << b;
            }
        }
        decoded.insert(strOne);
    }
    EXPECT_EQ(decoded.size(), 256u);
}

TEST(Windows1252, KnownCharacters) {
    EXPECT_EQ(Windows1252ToUtf8("plain ASCII\t~"), "plain ASCII\t~");
    EXPECT_EQ(Windows1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(Windows1252ToUtf8("\xE4\xF6\xFC\xC4\xD6\xDC\xDF"), "äöüÄÖÜß");
    EXPECT_EQ(Windows1252ToUtf8("\x80\x8A\x8C\x99\x9F"), "€ŠŒ™Ÿ");
    EXPECT_EQ(Windows1252ToUtf8("\x84\x93\x94\x96\x97"), "„“”–—");
    EXPECT_EQ(Windows1252ToUtf8("\xA0\xFF"), "\xC2\xA0\xC3\xBF");
    // The five bytes the code page leaves undefined keep their value as C1 controls.
    EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"),
              "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    EXPECT_EQ(Windows1252ToUtf8(""), "");
}

// UTF-8 (typed, or read by Assimp) to the code page, as names are matched and stored.
TEST(Windows1252, EncodedFromUtf8AsTheTableSays) {
    for (const std::vector<std::string>& row : ReadTable("abstractdata/utf8_to_windows1252.tsv")) {
        EXPECT_EQ(Utf8ToWindows1252(UnescapeBytes(row.at(1))), UnescapeBytes(row.at(2)))
            << row[0] << " " << row.at(3);
    }
}

// The one table both ways: every byte comes back from its decoding.
TEST(Windows1252, EveryByteSurvivesARoundTrip) {
    for (int b = 0; b < 256; ++b) {
        const std::string strByte(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ToWindows1252(Windows1252ToUtf8(strByte)), strByte) << b;
    }
}
