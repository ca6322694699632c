// Export names as both the command-line tool and the window make them.
#include "ExportFormat.h"

#include <gtest/gtest.h>

namespace mailstore {
namespace {

TEST(SafeNameTest, LeavesNoPathPartDeviceOrDirectionTrick) {
    // An override that would show "evil\u202Egpj.exe" as "evilexe.jpg".
    EXPECT_EQ(SafeName("evil\xE2\x80\xAEgpj.exe", 100, "x"), "evilgpj.exe");
    EXPECT_EQ(SafeName("\xE2\x81\xA6"
                       "a\xE2\x80\x8F/..\\b\xD8\x9C",
                       100, "x"),
              "a_.._b");
    EXPECT_EQ(SafeName("\xE2\x80\xAE", 100, "x"), "x");
    EXPECT_EQ(SafeName("con.txt", 100, "x"), "_con.txt");
    EXPECT_EQ(SafeName("con." + std::string(200, 'a'), 120, "x"), "_con." + std::string(115, 'a'));
    EXPECT_EQ(SafeName("..", 100, "x"), "x");
    // Cut at a character boundary, then trailing blanks and dots dropped.
    EXPECT_EQ(SafeName("ab. \xC3\xA9", 5, "x"), "ab");
    NameClaims claims;
    claims.Take("A.eml");
    EXPECT_EQ(claims.Claim("a", ".eml"), "a (2).eml");
    EXPECT_EQ(claims.Claim("A", ".EML"), "A (3).EML");
}

} // namespace
} // namespace mailstore
