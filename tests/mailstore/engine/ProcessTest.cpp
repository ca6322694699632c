// Real processes on a real directory: one killed at random moments while it
// acknowledges changes over a pipe, and two changing one store at once.
#include "StoreModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mailstore::testing {
namespace {

namespace fsys = std::filesystem;

struct Child {
    pid_t pid = -1;
    int out = -1; // read end of its stdout
};

Child Spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child c;
    if (posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        c.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    c.out = fds[0];
    return c;
}

int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

OpenOptions Options() {
    OpenOptions o;
    o.clock = [] { return kFixedClock; };
    return o;
}

class ProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = fsys::temp_directory_path() / ("mailstore-proc-" + std::to_string(rd()));
    }
    void TearDown() override {
        std::error_code ec;
        fsys::remove_all(dir_, ec);
    }
    fsys::path dir_;
};

TEST_F(ProcessTest, KilledWriterNeverLosesAnAcknowledgedChange) {
    fsys::create_directories(dir_);
    std::mt19937 rng(1234);
    int rounds = 0, totalAcks = 0;
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const std::string dir = (dir_ / std::to_string(seed)).string();
        Child c = Spawn({MAILSTORE_TEST_CHILD, "stream", dir, std::to_string(seed)});
        ASSERT_GT(c.pid, 0);
        // Let it run for a random while, reading acknowledgements as they come.
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(20 + rng() % 400);
        std::string acks;
        char buf[4096];
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{c.out, POLLIN, 0};
            if (poll(&p, 1, 5) > 0) {
                ssize_t n = read(c.out, buf, sizeof buf);
                if (n <= 0)
                    break;
                acks.append(buf, static_cast<size_t>(n));
            }
        }
        kill(c.pid, SIGKILL);
        Wait(c.pid);
        // Whatever was written before the kill counts as acknowledged.
        for (ssize_t n; (n = read(c.out, buf, sizeof buf)) > 0;)
            acks.append(buf, static_cast<size_t>(n));
        close(c.out);
        int last = 0;
        for (size_t at = acks.find("ack "); at != std::string::npos;
             at = acks.find("ack ", at + 1)) {
            if (acks.find('\n', at) != std::string::npos)
                last = std::atoi(acks.c_str() + at + 4);
        }
        // Replay the same script in the model: the store must show step `last`
        // or `last + 1` in full.
        Model model;
        ScriptGenerator gen(seed);
        for (int i = 1; i <= last; ++i)
            model.Apply(gen.Next(model));
        Model next = model;
        next.Apply(gen.Next(next));
        std::unique_ptr<Store> store;
        Status s = Store::Open(dir, Options(), &store);
        if (last == 0 && s.code() == ErrorCode::NotAStore)
            continue; // killed while still creating the store: nothing was acknowledged
        ASSERT_TRUE(s.ok()) << s.message();
        const std::string dump = Dump(*store);
        ASSERT_TRUE(dump == model.Dump() || dump == next.Dump())
            << "seed " << seed << " after " << last << " acknowledged changes";
        // The open removed what committed deletes let go; nothing else went.
        CheckReport report;
        ASSERT_TRUE(Store::Check(dir, nullptr, &report).ok());
        ASSERT_TRUE(report.ok) << report.problems[0];
        EXPECT_EQ(report.waitingRemoval, 0u);
        ASSERT_TRUE(store->Compact().ok());
        store.reset();
        ASSERT_TRUE(Store::Check(dir, nullptr, &report).ok());
        ASSERT_TRUE(report.ok) << report.problems[0];
        EXPECT_EQ(report.orphanFiles, 0u);
        ++rounds;
        totalAcks += last;
    }
    EXPECT_GT(totalAcks, 8) << "the children must get some work done before the kill";
    std::cout << "[ killed ] " << rounds << " child processes killed after " << totalAcks
              << " acknowledged changes in all; none lost\n";
}

// Two children import n messages each into a new store; while they run,
// `during` runs in this process. Every message of both must be there, in order.
void TwoWriters(const std::string& dir,
                const std::function<void(const std::atomic<bool>& done)>& during) {
    OpenOptions o = Options();
    o.create = true;
    {
        std::unique_ptr<Store> store;
        ASSERT_TRUE(Store::Open(dir, o, &store).ok());
    }
    const int n = 60;
    Child a = Spawn({MAILSTORE_TEST_CHILD, "concurrent", dir, "alpha", std::to_string(n)});
    Child b = Spawn({MAILSTORE_TEST_CHILD, "concurrent", dir, "beta", std::to_string(n)});
    ASSERT_GT(a.pid, 0);
    ASSERT_GT(b.pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::FILE* go = std::fopen((dir + "/go").c_str(), "w");
    ASSERT_NE(go, nullptr);
    std::fclose(go);
    std::atomic<bool> done{false};
    std::thread side([&] { during(done); });
    EXPECT_EQ(Wait(a.pid), 0);
    EXPECT_EQ(Wait(b.pid), 0);
    done = true;
    side.join();
    close(a.out);
    close(b.out);
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(dir, Options(), &store).ok());
    std::vector<MessageId> ids;
    ASSERT_TRUE(store->GetMessageIds(1, &ids).ok());
    ASSERT_EQ(ids.size(), 2u * n);
    int nextAlpha = 1, nextBeta = 1;
    for (MessageId id : ids) {
        MessageInfo m;
        ASSERT_TRUE(store->GetMessageInfo(1, id, &m).ok());
        if (m.subject.rfind("alpha ", 0) == 0)
            EXPECT_EQ(m.subject, "alpha " + std::to_string(nextAlpha++));
        else
            EXPECT_EQ(m.subject, "beta " + std::to_string(nextBeta++));
    }
    EXPECT_EQ(nextAlpha, n + 1);
    EXPECT_EQ(nextBeta, n + 1);
    store.reset();
    CheckReport report;
    ASSERT_TRUE(Store::Check(dir, nullptr, &report).ok());
    EXPECT_TRUE(report.clean()) << (report.problems.empty() ? "set aside" : report.problems[0]);
}

TEST_F(ProcessTest, TwoWritersSeeEachOthersChangesInOrder) {
    TwoWriters(dir_.string(), [](const std::atomic<bool>&) {});
}

// Deleting the lock file must not let a second writer in beside the first.
TEST_F(ProcessTest, LockFileDeletedInALoopLetsNoSecondWriterIn) {
    const std::string lock = dir_.string() + "/lock";
    int deleted = 0;
    TwoWriters(dir_.string(), [&](const std::atomic<bool>& done) {
        while (!done) {
            if (::unlink(lock.c_str()) == 0)
                ++deleted;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    EXPECT_GT(deleted, 10) << "the lock file must have gone many times while they wrote";
}

} // namespace
} // namespace mailstore::testing
