#include "ui/Text.h"

#include <gtest/gtest.h>

namespace {

// A piece of a source may end inside a character; what WholeChars leaves
// is exactly that character's start, whatever the code page.
TEST(TextTest, WholeCharsStopsBeforeACharacterSplitAtTheEnd) {
    const std::string japanese = "ab\xe6\x97\xa5"; // "ab" and one three-byte character
    const std::string emoji = "\xf0\x9f\x98\x80";  // four bytes
    EXPECT_EQ(ui::WholeChars(japanese, CP_UTF8), 5u);
    EXPECT_EQ(ui::WholeChars(japanese.substr(0, 4), CP_UTF8), 2u);
    EXPECT_EQ(ui::WholeChars(japanese.substr(0, 3), CP_UTF8), 2u);
    EXPECT_EQ(ui::WholeChars(emoji.substr(0, 3), CP_UTF8), 0u);
    EXPECT_EQ(ui::WholeChars(emoji + "x", CP_UTF8), 5u);
    EXPECT_EQ(ui::WholeChars("caf\xc3\xa9", CP_UTF8), 5u);
    EXPECT_EQ(ui::WholeChars("caf\xc3", CP_UTF8), 3u);
    // Malformed bytes are no character's start: nothing is held back for them.
    EXPECT_EQ(ui::WholeChars("\x80\x80\x80\x80\x80", CP_UTF8), 5u);
    // A double-byte code page: 0x82 leads, and is also a trail byte after a lead.
    EXPECT_EQ(ui::WholeChars("a\x82\xa0", 932), 3u);
    EXPECT_EQ(ui::WholeChars("a\x82", 932), 1u);
    EXPECT_EQ(ui::WholeChars("\x82\x82", 932), 2u);
    EXPECT_EQ(ui::WholeChars("\x82\x82\x82", 932), 2u);
    // A single-byte code page never splits a character.
    EXPECT_EQ(ui::WholeChars("caf\xe9", 1252), 4u);
}

} // namespace
