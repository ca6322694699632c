// The command-line tool driven in-process on a real directory.
#include "CliFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <fstream>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mailstore::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
#ifdef _WIN32
const std::string kNoSuchFile = "File not found";
#else
const std::string kNoSuchFile = "No such file or directory";
#endif

// The line of a listing that ends with the subject.
std::string LineOf(const std::string& list, const std::string& subject) {
    std::istringstream in(list);
    for (std::string line; std::getline(in, line);) {
        if (line.size() > subject.size() &&
            line.compare(line.size() - subject.size() - 2, std::string::npos, "  " + subject) == 0)
            return line;
    }
    return "(no line for " + subject + ")";
}

TEST_F(CliTest, SessionOverTheSampleMessages) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Result r = Call({"import", store_, "Inbox", BRIS_SAMPLES_DIR});
    EXPECT_EQ(r.code, 2) << "the README is named, and skipping it was not asked for";
    EXPECT_THAT(r.out, HasSubstr("README.md: not a mail message"));
    ASSERT_EQ(Call({"init", Path("again")}).code, 0);
    r = Call({"import", "--skip-other", Path("again"), "Inbox", BRIS_SAMPLES_DIR});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Imported 8 messages into Inbox; skipped 2."));
    store_ = Path("again");
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
    EXPECT_THAT(r.out, Not(HasSubstr("2026"))) << "a refused import creates no folder";
    ASSERT_EQ(Call({"compact", store_}).code, 0);
    r = Call({"check", store_});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("5 folders, 8 messages"));
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
    EXPECT_THAT(r.out, HasSubstr("Imported 4 messages into Inbox; refused 2; skipped 1."));
    EXPECT_THAT(r.out, HasSubstr("empty.eml: empty file"));
    EXPECT_THAT(r.out, HasSubstr("missing.eml: " + kNoSuchFile));
    EXPECT_THAT(r.out, HasSubstr("md/tmp/.keep: a hidden file"));
    r = Call({"list", store_, "Inbox"});
    EXPECT_THAT(r.out, HasSubstr("U--  "));
    EXPECT_THAT(r.out, HasSubstr("-F-  "));
    EXPECT_THAT(r.out, HasSubstr("two"));

    // The mbox quoting is undone and the separator's blank line dropped.
    std::ifstream first(root_ / "store" / "messages" / "00" / "00" / "0000000000000001.eml",
                        std::ios::binary);
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
         {"init", "import", "folders", "list", "mark", "flag", "check", "compact", "show", "delete",
          "copy", "move-messages", "mkdir", "rename", "move", "rmdir", "export"}) {
        Result r = Call({cmd, "--help"});
        EXPECT_EQ(r.code, 0) << cmd;
        EXPECT_THAT(r.out, HasSubstr(std::string("Usage: mailstore ") + cmd));
    }
    Result r = Call({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_THAT(r.out, HasSubstr("mailstore import"));
    EXPECT_THAT(r.out, HasSubstr("mailstore export"));
    EXPECT_THAT(r.out, Not(HasSubstr("unknown")));
}

TEST_F(CliTest, CheckReportsAMissingMessageFile) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("m.eml", "Subject: x\n\nbody\n");
    ASSERT_EQ(Call({"import", store_, "Inbox", Path("m.eml")}).code, 0);
    fsys::remove(root_ / "store" / "messages" / "00" / "00" / "0000000000000001.eml");
    Result r = Call({"check", store_});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(
        r.out,
        HasSubstr("PROBLEM: messages/00/00/0000000000000001.eml: missing (message 1 in folder 1)"));
    EXPECT_THAT(r.out, HasSubstr("The store is damaged."));
}

// What `import DIR` makes of the things found in real mail directories.
TEST_F(CliTest, ImportOfADirectoryReadsMailAndNamesWhatItSkips) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("in/a.mbox",
          "\xEF\xBB\xBF\r\n\nFrom x Mon Dec  7 08:00:00 2026\nSubject: bom one\n\n1\n\n"
          "From y Mon Dec  7 09:00:00 2026\nSubject: bom two\n\n2\n");
    Write("in/export.txt", "From: a@example.org\nSubject: from a txt\n\nhi\n");
    Write("in/notes.txt", "buy milk\n");
    Write("in/sub/deeper/x.EML", "Subject: deep\n\nx\n");
    Write("in/sub/42", "Received: by x; Mon, 7 Dec 2026 08:00:00 +0000\nSubject: numbered\n\nx\n");
    Write("in/onlycur/cur/1765000000.M1P2.host:2,S", "Subject: only cur\n\nx\n");
    Write("in/.hidden.eml", "Subject: hidden\n\nx\n");
#ifndef _WIN32
    Write(std::string("in/odd\x01name.dat"), "\x89PNG");
#endif
    Result r = Call({"import", store_, "Inbox", Path("in")});
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.out, HasSubstr("Imported 6 messages into Inbox; skipped "));
    EXPECT_THAT(r.out, HasSubstr("notes.txt: not a mail message"));
    EXPECT_THAT(r.out, HasSubstr(".hidden.eml: a hidden file"));
#ifndef _WIN32
    EXPECT_THAT(r.out, HasSubstr("odd\\x01name.dat: not a mail message"));
#endif
    r = Call({"list", store_, "Inbox"});
    for (const char* subject : {"bom one", "bom two", "from a txt", "deep", "numbered", "only cur"})
        EXPECT_THAT(r.out, HasSubstr(subject));
    EXPECT_THAT(LineOf(r.out, "only cur"), HasSubstr("---  2025-12-06 05:46"))
        << "read in cur/, delivery time";
}

// Sources larger than the read buffer and the batch: split right at every boundary.
TEST_F(CliTest, ImportStreamsAnMboxLargerThanItsBuffers) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    std::string mbox;
    std::vector<std::string> sources;
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i) {
        const char* nl = i % 3 == 0 ? "\r\n" : "\n";
        std::string body(rng() % (i % 100 == 0 ? 1500000 : 20000), 'b');
        for (size_t k = 70; k < body.size(); k += 71)
            body[k] = '\n';
        std::string src = "Subject: m" + std::to_string(i) + nl + nl + body + nl;
        sources.push_back(src);
        mbox += "From x Mon Dec  7 08:00:00 2026" + std::string(nl) + src + nl;
    }
    Write("big.mbox", mbox);
    Result r = Call({"import", store_, "Inbox", Path("big.mbox")});
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_THAT(r.out, HasSubstr("Imported 300 messages"));
    for (int i : {0, 1, 100, 101, 299})
        EXPECT_TRUE(Stored(static_cast<MessageId>(i + 1)) == sources[static_cast<size_t>(i)]) << i;
}

// Special files are refused at once, never read; names are shown safely.
TEST_F(CliTest, ImportRefusesWhatIsNotARegularFileWithoutWaiting) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    Write("md/new/1765000000.1.host", "Subject: ok\n\nx\n");
#ifdef _WIN32
    const std::string special = "NUL";
    const std::string inside;
#else
    const std::string special = Path("pipe");
    const std::string inside = Path("md/new/1765000001.2.host");
    ASSERT_EQ(mkfifo(special.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(inside.c_str(), 0600), 0);
#endif
    // A hang guard, not a speed goal: if a read waits, a writer lets it go.
    auto call = std::async(std::launch::async, [&] {
        return Call({"import", store_, "Inbox", special, Path("md"), Path("gone\tname.eml")});
    });
    const bool returned = call.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
#ifndef _WIN32
    if (!returned) {
        for (const std::string& p : {special, inside})
            close(open(p.c_str(), O_WRONLY | O_NONBLOCK));
    }
#endif
    ASSERT_TRUE(returned) << "the import waited on a special file";
    Result r = call.get();
    EXPECT_EQ(r.code, 2);
    EXPECT_THAT(r.out, HasSubstr("Imported 1 message into Inbox"));
    EXPECT_THAT(r.out, HasSubstr(special + ": a "));
    EXPECT_THAT(r.out, HasSubstr("gone\\x09name.eml: "));
#ifndef _WIN32
    EXPECT_THAT(r.out, HasSubstr("Skipped:\n  " + inside + ": a FIFO (named pipe), not a file"));
#endif
}

// The received time: Received:, else the delivery time the mailbox kept, else
// Date:, else the file's time.
TEST_F(CliTest, ImportTakesTheReceivedTimeFromTheBestSource) {
    ASSERT_EQ(Call({"init", store_}).code, 0);
    const std::string date = "Date: Tue, 1 Dec 2026 10:00:00 +0000\n";
    Write("md/cur/1765000000.1.h:2,S",
          "Subject: a\nReceived: by x; Wed, 2 Dec 2026 11:00:00 +0000\n" + date + "\nx\n");
    Write("md/cur/1765100000.2.h:2,S", "Subject: b\n" + date + "\nx\n");
    Write("m.mbox", "From x Thu Dec  3 12:00:00 2026\nSubject: c\n" + date + "\nx\n");
    Write("d.eml", "Subject: d\n" + date + "\nx\n");
    Write("e.eml", "Subject: e\n\nx\n");
    using namespace std::chrono;
    const sys_time<system_clock::duration> when = sys_days{2024y / 3 / 5} + 367min;
    fsys::last_write_time(root_ / "e.eml", file_clock::from_sys(when));
    ASSERT_EQ(Call({"import", "--read", store_, "Inbox", Path("md"), Path("m.mbox"), Path("d.eml"),
                    Path("e.eml")})
                  .code,
              0);
    const std::string list = Call({"list", store_, "Inbox"}).out;
    EXPECT_THAT(LineOf(list, "a"), HasSubstr("2026-12-02 11:00"));
    EXPECT_THAT(LineOf(list, "b"), HasSubstr("2025-12-07 09:33"));
    EXPECT_THAT(LineOf(list, "c"), HasSubstr("2026-12-03 12:00"));
    EXPECT_THAT(LineOf(list, "d"), HasSubstr("2026-12-01 10:00"));
    EXPECT_THAT(LineOf(list, "e"), HasSubstr("2024-03-05 06:07"));
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
    EXPECT_TRUE(fsys::exists(root_ / "store" / "messages" / "00" / "00" / "0000000000000001.eml"));
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
