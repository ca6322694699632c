// Crash safety against the reference model: a scripted run of changes of every
// kind is interrupted at every file-system step, its journal is cut at every
// byte and bit-flipped near its end, and every single write is made to fail.
#include "MemFs.h"
#include "StoreModel.h"

#include <gtest/gtest.h>

#include <iostream>

namespace mailstore::testing {
namespace {

const char* const kDir = "/store";

OpenOptions Options(FileSystem* fs, uint64_t compactBytes, bool create = false) {
    OpenOptions o;
    o.fs = fs;
    o.create = create;
    o.clock = [] { return kFixedClock; };
    o.compactJournalBytes = compactBytes;
    o.lockTimeoutMs = 0;
    return o;
}

// Reopens a crash image; empty when it shows `before` or `after` in full, opens
// clean, and takes a further change that survives another reopen.
std::string VerifyImage(MemFs& img, const std::string& before, const std::string& after) {
    std::unique_ptr<Store> store;
    Status s = Store::Open(kDir, Options(&img, 1u << 20), &store);
    if (!s.ok())
        return "reopen failed: " + s.message();
    const std::string dump = Dump(*store);
    if (dump != before && dump != after)
        return "state is neither the acknowledged one nor the one in flight:\n" + dump +
               "\nexpected\n" + after;
    // Files a committed delete let go may wait for compaction; nothing else may.
    CheckReport report;
    s = Store::Check(kDir, &img, &report);
    if (!s.ok() || !report.ok)
        return "check after reopen: " + s.message() +
               (report.problems.empty() ? "" : report.problems[0]);
    MessageId id = 0;
    s = store->ImportMessage(1, MakeMessage(9999), &id);
    if (!s.ok())
        return "change after reopen failed: " + s.message();
    store.reset();
    s = Store::Open(kDir, Options(&img, 1u << 20), &store);
    MessageInfo info;
    if (!s.ok() || !store->GetMessageInfo(1, id, &info).ok())
        return "change after reopen was lost";
    s = store->Compact();
    if (s.ok())
        s = Store::Check(kDir, &img, &report);
    if (!s.ok() || !report.ok || report.orphanFiles != 0)
        return "check after compaction: " + s.message() +
               (report.problems.empty() ? "" : report.problems[0]) +
               " orphans=" + std::to_string(report.orphanFiles);
    return "";
}

TEST(CrashSafety, CrashAtEveryStepKeepsEveryAcknowledgedChange) {
    MemFs fs;
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(kDir, Options(&fs, 3000, true), &store).ok());
    Model model;
    ScriptGenerator gen(7);
    std::string before, after;
    uint64_t points = 0, images = 0;
    std::vector<std::string> failures;
    fs.beforeStep = [&](uint64_t n, MemFs::StepKind kind, const std::string&) {
        ++points;
        for (Unflushed mode : {Unflushed::Applied, Unflushed::Dropped, Unflushed::Garbled}) {
            for (bool torn : {false, true}) {
                if (torn && kind != MemFs::StepKind::Write)
                    continue;
                auto img = fs.CrashImage(mode, static_cast<uint32_t>(n), torn);
                ++images;
                std::string why = VerifyImage(*img, before, after);
                if (!why.empty() && failures.size() < 3)
                    failures.push_back("step " + std::to_string(n) + " mode " +
                                       std::to_string(static_cast<int>(mode)) +
                                       (torn ? " torn" : "") + ": " + why);
            }
        }
    };
    std::map<int, int> kinds;
    for (int i = 0; i < 230; ++i) {
        Step s = gen.Next(model);
        Model next = model;
        ErrorCode expect = next.Apply(s);
        before = model.Dump();
        after = expect == ErrorCode::Ok ? next.Dump() : before;
        Status st = Execute(*store, s);
        ASSERT_EQ(st.code(), expect) << i << " " << s.Describe() << ": " << st.message();
        if (st.ok())
            model = next;
        ++kinds[s.kind];
        ASSERT_EQ(Dump(*store), model.Dump()) << s.Describe();
        ASSERT_TRUE(failures.empty()) << "after " << s.Describe() << "\n" << failures[0];
    }
    fs.beforeStep = nullptr;
    EXPECT_EQ(kinds.size(), 16u) << "the script covers every kind of change";
    EXPECT_GT(points, 700u);
    std::cout << "[ crash points ] " << points << " steps, " << images
              << " crash images reopened, none lost an acknowledged change\n";
}

TEST(CrashSafety, CrashWhileMovingOldLayoutIntoSubDirectoriesLosesNothing) {
    MemFs fs;
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(kDir, Options(&fs, 1u << 20, true), &store).ok());
    std::vector<MessageId> ids;
    for (int i = 0; i < 12; ++i) {
        MessageId id = 0;
        ASSERT_TRUE(store->ImportMessage(1, MakeMessage(i), &id).ok());
        ids.push_back(id);
    }
    ASSERT_TRUE(store->Compact().ok());
    store.reset();
    fs.Flatten(kDir);
    ASSERT_TRUE(Store::Open(kDir, Options(&fs, 1u << 20), &store).ok());
    ASSERT_TRUE(store->DeleteMessages(1, {ids[3], ids[7]}).ok()); // freed files of the old layout
    const std::string state = Dump(*store);
    uint64_t points = 0;
    std::vector<std::string> failures;
    fs.beforeStep = [&](uint64_t n, MemFs::StepKind, const std::string&) {
        ++points;
        for (Unflushed mode : {Unflushed::Applied, Unflushed::Dropped}) {
            auto img = fs.CrashImage(mode, static_cast<uint32_t>(n));
            std::string why = VerifyImage(*img, state, state);
            if (!why.empty() && failures.size() < 3)
                failures.push_back("step " + std::to_string(n) + ": " + why);
        }
    };
    ASSERT_TRUE(store->Compact().ok());
    fs.beforeStep = nullptr;
    for (const std::string& f : failures)
        ADD_FAILURE() << f;
    EXPECT_GT(points, 10u) << "the move is a step per file";
    for (const std::string& path : fs.FilesUnder(std::string(kDir) + "/messages"))
        EXPECT_EQ(std::count(path.begin(), path.end(), '/'), 5) << path << " left in place";
    EXPECT_EQ(fs.FilesUnder(std::string(kDir) + "/messages").size(), 10u);
    EXPECT_EQ(Dump(*store), state);
}

TEST(CrashSafety, CrashWhileCreatingLeavesAStoreOrNone) {
    MemFs fs;
    const std::string fresh = Model().Dump();
    int points = 0;
    fs.beforeStep = [&](uint64_t n, MemFs::StepKind, const std::string&) {
        ++points;
        for (Unflushed mode : {Unflushed::Applied, Unflushed::Dropped, Unflushed::Garbled}) {
            auto img = fs.CrashImage(mode, static_cast<uint32_t>(n));
            std::unique_ptr<Store> store;
            Status s = Store::Open(kDir, Options(img.get(), 1u << 20), &store);
            ASSERT_TRUE(s.ok() || s.code() == ErrorCode::NotAStore) << n << ": " << s.message();
            if (s.ok()) {
                ASSERT_EQ(Dump(*store), fresh) << n;
            }
            // Creating again over whatever is left works.
            ASSERT_TRUE(Store::Open(kDir, Options(img.get(), 1u << 20, true), &store).ok()) << n;
            ASSERT_EQ(Dump(*store), fresh) << n;
        }
    };
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(kDir, Options(&fs, 1u << 20, true), &store).ok());
    EXPECT_GE(points, 8);
}

TEST(CrashSafety, JournalCutAtEveryByteAndBitFlipsNearItsEnd) {
    MemFs fs;
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(kDir, Options(&fs, 1u << 30, true), &store).ok());
    const std::string journal = std::string(kDir) + "/journal.bin";
    // The disk just before each record's flush: the record written in full, the
    // files it frees not yet removed. Any cut of that record is a possible crash.
    struct Capture {
        std::unique_ptr<MemFs> image;
        size_t start = 0; // journal size before the record
        std::string before, after;
    };
    std::vector<Capture> captures;
    Model model;
    std::string before, after;
    size_t start = 0;
    fs.beforeStep = [&](uint64_t, MemFs::StepKind kind, const std::string& path) {
        if (kind != MemFs::StepKind::Flush || path != journal)
            return;
        captures.push_back({fs.Clone(), start, before, after});
        // A second record of the same step (a delete's files are gone) follows the first.
        start = fs.Content(journal)->size();
        before = after;
    };
    ScriptGenerator gen(11);
    for (int i = 0; i < 45;) {
        Step s = gen.Next(model);
        if (s.kind == Step::Compact)
            continue;
        ++i;
        Model next = model;
        ErrorCode expect = next.Apply(s);
        before = model.Dump();
        after = next.Dump();
        start = fs.Content(journal)->size();
        ASSERT_EQ(Execute(*store, s).code(), expect) << s.Describe();
        if (expect == ErrorCode::Ok)
            model = next;
    }
    fs.beforeStep = nullptr;
    store.reset();
    ASSERT_GT(captures.size(), 25u);

    uint64_t cuts = 0;
    for (size_t cut = 0; cut < 24; ++cut) {
        // The header is written whole under a temporary name; a cut one is damage.
        auto img = fs.Clone();
        img->Content(journal)->resize(cut);
        std::unique_ptr<Store> s2;
        Status s = Store::Open(kDir, Options(img.get(), 1u << 30), &s2);
        ++cuts;
        ASSERT_EQ(s.code(), ErrorCode::Corrupt) << cut;
        ASSERT_NE(s.message().find("journal.bin"), std::string::npos);
    }
    for (const Capture& c : captures) {
        const size_t end = c.image->Content(journal)->size();
        for (size_t cut = c.start; cut <= end; ++cut) {
            auto img = c.image->Clone();
            img->Content(journal)->resize(cut);
            std::unique_ptr<Store> s2;
            Status s = Store::Open(kDir, Options(img.get(), 1u << 30), &s2);
            ++cuts;
            ASSERT_TRUE(s.ok()) << "cut at " << cut << ": " << s.message();
            ASSERT_EQ(Dump(*s2), cut == end ? c.after : c.before) << "cut at " << cut;
        }
    }

    uint64_t flips = 0, refused = 0;
    const Capture& last = captures.back();
    const std::string full = *last.image->Content(journal);
    for (size_t pos = full.size() - 300; pos < full.size(); ++pos) {
        for (int bit = 0; bit < 8; ++bit) {
            auto img = last.image->Clone();
            (*img->Content(journal))[pos] ^= static_cast<char>(1 << bit);
            std::unique_ptr<Store> s2;
            Status s = Store::Open(kDir, Options(img.get(), 1u << 30), &s2);
            ++flips;
            if (!s.ok()) {
                ++refused;
                ASSERT_EQ(s.code(), ErrorCode::Corrupt);
                ASSERT_NE(s.message().find("journal.bin"), std::string::npos) << s.message();
                ASSERT_NE(s.message().find("offset"), std::string::npos) << s.message();
                CheckReport report;
                ASSERT_TRUE(Store::Check(kDir, img.get(), &report).ok());
                ASSERT_FALSE(report.ok) << "check must report what open refused";
                continue;
            }
            // A flip in the last record drops it like a torn write; never garbage.
            ASSERT_TRUE(pos >= last.start) << "damage before the tail went unnoticed at " << pos;
            ASSERT_EQ(Dump(*s2), last.before) << "flip at " << pos << " bit " << bit;
        }
    }
    EXPECT_GT(refused, 0u);
    std::cout << "[ journal cuts ] " << cuts << " cuts, " << flips << " bit flips (" << refused
              << " refused as damaged)\n";
}

TEST(CrashSafety, FailingAnySingleWriteLosesNothing) {
    // A clean run counts the steps a script takes.
    uint64_t total = 0;
    const int kSteps = 50;
    {
        MemFs fs;
        std::unique_ptr<Store> store;
        ASSERT_TRUE(Store::Open(kDir, Options(&fs, 2500, true), &store).ok());
        uint64_t start = fs.steps();
        Model model;
        ScriptGenerator gen(3);
        for (int i = 0; i < kSteps; ++i) {
            Step s = gen.Next(model);
            if (model.Apply(s) != Execute(*store, s).code())
                FAIL() << s.Describe();
        }
        total = fs.steps() - start;
    }
    uint64_t failed = 0;
    for (uint64_t k = 0; k < total; ++k) {
        MemFs fs;
        std::unique_ptr<Store> store;
        ASSERT_TRUE(Store::Open(kDir, Options(&fs, 2500, true), &store).ok());
        fs.failStep = fs.steps() + k;
        Model model;
        ScriptGenerator gen(3);
        for (int i = 0; i < kSteps; ++i) {
            Step s = gen.Next(model);
            Model next = model;
            ErrorCode expect = next.Apply(s);
            Status st = Execute(*store, s);
            if (st.code() == expect) {
                if (st.ok())
                    model = next;
                continue;
            }
            ASSERT_EQ(st.code(), ErrorCode::Io)
                << "k=" << k << " " << s.Describe() << ": " << st.message();
            ++failed;
            // What a process opening the store now sees decides the outcome.
            auto img = fs.Clone();
            std::unique_ptr<Store> other;
            ASSERT_TRUE(Store::Open(kDir, Options(img.get(), 2500), &other).ok());
            const std::string seen = Dump(*other);
            ASSERT_TRUE(seen == model.Dump() || seen == next.Dump())
                << "k=" << k << " " << s.Describe();
            if (seen == next.Dump())
                model = next;
        }
        ASSERT_TRUE(store->Refresh().ok());
        ASSERT_EQ(Dump(*store), model.Dump()) << "k=" << k;
        store.reset();
        auto img = fs.Clone();
        std::unique_ptr<Store> reopened;
        ASSERT_TRUE(Store::Open(kDir, Options(img.get(), 2500), &reopened).ok());
        ASSERT_EQ(Dump(*reopened), model.Dump()) << "k=" << k;
        CheckReport report;
        ASSERT_TRUE(Store::Check(kDir, img.get(), &report).ok());
        ASSERT_TRUE(report.ok) << "k=" << k << " " << report.problems[0];
        ASSERT_EQ(report.orphanFiles, 0u) << "k=" << k;
    }
    EXPECT_GT(failed, total / 2);
    std::cout << "[ failed writes ] " << total << " single-step failures, " << failed
              << " surfaced as errors, none lost an acknowledged change\n";
}

} // namespace
} // namespace mailstore::testing
