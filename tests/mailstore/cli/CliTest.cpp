// The command-line tool driven in-process on a real directory.
#include "Cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace mailstore::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fsys = std::filesystem;

struct Result {
    int code;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        root_ = fsys::temp_directory_path() / ("mailstore-cli-" + std::to_string(rd()));
        fsys::create_directories(root_);
        store_ = Path("store");
    }
    void TearDown() override {
        std::error_code ec;
        fsys::remove_all(root_, ec);
    }
    std::string Path(const std::string& name) const { return (root_ / name).generic_string(); }
    void Write(const std::string& name, const std::string& bytes) {
        fsys::create_directories((root_ / name).parent_path());
        std::ofstream f(root_ / name, std::ios::binary);
        f << bytes;
    }
    Result Call(std::vector<std::string> args) {
        std::ostringstream out, err;
        int code = mailstore::cli::Run(args, out, err, false);
        return {code, out.str(), err.str()};
    }
    fsys::path root_;
    std::string store_;
};

TEST_F(CliTest, SessionOverTheSampleMessages) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Result r = Call({"import", store_, "Inbox", BRIS_SAMPLES_DIR});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Imported 8 messages into Inbox."));
    r = Call({"list", store_, "Inbox"});
    ASSERT_EQ(r.code, 0);
    EXPECT_THAT(r.out, HasSubstr("Grüße aus dem Bureau à bientôt"));
    EXPECT_THAT(r.out, HasSubstr("U-H  "));                           // high priority, unread
    EXPECT_THAT(r.out, HasSubstr("U-L  "));                           // low priority
    EXPECT_THAT(r.out, HasSubstr("UF-  "));                           // flagged in the Maildir
    EXPECT_THAT(r.out, HasSubstr("2026-11-30 09:15  Alice Example")); // from Received:
    EXPECT_THAT(r.out, HasSubstr("8 messages"));
    r = Call({"folders", store_});
    EXPECT_THAT(r.out, HasSubstr("Inbox"));
    EXPECT_THAT(r.out, HasSubstr("#1 (inbox)  8 messages, 7 unread"));

    ASSERT_EQ(Call({"mark", store_, "Inbox", "read", "all"}).code, 0);
    ASSERT_EQ(Call({"mark", store_, "Inbox", "unread", "2", "3"}).code, 0);
    ASSERT_EQ(Call({"flag", store_, "#1", "on", "3"}).code, 0);
    r = Call({"folders", store_});
    EXPECT_THAT(r.out, HasSubstr("8 messages, 2 unread"));
    r = Call({"list", store_, "Inbox"});
    EXPECT_THAT(r.out, HasSubstr("3         UFL"));

    ASSERT_EQ(Call({"import", "--create", "--read", store_, "Archive/2026", Path("none.eml")}).code,
              2);
    r = Call({"folders", store_});
    EXPECT_THAT(r.out, HasSubstr("  2026"));
    ASSERT_EQ(Call({"compact", store_}).code, 0);
    r = Call({"check", store_});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("7 folders, 8 messages"));
    EXPECT_THAT(r.out, HasSubstr("The store is sound."));
}

TEST_F(CliTest, ImportSplitsMboxReadsMaildirFlagsAndReportsRefusals) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("box.mbox", "From a@example.org Mon Dec  7 08:00:00 2026\nSubject: one\n\nbody\n"
                      ">From the start\n>>From deeper\n\nFrom b@example.org Mon Dec  7 09:00:00 "
                      "2026\nSubject: two\n\nlast\n");
    Write("md/cur/1.x!2,FS", "Subject: seen and flagged\n\nx\n");
    Write("md/new/2.x", "Subject: fresh\n\nx\n");
    Write("md/tmp/.keep", "");
    Write("empty.eml", "");
    Result r = Call({"import", store_, "Inbox", Path("box.mbox"), Path("md"), Path("empty.eml"),
                     Path("missing.eml")});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.out, HasSubstr("Imported 4 messages into Inbox; refused 2:"));
    EXPECT_THAT(r.out, HasSubstr("empty.eml: empty file"));
    EXPECT_THAT(r.out, HasSubstr("missing.eml: no such file or directory"));
    r = Call({"list", store_, "Inbox"});
    EXPECT_THAT(r.out, HasSubstr("U--  "));
    EXPECT_THAT(r.out, HasSubstr("-F-  "));
    EXPECT_THAT(r.out, HasSubstr("two"));

    // The mbox quoting is undone and the separator's blank line dropped.
    std::ifstream first(root_ / "store" / "messages" / "0000000000000001.eml", std::ios::binary);
    std::stringstream bytes;
    bytes << first.rdbuf();
    EXPECT_EQ(bytes.str(), "Subject: one\n\nbody\nFrom the start\n>From deeper\n");
}

TEST_F(CliTest, BadInputExitsNonZeroWithOneLine) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    const std::vector<std::vector<std::string>> cases = {
        {"frobnicate"},
        {"init", store_},
        {"init"},
        {"list", store_, "Nowhere"},
        {"list", Path("not-a-store"), "Inbox"},
        {"import", store_, "Inbox"},
        {"import", "--bogus", store_, "Inbox", "x"},
        {"mark", store_, "Inbox", "maybe", "1"},
        {"mark", store_, "Inbox", "read", "12abc"},
        {"flag", store_, "Inbox", "on", "41"},
        {"folders"},
        {"compact", Path("not-a-store")},
        {"check", Path("not-a-store")},
    };
    for (const auto& args : cases) {
        Result r = Call(args);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_THAT(r.err, HasSubstr("mailstore")) << r.err;
    }
    EXPECT_EQ(Call({}).code, 1);
}

TEST_F(CliTest, EveryCommandHasHelp) {
    for (const char* cmd :
         {"init", "import", "folders", "list", "mark", "flag", "check", "compact"}) {
        Result r = Call({cmd, "--help"});
        EXPECT_EQ(r.code, 0) << cmd;
        EXPECT_THAT(r.out, HasSubstr(std::string("Usage: mailstore ") + cmd));
    }
    Result r = Call({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.out, HasSubstr("mailstore import"));
    EXPECT_THAT(r.out, Not(HasSubstr("unknown")));
}

TEST_F(CliTest, CheckReportsAMissingMessageFile) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("m.eml", "Subject: x\n\nbody\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("m.eml")}).code, 0);
    fsys::remove(root_ / "store" / "messages" / "0000000000000001.eml");
    Result r = Call({"check", store_});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(
        r.out,
        HasSubstr("PROBLEM: messages/0000000000000001.eml: missing (message 1 in folder 1)"));
    EXPECT_THAT(r.out, HasSubstr("The store is damaged."));
}

// A store whose snapshot went: nothing may build a new store over it, check
// names the damage, and recover brings the message back where it was.
TEST_F(CliTest, StoreWithoutSnapshotIsRefusedThenRecovered) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("m.eml", "Subject: keep me\n\nbody\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("m.eml")}).code, 0);
    fsys::remove(root_ / "store" / "snapshot.bin");
    for (Result r : {Call({"init", store_}), Call({"list", store_, "Inbox"})}) {
        EXPECT_EQ(r.code, 1);
        EXPECT_THAT(r.err, HasSubstr("damaged store"));
    }
    EXPECT_TRUE(fsys::exists(root_ / "store" / "messages" / "0000000000000001.eml"));
    Result r = Call({"check", store_});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.out, HasSubstr("PROBLEM: snapshot.bin: missing at offset 0"));
    r = Call({"recover", store_});
    ASSERT_EQ(r.code, 0) << r.err;
    // The journal still holds every change since the store was made.
    EXPECT_THAT(r.out, HasSubstr("its records are replayed"));
    EXPECT_THAT(Call({"list", store_, "Inbox"}).out, HasSubstr("keep me"));
    EXPECT_EQ(Call({"check", store_}).code, 0);
}

} // namespace
} // namespace mailstore::cli
