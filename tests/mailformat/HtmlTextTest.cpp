// HTML read as text: what shows, what is dropped, and hostile markup.
#include "HtmlText.h"

#include <gtest/gtest.h>

namespace mailformat {
namespace {

TEST(HtmlText, BlocksEntitiesLinksAndDroppedContent) {
    EXPECT_EQ(HtmlToText("<html><head><title>T</title><style>p{x:1}</style></head><body>"
                         "<p>Hello&nbsp;&amp; <b>bold</b>\n  words</p><div>line<br>two</div>"
                         "<script>alert(1)</script><!-- note -->"
                         "<ul><li>one<li>two</ul>"
                         "<a href=\"https://example.org/x?a=1&amp;b=2\">site</a> "
                         "<a href='https://example.org'>https://example.org</a>"
                         "<img src=\"http://t.example/p.gif\" alt=\"logo\">&#233;&#x20AC;&bogus;"
                         "<pre>a  b\n c</pre></body></html>"),
              "Hello\xC2\xA0& bold words\n\nline\ntwo\n\n\xE2\x80\xA2 one\n\xE2\x80\xA2 two\n\n"
              "site <https://example.org/x?a=1&b=2> https://example.org[logo]\xC3\xA9\xE2\x82\xAC"
              "&bogus;\n\na  b\n c");
}

TEST(HtmlText, HostileMarkupEndsInLinearTime) {
    EXPECT_EQ(HtmlToText("text <b unclosed"), "text");
    EXPECT_EQ(HtmlToText("<style>never closed <p>hidden"), "");
    EXPECT_EQ(HtmlToText("a<!-- open comment"), "a");
    // These would be quadratic with a careless scan; 4 MB each.
    HtmlToText(std::string(4 << 20, '&'));
    HtmlToText(std::string(4 << 20, '<'));
    std::string styles;
    for (int i = 0; i < 100000; ++i)
        styles += "<style></p>";
    EXPECT_EQ(HtmlToText(styles), "");
}

} // namespace
} // namespace mailformat
