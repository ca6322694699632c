// The change commands, show and the --json listings.
#include "CliFixture.h"
#include "Commands.h"
#include "ExportNames.h"

namespace mailstore::cli {
namespace {

using ::testing::HasSubstr;

class CommandsTest : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(Call({"init", store_}).code, 0);
        Write("a.eml", "Subject: one\r\n\r\nfirst\r\n");
        Write("b.eml", "Subject: two\n\nsecond\n");
        Write("c.eml", "Subject: three\n\nno final newline");
        ASSERT_EQ(
            Call({"import", store_, "Inbox", Path("a.eml"), Path("b.eml"), Path("c.eml")}).code, 0);
        ASSERT_EQ(Call({"mkdir", "--parents", store_, "Archive/2026/Q4"}).code, 0);
    }
};

TEST_F(CommandsTest, FolderCommandsChangeTheTree) {
    Result r = Call({"mkdir", store_, "Inbox/Work"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Created folder Inbox/Work #"));
    ASSERT_EQ(Call({"rename", store_, "Inbox/Work", "Jobs"}).code, 0);
    ASSERT_EQ(Call({"move", store_, "Inbox/Jobs", "Archive/2026"}).code, 0);
    ASSERT_EQ(Call({"move", store_, "Archive/2026/Q4", "/"}).code, 0);
    ASSERT_EQ(Call({"copy", store_, "Inbox", "Archive/2026/Jobs", "all"}).code, 0);
    r = Call({"rmdir", store_, "Archive"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("with 0 messages and 1 sub-folder"));
    const auto folders = Contents(store_);
    std::vector<std::string> paths;
    for (const auto& [path, messages] : folders)
        paths.push_back(path);
    EXPECT_EQ(paths, (std::vector<std::string>{"Deleted Items", "Drafts", "Inbox", "Outbox", "Q4",
                                               "Sent Items"}));
    EXPECT_EQ(Call({"check", store_}).code, 0);
}

TEST_F(CommandsTest, MessageCommandsCopyMoveAndDelete) {
    const auto before = Contents(store_)["Inbox"];
    Result r = Call({"copy", store_, "Inbox", "Archive/2026", "3", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Copied 2 messages to Archive/2026, new ids: 4 5."));
    r = Call({"move-messages", store_, "Inbox", "Drafts", "all"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("Moved 3 messages to Drafts, new ids: 6 7 8."));
    ASSERT_EQ(Call({"delete", store_, "Drafts", "7", "7"}).code, 0);
    auto after = Contents(store_);
    EXPECT_TRUE(after["Inbox"].empty());
    EXPECT_EQ(after["Drafts"], (std::vector<Kept>{before[0], before[2]}));
    EXPECT_EQ(after["Archive/2026"], (std::vector<Kept>{before[2], before[0]}));
}

// Every refusal leaves the store as it was and says why in one line.
TEST_F(CommandsTest, RefusalsChangeNothing) {
    ASSERT_EQ(Call({"mkdir", store_, "Inbox/Work"}).code, 0);
    ASSERT_EQ(Call({"mkdir", store_, "Archive/Work"}).code, 0);
    const std::string before = Fingerprint();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"rmdir", store_, "Inbox"}, "special folder"},
        {{"rename", store_, "Sent Items", "Old"}, "special folder"},
        {{"move", store_, "Drafts", "Inbox"}, "special folder"},
        {{"rmdir", store_, "#0"}, "top level"},
        {{"move", store_, "Archive", "Archive/2026/Q4"}, "sub-folders"},
        {{"mkdir", store_, "Inbox/Work"}, "exists"},
        {{"mkdir", store_, "Nowhere/Work"}, "Nowhere"},
        {{"rename", store_, "Archive", "Drafts"}, "Drafts"},
        {{"move", store_, "Inbox/Work", "Archive"}, "Work"},
        {{"rename", store_, "Inbox/Work", ""}, "empty"},
        {{"rename", store_, "#99", "X"}, "99"},
        {{"rename", store_, "#x1", "X"}, "not a folder id"},
        {{"delete", store_, "Inbox", "1", "42"}, "42"},
        {{"delete", store_, "Inbox", "one"}, "not a message id"},
        {{"copy", store_, "Inbox", "Nowhere", "1"}, "Nowhere"},
        {{"copy", store_, "Inbox", "Drafts", "2", "9"}, "9"},
        {{"move-messages", store_, "Inbox", "Inbox", "all"}, "same folder"},
        {{"move-messages", store_, "Inbox", "Drafts"}, "usage"},
        {{"show", store_, "Inbox", "7"}, "7"},
        {{"mkdir", "--bogus", store_, "X"}, "unknown option"},
        {{"export", store_, "Inbox", Path("out"), "--format", "pdf"}, "unknown format"},
        {{"export", store_, "Inbox", Path("out"), "--format"}, "needs a value"},
        // A path that cannot be made whole creates none of it.
        {{"mkdir", "--parents", store_, "New/" + std::string(300, 'x') + "/B"}, "255 bytes"},
        {{"import", "--create", store_, "New/" + std::string(300, 'x'), Path("a.eml")}, "255"},
        {{"mkdir", store_, "C1 \xc2\x85 here"}, "C1 \\xc2\\x85 here"},
        {{"mkdir", store_,
          "invoice\xe2\x80\xae"
          "fdp.exe"},
         "turn the direction of text"},
        {{"rename", store_, "Inbox/Work", "\xe2\x81\xa6Work"}, "turn the direction of text"},
    };
    for (const auto& [args, why] : cases) {
        Result r = Call(args);
        EXPECT_EQ(r.code, 1) << args[0] << " " << args.back();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr(why)) << r.err;
        EXPECT_EQ(r.err.find("\xc2\x85"), std::string::npos) << "a control character echoed";
        ASSERT_EQ(Fingerprint(), before) << args[0] << " " << args.back();
    }
    EXPECT_FALSE(fsys::exists(root_ / "out"));
}

TEST_F(CommandsTest, ShowWritesTheStoredSource) {
    EXPECT_EQ(Call({"show", store_, "Inbox", "1"}).out, "Subject: one\r\n\r\nfirst\r\n");
    EXPECT_EQ(Call({"show", store_, "#1", "3"}).out, "Subject: three\n\nno final newline");
    EXPECT_EQ(Call({"show", "--headers", store_, "Inbox", "1"}).out, "Subject: one\r\n");
    EXPECT_EQ(Call({"show", store_, "Inbox", "2", "--headers"}).out, "Subject: two\n");
}

TEST_F(CommandsTest, JsonListings) {
    Write("q.eml", "From: \"Quote \\\"Q\\\" Example\" <q@example.org>\n"
                   "Subject: back\\slash =?utf-8?q?caf=C3=A9?=\n"
                   "Date: Mon, 07 Dec 2026 08:00:00 +0000\n\nx\n");
    ASSERT_EQ(Call({"import", "--read", "--flagged", store_, "Archive/2026", Path("q.eml")}).code,
              0);
    Result r = Call({"list", store_, "--json", "Archive/2026"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_THAT(r.out, HasSubstr("{\"folder\":{\"id\":7,\"path\":\"Archive/2026\"},\"messages\":[{"
                                 "\"id\":4,\"unread\":false,\"flagged\":true,\"priority\":"
                                 "\"normal\",\"received\":\"20"));
    EXPECT_THAT(r.out, HasSubstr(",\"sent\":\"2026-12-07T08:00:00Z\",\"size\":127,"));
    EXPECT_THAT(r.out, HasSubstr("\"from\":\"Quote \\\"Q\\\" Example\""));
    EXPECT_THAT(r.out, HasSubstr("\"subject\":\"back\\\\slash café\"}]}"));

    r = Call({"folders", "--json", store_});
    EXPECT_THAT(r.out,
                HasSubstr("{\"id\":6,\"name\":\"Archive\",\"path\":\"Archive\",\"type\":null,"
                          "\"messages\":0,\"unread\":0,\"children\":[{\"id\":7,"));
    EXPECT_THAT(r.out, HasSubstr("\"path\":\"Archive/2026/Q4\""));

    // check --json carries the lines check prints: a missing and a stray message file.
    ASSERT_TRUE(fsys::remove(root_ / "store" / "messages" / "00" / "00" / "0000000000000002.eml"));
    Write("store/messages/00000000000000f0.eml", "Subject: stray\n\nx\n");
    ASSERT_EQ(Call({"mkdir", store_, "Later"}).code, 0); // a change after the stray file came
    const Result text = Call({"check", store_});
    r = Call({"check", "--json", store_});
    EXPECT_EQ(r.code, text.code);
    EXPECT_THAT(r.out, HasSubstr("{\"ok\":false,\"folders\":9,\"messages\":4,"));
    std::map<std::string, std::string> arrays = {
        {"PROBLEM: ", ""}, {"UNACCOUNTED: ", ""}, {"SET ASIDE: ", ""}};
    std::istringstream lines(text.out);
    for (std::string line; std::getline(lines, line);)
        for (auto& [prefix, json] : arrays)
            if (line.compare(0, prefix.size(), prefix) == 0)
                json += (json.empty() ? "\"" : ",\"") + line.substr(prefix.size()) + "\"";
    EXPECT_THAT(arrays["PROBLEM: "], HasSubstr("00000000000000f0.eml"));
    EXPECT_THAT(r.out, HasSubstr("\"problems\":[" + arrays["PROBLEM: "] + "],\"unaccounted\":[" +
                                 arrays["UNACCOUNTED: "] + "],\"setAside\":[" +
                                 arrays["SET ASIDE: "] + "],\"notTheStores\":[]}"));
}

TEST(JsonStringTest, KeepsValidUtf8AndReplacesEveryInvalidByte) {
    EXPECT_EQ(JsonString("caf\xC3\xA9 \xF0\x9F\x93\xA7\t\"\\"),
              "\"caf\xC3\xA9 \xF0\x9F\x93\xA7\\u0009\\\"\\\\\"");
    const std::string bad = "\xEF\xBF\xBD";
    // A surrogate, an overlong slash, past U+10FFFF, a cut sequence, a stray byte.
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"" + bad + bad + bad + "\"");
    EXPECT_EQ(JsonString("\xE0\x80\xAF"), "\"" + bad + bad + bad + "\"");
    EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), "\"" + bad + bad + bad + bad + "\"");
    EXPECT_EQ(JsonString("a\xC3"), "\"a" + bad + "\"");
    EXPECT_EQ(JsonString("\x80z"), "\"" + bad + "z\"");
}

TEST(PrintableTest, EscapesWhatIsNotWellFormedOrIsAControl) {
    EXPECT_EQ(Printable("caf\xC3\xA9 \xF0\x9F\x93\xA7"), "caf\xC3\xA9 \xF0\x9F\x93\xA7");
    // An overlong slash, a surrogate, past U+10FFFF, a C1 control, a tab.
    EXPECT_EQ(Printable("\xC0\xAF"), "\\xc0\\xaf");
    EXPECT_EQ(Printable("\xED\xA0\x80"), "\\xed\\xa0\\x80");
    EXPECT_EQ(Printable("\xF5\x80\x80\x80"), "\\xf5\\x80\\x80\\x80");
    EXPECT_EQ(Printable("\xC2\x85\t"), "\\xc2\\x85\\x09");
}

TEST(MboxSeparatorTest, NamesTheWeekdayEitherSideOf1970) {
    MessageInfo m;
    m.received = FileTimeFromUtc(1969, 12, 31, 23, 59, 59);
    EXPECT_EQ(MboxSeparator(m), "From - Wed Dec 31 23:59:59 1969\n");
    m.received = FileTimeFromUtc(2000, 2, 29, 8, 0, 0);
    EXPECT_EQ(MboxSeparator(m), "From - Tue Feb 29 08:00:00 2000\n");
    m.received = FileTimeFromUtc(1601, 1, 1, 0, 0, 0) + 1; // 0 means no date
    EXPECT_EQ(MboxSeparator(m), "From - Mon Jan  1 00:00:00 1601\n");
}

} // namespace
} // namespace mailstore::cli
