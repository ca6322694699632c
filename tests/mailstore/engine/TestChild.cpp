// A second process for the engine tests.
//   stream DIR SEED       runs a scripted series of changes, printing "ack N" after
//                         each acknowledged one, until it is killed
//   concurrent DIR TAG N  imports N messages while another process does the same,
//                         then checks it saw every message of both, in order
#include "LetGoRemover.h"
#include "StoreModel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace mailstore;
using namespace mailstore::testing;

namespace {

OpenOptions Options(bool create) {
    OpenOptions o;
    o.create = create;
    o.clock = [] { return kFixedClock; };
    o.compactJournalBytes = 6000; // compactions happen while the parent kills
    return o;
}

// With an even seed the files deletes let go are removed on a thread, as the
// COM server does, so kills also land in the middle of that.
int Stream(const std::string& dir, uint32_t seed) {
    std::unique_ptr<Store> store;
    OpenOptions o = Options(true);
    o.removeLetGoFilesLater = seed % 2 == 0;
    Status s = Store::Open(dir, o, &store);
    if (!s.ok()) {
        std::fprintf(stderr, "open: %s\n", s.message().c_str());
        return 1;
    }
    std::unique_ptr<LetGoRemover> remover;
    if (o.removeLetGoFilesLater)
        remover = std::make_unique<LetGoRemover>(DefaultFileSystem(), dir);
    std::vector<uint64_t> removed;
    Model model;
    ScriptGenerator gen(seed);
    for (int i = 1;; ++i) {
        Step step = gen.Next(model);
        ErrorCode expect = model.Apply(step);
        s = Execute(*store, step);
        if (s.code() != expect) {
            std::fprintf(stderr, "step %d: %s\n", i, s.message().c_str());
            return 1;
        }
        if (remover) {
            remover->Add(store->TakeLetGoFiles());
            const std::vector<uint64_t> done = remover->TakeDone();
            removed.insert(removed.end(), done.begin(), done.end());
            if (i % 4 == 0 && store->ForgetLetGoFiles(removed, 0).ok())
                removed.clear();
        }
        std::printf("ack %d\n", i);
        std::fflush(stdout);
    }
}

int Concurrent(const std::string& dir, const std::string& tag, int n) {
    std::unique_ptr<Store> store;
    Status s = Store::Open(dir, Options(false), &store);
    if (!s.ok()) {
        std::fprintf(stderr, "open: %s\n", s.message().c_str());
        return 1;
    }
    // Both processes open the store before either changes it; the parent then
    // creates DIR/go.
    auto wait = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!DefaultFileSystem().Exists(dir + "/go")) {
        if (std::chrono::steady_clock::now() > wait)
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::vector<ChangeEvent> events;
    auto take = [&]() {
        for (const ChangeEvent& e : store->TakeEvents())
            events.push_back(e);
    };
    for (int k = 1; k <= n; ++k) {
        std::string msg = "Subject: " + tag + " " + std::to_string(k) + "\r\n\r\nbody\r\n";
        s = store->ImportMessage(1, msg, nullptr);
        if (s.ok() && k % 10 == 0)
            s = store->Compact(); // the other process must follow across compactions
        if (!s.ok()) {
            std::fprintf(stderr, "%s: %s\n", tag.c_str(), s.message().c_str());
            return 1;
        }
        store->Refresh();
        take();
    }
    std::vector<MessageId> ids;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        store->Refresh();
        take();
        store->GetMessageIds(1, &ids);
        if (ids.size() >= static_cast<size_t>(2 * n))
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "%s: saw only %zu messages\n", tag.c_str(), ids.size());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::vector<MessageId> added;
    for (const ChangeEvent& e : events) {
        if (e.kind == EventKind::MessageAdded && e.folder == 1)
            added.push_back(e.message);
    }
    if (added != ids) {
        std::fprintf(stderr, "%s: %zu added events for %zu messages, or out of order\n",
                     tag.c_str(), added.size(), ids.size());
        return 1;
    }
    std::printf("ok %zu\n", ids.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "stream" && argc == 4)
        return Stream(argv[2], static_cast<uint32_t>(std::atoi(argv[3])));
    if (mode == "concurrent" && argc == 5)
        return Concurrent(argv[2], argv[3], std::atoi(argv[4]));
    std::fprintf(stderr, "usage: mailstore_test_child stream DIR SEED | concurrent DIR TAG N\n");
    return 2;
}
