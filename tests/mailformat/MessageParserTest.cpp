// Header parsing: encoded words in every charset family, odd and hostile headers.
#include "Calendar.h"
#include "Charsets.h"
#include "MessageParser.h"

#include <gtest/gtest.h>

#include <random>

namespace mailstore {
namespace {

TEST(EncodedWords, DecodeInTheCommonCharsets) {
    struct Case {
        const char* raw;
        const char* text;
    } cases[] = {
        {"=?utf-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=", "Grüße aus Köln"},
        {"=?UTF-8?Q?Caf=C3=A9_au_lait?=", "Café au lait"},
        {"=?us-ascii?Q?plain_text?=", "plain text"},
        {"=?iso-8859-1?Q?Andr=E9?=", "André"},
        {"=?ISO-8859-2?Q?=A3=F3d=BC?=", "Łódź"},
        {"=?iso-8859-5?B?0NHS?=", "абв"},
        {"=?iso-8859-7?Q?=E1=E2=E3?=", "αβγ"},
        {"=?iso-8859-15?Q?=A4uro?=", "€uro"},
        {"=?windows-1250?Q?=8Akoda?=", "Škoda"},
        {"=?windows-1251?B?z/Do4uXy?=", "Привет"},
        {"=?windows-1252?Q?=93quoted=94?=", "\xE2\x80\x9Cquoted\xE2\x80\x9D"},
        {"=?windows-1253?Q?=C1?=", "Α"},
        {"=?windows-1254?Q?=D0?=", "Ğ"},
        {"=?windows-1255?Q?=F9=EC=E5=ED?=", "שלום"},
        {"=?windows-1256?Q?=C7?=", "ا"},
        {"=?windows-1257?Q?=C0?=", "Ą"},
        {"=?windows-1258?Q?=80?=", "€"},
        {"=?koi8-r?B?8NLJ18XU?=", "Привет"},
        {"=?utf-8*en?Q?tagged?=", "tagged"},
        {"=?ISO-2022-JP?B?GyRCJCpDTiRpJDsbKEI6IBskQjJxNUQbKEI=?=", "お知らせ: 会議"},
        {"=?iso-2022-jp?B?GyhKXDEwMBsoQg==?=", "¥100"},
        {"=?iso-2022-jp?Q?=1B(I1=1B(B?=", "ｱ"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeHeaderText(c.raw), c.text) << c.raw;
    // Unencoded, as Japanese mail often sends it.
    EXPECT_EQ(DecodeHeaderText("\x1b$B$*CN$i$;\x1b(B: 2026"), "お知らせ: 2026");
}

TEST(EncodedWords, SpacingAndJoiningFollowTheRules) {
    // Blank space between adjacent encoded words disappears, around plain text it stays.
    EXPECT_EQ(DecodeHeaderText("=?utf-8?Q?a?= =?utf-8?Q?b?="), "ab");
    EXPECT_EQ(DecodeHeaderText("=?utf-8?Q?a?=\r\n\t=?utf-8?Q?b?="), "ab");
    EXPECT_EQ(DecodeHeaderText("Re: =?utf-8?Q?caf=C3=A9?= now"), "Re: café now");
    // A character split across two words survives.
    EXPECT_EQ(DecodeHeaderText("=?utf-8?B?w6k=?= =?utf-8?B?w6k=?="), "éé");
    EXPECT_EQ(DecodeHeaderText("=?utf-8?Q?=C3?= =?utf-8?Q?=A9?="), "é");
    // Broken or unknown words stay as written.
    EXPECT_EQ(DecodeHeaderText("=?utf-8?X?abc?="), "=?utf-8?X?abc?=");
    EXPECT_EQ(DecodeHeaderText("=?utf-8?Q?open"), "=?utf-8?Q?open");
    EXPECT_EQ(DecodeHeaderText("=?x-unknown?Q?abc?="), "abc");
    // Undefined bytes and bad UTF-8 become U+FFFD, never bytes that are not UTF-8.
    EXPECT_EQ(DecodeHeaderText("=?utf-8?Q?=FF?="), "\xEF\xBF\xBD");
    EXPECT_TRUE(IsValidUtf8(DecodeHeaderText("=?windows-1253?Q?=AA?=")));
    // Unlabelled 8-bit text is read as windows-1252.
    EXPECT_EQ(DecodeHeaderText("Caf\xE9"), "Café");
}

TEST(Headers, PropsComeFromTheRightFields) {
    const std::string msg = "Received: from relay.example.net by mx.example.org; Tue, 8 Dec 2026 "
                            "10:00:05 +0100\r\n"
                            "Received: from client by relay.example.net; Tue, 8 Dec 2026 09:00:00 "
                            "+0000\r\n"
                            "From: \"Example, Alice\" <alice@example.org>\r\n"
                            "To: Bob Example <bob@example.org>, carol@example.com,\r\n"
                            " =?utf-8?Q?D=C3=A9sir=C3=A9e?= <d@example.org>, (Eve Example) "
                            "eve@example.org\r\n"
                            "Subject: Quarterly\r\n  numbers\r\n"
                            "Date: Mon, 7 Dec 2026 23:30:00 -0800\r\n"
                            "X-Priority: 2 (High)\r\n"
                            "\r\n"
                            "Subject: not a header\r\n";
    ParsedHeaders h = ParseHeaders(msg);
    EXPECT_EQ(h.subject, "Quarterly numbers");
    EXPECT_EQ(h.from, "Example, Alice");
    EXPECT_EQ(h.to, "Bob Example; carol@example.com; Désirée; Eve Example");
    EXPECT_EQ(h.sent, FileTimeFromUtc(2026, 12, 8, 7, 30, 0));
    EXPECT_EQ(h.received, FileTimeFromUtc(2026, 12, 8, 9, 0, 5));
    EXPECT_EQ(h.priority, 1u); // high
}

TEST(Headers, PriorityFromXPriorityOrImportance) {
    struct Case {
        const char* header;
        uint32_t priority;
    } cases[] = {
        {"X-Priority: 1\n", 1},
        {"X-Priority: 3 (Normal)\n", 3},
        {"X-Priority: 4\n", 5},
        {"X-Priority: 5 (Lowest)\n", 5},
        {"Importance: High\n", 1},
        {"importance: low\n", 5},
        {"X-Priority: 9\n", 3},
        {"X-Priority: 5\nImportance: high\n", 5},
        {"", 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseHeaders(std::string(c.header) + "Subject: x\n\nbody").priority, c.priority)
            << c.header;
}

TEST(Headers, OddInputKeepsWhatCanBeRead) {
    // Bare LF line ends, a leading mbox line, no To, no Date.
    ParsedHeaders h = ParseHeaders("From someone Mon Dec  7 08:00:00 2026\nSubject: hi\n"
                                   "From: bob@example.org\n\nbody");
    EXPECT_EQ(h.subject, "hi");
    EXPECT_EQ(h.from, "bob@example.org");
    EXPECT_EQ(h.to, "");
    EXPECT_EQ(h.sent, 0u);
    EXPECT_EQ(h.received, 0u);
    // A group, an empty group and an address in angle brackets only.
    EXPECT_EQ(ParseHeaders("To: Team: a@example.org, B <b@example.org>;, <c@example.org>\n\n").to,
              "a@example.org; B; c@example.org");
    EXPECT_EQ(ParseHeaders("To: undisclosed-recipients:;\n\n").to, "undisclosed-recipients");
    // Garbage dates are ignored rather than guessed.
    for (const char* date : {"yesterday", "32 Dec 2026 10:00:00", "7 Foo 2026 10:00", "7 Dec 2026",
                             "7 Dec 2026 25:00:00 +0000", "29 Feb 2027 10:00:00"})
        EXPECT_EQ(ParseHeaders(std::string("Date: ") + date + "\n\n").sent, 0u) << date;
    // Two-digit years and zone names.
    EXPECT_EQ(ParseHeaders("Date: 7 Dec 26 08:00 EST\n\n").sent,
              FileTimeFromUtc(2026, 12, 7, 13, 0, 0));
    EXPECT_EQ(ParseHeaders("Date: Mon, 07 Dec 1998 08:00:00 GMT (comment)\n\n").sent,
              FileTimeFromUtc(1998, 12, 7, 8, 0, 0));
}

TEST(Headers, RandomBytesNeverBreakTheParser) {
    std::mt19937 rng(5);
    const std::string alphabet = "=?QBqb:;<>\"(),\\ \t\r\nFromToSubjectDate0123456789\x80\xC3\xFF";
    for (int i = 0; i < 3000; ++i) {
        std::string s;
        size_t n = rng() % 300;
        for (size_t k = 0; k < n; ++k)
            s += (rng() % 4 == 0) ? static_cast<char>(rng() & 0xFF)
                                  : alphabet[rng() % alphabet.size()];
        ParsedHeaders h =
            ParseHeaders("Subject: " + s + "\nFrom: " + s + "\nTo: " + s + "\nDate: " + s + "\n\n");
        ASSERT_TRUE(IsValidUtf8(h.subject) && IsValidUtf8(h.from) && IsValidUtf8(h.to)) << s;
    }
}

TEST(Charsets, AliasesAndUnknownNames) {
    std::string out;
    EXPECT_TRUE(CharsetToUtf8("LATIN1", "\xE9", &out));
    EXPECT_TRUE(CharsetToUtf8("cp1251", "\xC0", &out));
    EXPECT_TRUE(CharsetToUtf8("ISO_8859-2", "\xA3", &out));
    EXPECT_EQ(out, "éАŁ");
    EXPECT_FALSE(CharsetToUtf8("x-made-up", "abc", &out));
    // Bytes a charset leaves undefined.
    out.clear();
    EXPECT_TRUE(CharsetToUtf8("windows-1252", "\x81", &out));
    EXPECT_EQ(out, "\xEF\xBF\xBD");
}

} // namespace
} // namespace mailstore
