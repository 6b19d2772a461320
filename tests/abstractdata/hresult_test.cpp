// The one table of result codes and their words, which the command line and the desktop
// program both read.
#include "abstractdata/hresult.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

TEST(ResultTexts, EveryCodeOnceWithWordsOfItsOwnInBothLanguages) {
    std::set<HRESULT> codes;
    std::set<std::string> english;
    std::set<std::string> german;
    for (const ResultText& text : ResultTexts()) {
        EXPECT_TRUE(codes.insert(text.hr).second) << std::hex << text.hr;
        EXPECT_TRUE(english.insert(text.pszEnglish).second) << text.pszEnglish;
        EXPECT_TRUE(german.insert(text.pszGerman).second) << text.pszGerman;
        EXPECT_STREQ(HResultMessage(text.hr), text.pszEnglish);
        EXPECT_STREQ(HResultMessageGerman(text.hr), text.pszGerman);
    }
    EXPECT_EQ(codes.size(), 25u);
    EXPECT_FALSE(english.count("unknown error"));
    EXPECT_FALSE(german.count("unbekannter Fehler"));
    EXPECT_STREQ(HResultMessage(static_cast<HRESULT>(0x80001234u)), "unknown error");
    EXPECT_STREQ(HResultMessageGerman(static_cast<HRESULT>(0x80001234u)), "unbekannter Fehler");
}
