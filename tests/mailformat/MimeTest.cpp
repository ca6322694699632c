// MIME parts, their decoding, and what the reading pane makes of a message.
#include "Mime.h"

#include <gtest/gtest.h>

#include <string>

namespace mailformat {
namespace {

std::string NoDate(uint64_t) {
    return "DATE";
}

Reading Read(const std::string& source) {
    return Render(source, ParseMime(source), NoDate);
}

TEST(TransferDecoding, Base64QuotedPrintableAndPlain) {
    EXPECT_EQ(DecodeTransfer("SGVs\r\nbG8=\r\n", "base64"), "Hello");
    EXPECT_EQ(DecodeTransfer("SGVsbG", "BASE64"), "Hell");       // a cut quantum keeps whole bytes
    EXPECT_EQ(DecodeTransfer("S!G*V sbG8=", "base64"), "Hello"); // junk skipped
    EXPECT_EQ(DecodeTransfer("Caf=C3=A9 =\r\nau lait  \r\nx=3d=\n", "quoted-printable"),
              "Caf\xC3\xA9 au lait\r\nx=");
    EXPECT_EQ(DecodeTransfer("a=ZZb=", "quoted-printable"), "a=ZZb");
    EXPECT_EQ(DecodeTransfer("as is=41", "8bit"), "as is=41");
    for (const char* enc : {"base64", "quoted-printable", "7bit"}) {
        const std::string body = "QUJD=\r\nRA==x=4\r\n";
        EXPECT_EQ(DecodedSize(body, enc), DecodeTransfer(body, enc).size()) << enc;
    }
}

TEST(Parameters, Rfc2231And2047Names) {
    EXPECT_EQ(HeaderParameter("attachment; filename=\"a \\\"b\\\".txt\"", "filename"),
              "a \"b\".txt");
    EXPECT_EQ(HeaderParameter("attachment; FILENAME*=utf-8''%E2%82%AC%20rate.pdf", "filename"),
              "\xE2\x82\xAC rate.pdf");
    EXPECT_EQ(
        HeaderParameter("x; name*0*=iso-8859-1'de'Gr%FC; name*1=\"sse\"; name*2*=%2Etxt", "name"),
        "Gr\xC3\xBCsse.txt");
    EXPECT_EQ(HeaderParameter("x; name=\"=?utf-8?B?w6Rwcmls?=.doc\"", "name"), "\xC3\xA4pril.doc");
    EXPECT_EQ(HeaderParameter("x; other=1", "name"), "");
}

TEST(Flowed, JoinsSoftBreaksOnly) {
    EXPECT_EQ(JoinFlowed("one \ntwo \nthree\n four\n-- \nsig\n", false),
              "one two three\nfour\n-- \nsig\n");
    EXPECT_EQ(JoinFlowed("abc \ndef\n", true), "abcdef\n");
}

// Japanese mail: ISO-2022-JP bodies labelled, base64 or quoted-printable
// encoded, unlabelled, in HTML and format=flowed all read as the same text.
TEST(BodyCharsets, Iso2022JpBodies) {
    const std::string head = "Subject: x\r\nContent-Type: text/";
    const std::string kaigi = "\xE4\xBC\x9A\xE8\xAD\xB0"; // the word for "meeting"
    const std::string jis = "\x1b$B2q5D$OL@F|$G$9!#\x1b(B\r\n\x1b(I123\x1b(B \x1b(J\\\x1b(B\r\n";
    const std::string want = kaigi + "\xE3\x81\xAF\xE6\x98\x8E\xE6\x97\xA5\xE3\x81\xA7"
                                     "\xE3\x81\x99\xE3\x80\x82\n\xEF\xBD\xB1\xEF\xBD\xB2"
                                     "\xEF\xBD\xB3 \xC2\xA5\n";
    const char* labels[] = {"plain; charset=ISO-2022-JP\r\n",
                            "plain; charset=\"iso-2022-jp\"; format=flowed\r\n", "plain\r\n",
                            "plain; charset=x-unknown\r\n"};
    for (const char* label : labels)
        EXPECT_EQ(Read(head + label + "\r\n" + jis).text, "Subject: x\n\n" + want) << label;
    EXPECT_EQ(Read(head + "plain; charset=iso-2022-jp\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                          "GyRCMnE1RCRPTEBGfCRHJDkhIxsoQg0KGyhJMTIzGyhCIBsoSlwbKEINCg==\r\n")
                  .text,
              "Subject: x\n\n" + want);
    EXPECT_EQ(Read(head + "plain; charset=iso-2022-jp\r\nContent-Transfer-Encoding: "
                          "quoted-printable\r\n\r\n=1B$B2q5D=1B(B=\r\n=1B$B$O=1B(B\r\n")
                  .text,
              "Subject: x\n\n" + kaigi + "\xE3\x81\xAF\n");
    EXPECT_EQ(Read(head + "html; charset=iso-2022-jp\r\n\r\n<p>\x1b$B2q5D\x1b(B &amp; a</p>").text,
              "Subject: x\n\n" + kaigi + " & a\n");
}

TEST(Render, HeadersAndAPlainBody) {
    Reading r = Read("From: =?utf-8?Q?J=C3=BCrgen?= <j@example.org>\r\n"
                     "To: a@example.org, \"B, C\" <b@example.org>\r\n"
                     "Cc: Team: d@example.org;\r\n"
                     "Subject: =?utf-8?B?R3LDvMOfZQ==?= again\r\n"
                     "Date: Mon, 7 Dec 2026 08:26:54 +0100\r\n"
                     "Content-Type: text/plain; charset=iso-8859-1; format=flowed\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                     "Gr=FC=DFe=20\r\naus K=F6ln\r\n");
    EXPECT_EQ(r.text, "From: J\xC3\xBCrgen <j@example.org>\n"
                      "To: a@example.org, B, C <b@example.org>\n"
                      "Cc: d@example.org\n"
                      "Date: DATE\n"
                      "Subject: Gr\xC3\xBC\xC3\x9F"
                      "e again\n\n"
                      "Gr\xC3\xBC\xC3\x9F"
                      "e aus K\xC3\xB6ln\n");
    EXPECT_TRUE(r.attachments.empty());
}

TEST(Render, AlternativeMixedAttachmentsAndNestedMessages) {
    const std::string source =
        "Subject: outer\nContent-Type: multipart/mixed; boundary=\"b1\"\n\npreamble\n"
        "--b1\nContent-Type: multipart/alternative; boundary=b2\n\n"
        "--b2\nContent-Type: text/plain\n\nplain words\n"
        "--b2\nContent-Type: text/html\n\n<p>html words</p>\n--b2--\n"
        "--b1\nContent-Type: application/pdf; name=\"r.pdf\"\nContent-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment\n\nJVBERi0=\n"
        "--b1\nContent-Type: message/rfc822\n\n"
        "From: Inner <in@example.org>\nSubject: inner\nContent-Type: text/html\n\n"
        "<b>inner</b> &amp; text\n"
        "--b1--\nepilogue\n";
    MimeTree tree = ParseMime(source);
    Reading r = Render(source, tree, NoDate);
    EXPECT_NE(r.text.find("Subject: outer\n\nplain words\n"), std::string::npos) << r.text;
    EXPECT_EQ(r.text.find("html words"), std::string::npos);
    EXPECT_NE(r.text.find("From: Inner <in@example.org>\nSubject: inner\n\ninner & text"),
              std::string::npos)
        << r.text;
    EXPECT_EQ(r.text.find("preamble"), std::string::npos);
    EXPECT_EQ(r.text.find("epilogue"), std::string::npos);
    ASSERT_EQ(r.attachments.size(), 1u);
    EXPECT_EQ(r.attachments[0].name, "r.pdf");
    EXPECT_EQ(r.attachments[0].contentType, "application/pdf");
    EXPECT_EQ(r.attachments[0].size, 5u);
    const MimePart& pdf = tree.parts[static_cast<size_t>(r.attachments[0].part)];
    EXPECT_EQ(
        DecodeTransfer(std::string_view(source).substr(pdf.bodyStart, pdf.bodyEnd - pdf.bodyStart),
                       pdf.encoding),
        "%PDF-");
}

TEST(Render, MalformedMessagesShowWhatTheyCan) {
    // No closing delimiter, a boundary that never comes, a NUL, an unknown charset.
    Reading open = Read("Content-Type: multipart/mixed; boundary=x\n\n--x\n\nfirst\n--x\n\nsec");
    EXPECT_NE(open.text.find("first\nsec"), std::string::npos) << open.text;
    Reading missing = Read("Content-Type: multipart/mixed; boundary=x\n\nbody only");
    EXPECT_NE(missing.text.find("body only"), std::string::npos);
    const char nul[] = "Content-Type: text/plain; charset=x-unknown\n\na\0b\xC3\xA9";
    const std::string withNul(nul, sizeof nul - 1);
    EXPECT_NE(Read(withNul).text.find("ab\xC3\xA9"), std::string::npos);

    // Deep nesting and many parts stay within their caps.
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += "Content-Type: message/rfc822\n\n";
    deep += "Subject: bottom\n\nend\n";
    MimeTree tree = ParseMime(deep);
    EXPECT_TRUE(tree.capped);
    EXPECT_LE(tree.parts.size(), static_cast<size_t>(kMaxDepth) + 2);
    Read(deep);

    std::string many = "Content-Type: multipart/mixed; boundary=q\n\n";
    for (int i = 0; i < 5000; ++i)
        many += "--q\n\nx\n";
    EXPECT_EQ(ParseMime(many).parts.size(), kMaxParts);

    // A 1 MB header line and truncated base64 do not stop the body.
    Reading big = Read("Subject: " + std::string((1 << 20) - 100, 'a') +
                       "\nContent-Transfer-Encoding: base64\n\nSGVsbG8gd29y");
    EXPECT_NE(big.text.find("\n\nHello wor\n"), std::string::npos);
}

TEST(Render, TextIsCappedAtACharacterBoundary) {
    std::string source = "Content-Type: text/plain; charset=utf-8\n\n";
    for (int i = 0; i < 1000; ++i)
        source += "\xC3\xA9";
    Reading r = Render(source, ParseMime(source), NoDate, 101);
    EXPECT_TRUE(r.textCut);
    EXPECT_LE(r.text.size(), 101u);
    EXPECT_EQ(r.text.back(), '\xA9');
}

} // namespace
} // namespace mailformat
