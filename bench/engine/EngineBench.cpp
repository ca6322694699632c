// Costs of the store at scale: a store of 100,000 messages in one folder is
// opened, enumerated, marked read and compacted; 10,000 messages are imported.
// Opening is compared with a plain sequential read of the same metadata files.
#include "Store.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

using namespace mailstore;
namespace fsys = std::filesystem;

// The real file system without flushes: only to build the big stores quickly.
class NoSyncFs : public FileSystem {
  public:
    class NoSyncFile : public File {
      public:
        explicit NoSyncFile(std::unique_ptr<File> f) : f_(std::move(f)) {}
        Status ReadAt(uint64_t o, void* b, size_t n, size_t* g) override {
            return f_->ReadAt(o, b, n, g);
        }
        Status WriteAt(uint64_t o, const void* b, size_t n) override {
            return f_->WriteAt(o, b, n);
        }
        Status Flush() override { return Status(); }
        Status Size(uint64_t* s) override { return f_->Size(s); }
        Status Truncate(uint64_t s) override { return f_->Truncate(s); }

      private:
        std::unique_ptr<File> f_;
    };
    Status Open(const std::string& p, OpenMode m, std::unique_ptr<File>* out,
                bool* missing) override {
        std::unique_ptr<File> f;
        Status s = real().Open(p, m, &f, missing);
        if (s.ok())
            *out = std::make_unique<NoSyncFile>(std::move(f));
        return s;
    }
    Status Rename(const std::string& a, const std::string& b) override {
        return real().Rename(a, b);
    }
    Status Remove(const std::string& p) override { return real().Remove(p); }
    bool Exists(const std::string& p) override { return real().Exists(p); }
    Status CreateDir(const std::string& p) override { return real().CreateDir(p); }
    Status ListDir(const std::string& p, std::vector<std::string>* n) override {
        return real().ListDir(p, n);
    }
    Status SyncDir(const std::string&) override { return Status(); }
    Status Lock(const std::string& p, unsigned t, std::unique_ptr<FileLock>* out) override {
        return real().Lock(p, t, out);
    }

  private:
    static FileSystem& real() { return DefaultFileSystem(); }
};

NoSyncFs& Quick() {
    static NoSyncFs fs;
    return fs;
}

std::string Message(size_t n) {
    return "From: Sender " + std::to_string(n % 500) + " <sender" + std::to_string(n % 500) +
           "@example.org>\r\nTo: Reader Example <reader@example.org>\r\nSubject: Status report "
           "number " +
           std::to_string(n) +
           "\r\nDate: Mon, 7 Dec 2026 08:00:00 +0000\r\nX-Priority: 3\r\n\r\nBody of message " +
           std::to_string(n) + "\r\n";
}

fsys::path BenchRoot() {
    // Never destroyed: the clean-up at exit still needs it.
    static const fsys::path* root = [] {
        auto* p =
            new fsys::path(fsys::temp_directory_path() /
                           ("mailstore-bench-" + std::to_string(static_cast<long>(getpid()))));
        fsys::create_directories(*p);
        return p;
    }();
    return *root;
}

void Fill(Store& store, size_t count) {
    std::vector<std::string> sources;
    for (size_t done = 0; done < count;) {
        size_t n = std::min<size_t>(5000, count - done);
        sources.clear();
        for (size_t i = 0; i < n; ++i)
            sources.push_back(Message(done + i));
        std::vector<ImportItem> items(n);
        for (size_t i = 0; i < n; ++i)
            items[i].source = sources[i];
        if (!store.ImportMessages(1, items, nullptr).ok())
            std::abort();
        done += n;
    }
}

// A store of `count` messages in the Inbox; compacted when asked, else all in the journal.
std::string BigStore(size_t count, bool compacted) {
    static std::map<std::pair<size_t, bool>, std::string> made;
    auto key = std::make_pair(count, compacted);
    auto it = made.find(key);
    if (it != made.end())
        return it->second;
    const std::string dir =
        (BenchRoot() / ("store-" + std::to_string(count) + (compacted ? "-c" : "-j"))).string();
    OpenOptions o;
    o.create = true;
    o.fs = &Quick();
    o.compactJournalBytes = UINT64_MAX;
    std::unique_ptr<Store> store;
    if (!Store::Open(dir, o, &store).ok())
        std::abort();
    Fill(*store, count);
    if (compacted && !store->Compact().ok())
        std::abort();
    made[key] = dir;
    return dir;
}

std::unique_ptr<Store> OpenStore(const std::string& dir) {
    std::unique_ptr<Store> store;
    if (!Store::Open(dir, OpenOptions(), &store).ok())
        std::abort();
    return store;
}

void BM_Open(benchmark::State& state) {
    const std::string dir = BigStore(static_cast<size_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        auto store = OpenStore(dir);
        benchmark::DoNotOptimize(store.get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetLabel(state.range(1) ? "from snapshot" : "replaying journal");
}
BENCHMARK(BM_Open)
    ->Args({10000, 1})
    ->Args({50000, 1})
    ->Args({100000, 1})
    ->Args({100000, 0})
    ->Unit(benchmark::kMillisecond);

// The floor for opening: reading the same metadata files front to back.
void BM_PlainReadOfMetadata(benchmark::State& state) {
    const std::string dir = BigStore(static_cast<size_t>(state.range(0)), true);
    std::vector<char> buf(1 << 20);
    uint64_t bytes = 0;
    for (auto _ : state) {
        for (const char* name : {"/snapshot.bin", "/journal.bin"}) {
            std::FILE* f = std::fopen((dir + name).c_str(), "rb");
            if (!f)
                std::abort();
            for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;)
                bytes += n;
            std::fclose(f);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_PlainReadOfMetadata)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same read into memory that is allocated for it, as any reader that keeps
// the metadata must: the first touch of fresh pages is part of the cost.
void BM_PlainReadIntoMemory(benchmark::State& state) {
    const std::string dir = BigStore(static_cast<size_t>(state.range(0)), true);
    uint64_t bytes = 0;
    for (auto _ : state) {
        for (const char* name : {"/snapshot.bin", "/journal.bin"}) {
            std::FILE* f = std::fopen((dir + name).c_str(), "rb");
            if (!f)
                std::abort();
            std::fseek(f, 0, SEEK_END);
            const long size = std::ftell(f);
            std::fseek(f, 0, SEEK_SET);
            std::unique_ptr<char[]> buf(new char[static_cast<size_t>(size)]);
            bytes += std::fread(buf.get(), 1, static_cast<size_t>(size), f);
            benchmark::DoNotOptimize(buf.get());
            std::fclose(f);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_PlainReadIntoMemory)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_EnumerateFolder(benchmark::State& state) {
    auto store = OpenStore(BigStore(static_cast<size_t>(state.range(0)), true));
    MessageInfo info;
    std::vector<MessageId> ids;
    for (auto _ : state) {
        store->GetMessageIds(1, &ids);
        for (MessageId id : ids) {
            store->GetMessageInfo(1, id, &info);
            benchmark::DoNotOptimize(info.subject.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EnumerateFolder)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Durable import in the command-line tool's batches of 200: one flush per file
// and one journal commit per batch.
void BM_Import(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    std::vector<std::string> sources;
    for (size_t i = 0; i < count; ++i)
        sources.push_back(Message(i));
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string dir = (BenchRoot() / ("import-" + std::to_string(round++))).string();
        OpenOptions o;
        o.create = true;
        std::unique_ptr<Store> store;
        if (!Store::Open(dir, o, &store).ok())
            std::abort();
        state.ResumeTiming();
        for (size_t done = 0; done < count; done += 200) {
            std::vector<ImportItem> items(std::min<size_t>(200, count - done));
            for (size_t i = 0; i < items.size(); ++i)
                items[i].source = sources[done + i];
            if (!store->ImportMessages(1, items, nullptr).ok())
                std::abort();
        }
        state.PauseTiming();
        store.reset();
        fsys::remove_all(dir);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Import)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_MarkAllRead(benchmark::State& state) {
    auto store = OpenStore(BigStore(static_cast<size_t>(state.range(0)), true));
    bool read = true;
    for (auto _ : state) {
        if (!store->MarkAllRead(1, read).ok())
            std::abort();
        read = !read;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MarkAllRead)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Compact(benchmark::State& state) {
    auto store = OpenStore(BigStore(static_cast<size_t>(state.range(0)), true));
    for (auto _ : state) {
        if (!store->Compact().ok())
            std::abort();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Compact)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Nothing changed elsewhere: what the COM layer's timer pays four times a second.
void BM_RefreshUnchanged(benchmark::State& state) {
    auto store = OpenStore(BigStore(100000, true));
    for (auto _ : state) {
        bool changed = false;
        store->Refresh(&changed);
        benchmark::DoNotOptimize(changed);
    }
}
BENCHMARK(BM_RefreshUnchanged);

struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        fsys::remove_all(BenchRoot(), ec);
    }
} cleanup;

} // namespace

BENCHMARK_MAIN();
