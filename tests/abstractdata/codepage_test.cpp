#include "abstractdata/codepage.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/bytebuilder.h"

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

// tests/data/abstractdata/windows1252.hex: bytes, and the UTF-8 they become.
TEST(Windows1252, KnownCharacters) {
    const std::vector<HexSection> cases =
        ReadHexSections(MORV_SOURCE_DIR "/tests/data/abstractdata/windows1252.hex");
    ASSERT_EQ(cases.size(), 16u);
    for (size_t i = 0; i + 1 < cases.size(); i += 2) {
        const std::string strIn(cases[i].bytes.begin(), cases[i].bytes.end());
        EXPECT_EQ(Windows1252ToUtf8(strIn),
                  std::string(cases[i + 1].bytes.begin(), cases[i + 1].bytes.end()))
            << "windows1252.hex:" << cases[i].nLine;
    }
}
