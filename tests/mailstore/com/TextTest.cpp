#include "Text.h"

#include <objbase.h>

#include <gtest/gtest.h>

using mailstore::com::CodePageToUtf8;
using mailstore::com::TaskStringDup;
using mailstore::com::Utf8ToCodePage;

namespace {
constexpr UINT kWestern = 1252;
constexpr UINT kJapanese = 932;

// Every prefix must decode without a broken trailing character.
bool EndsOnCharacter(const std::string& text, UINT cp) {
    const int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    return text.empty() || n > 0;
}
} // namespace

TEST(Text, ConvertsToTheCodePageAndReplacesWhatItCannotShow) {
    EXPECT_EQ(Utf8ToCodePage("plain text", kWestern), "plain text");
    EXPECT_EQ(Utf8ToCodePage("Gr\xC3\xBC\xC3\x9F"
                             "e",
                             kWestern),
              "Gr\xFC\xDF"
              "e");
    // Two CJK characters: not in the western page, two bytes each in the Japanese one.
    EXPECT_EQ(Utf8ToCodePage("\xE6\x97\xA5\xE6\x9C\xAC", kWestern), "??");
    EXPECT_EQ(Utf8ToCodePage("\xE6\x97\xA5\xE6\x9C\xAC", kJapanese), "\x93\xFA\x96\x7B");
    // Malformed UTF-8 is replaced too, the rest kept.
    EXPECT_EQ(Utf8ToCodePage("a\xC3(b", kWestern), "a?(b");
    EXPECT_EQ(Utf8ToCodePage("", kWestern), "");
}

TEST(Text, CutsLongTextOnlyBetweenCharacters) {
    std::string accents;
    for (int i = 0; i < 300; ++i) {
        accents += "\xC3\xA9"; // one byte each in the western page
    }
    EXPECT_EQ(Utf8ToCodePage(accents, kWestern, 255), std::string(255, '\xE9'));

    std::string kanji;
    for (int i = 0; i < 200; ++i) {
        kanji += "\xE6\x97\xA5"; // two bytes each in the Japanese page
    }
    const std::string cut = Utf8ToCodePage(kanji, kJapanese, 255);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_TRUE(EndsOnCharacter(cut, kJapanese));

    // A character outside the basic plane is a surrogate pair: all four bytes or none.
    const std::string emoji = "ab\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf8ToCodePage(emoji, CP_UTF8, 6), emoji);
    EXPECT_EQ(Utf8ToCodePage(emoji, CP_UTF8, 5), "ab");
}

TEST(Text, ConvertsIncomingNamesToUtf8) {
    EXPECT_EQ(CodePageToUtf8("Gr\xFC\xDF", kWestern), "Gr\xC3\xBC\xC3\x9F");
    EXPECT_EQ(CodePageToUtf8("\x93\xFA", kJapanese), "\xE6\x97\xA5");
    EXPECT_EQ(Utf8ToCodePage(CodePageToUtf8("Caf\xE9", kWestern), kWestern), "Caf\xE9");
}

TEST(Text, TaskStringsAreTerminatedCopies) {
    LPSTR copy = TaskStringDup(std::string_view("abc\0def", 3));
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "abc");
    CoTaskMemFree(copy);
    LPSTR empty = TaskStringDup("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], '\0');
    CoTaskMemFree(empty);
}
