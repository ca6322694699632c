// Files a second at which the store's remover takes away what a delete of
// COUNT messages let go (the delete committed first, then LetGoRemover until
// it is idle, then the one record that they are gone), beside a bare loop
// deleting COUNT files of the same size laid out the same way and flushed as
// the store's are: unlink or DeleteFileW, nothing else, on one thread and on
// two. Each is timed once the
// disk has settled after the files were written.
// Usage: bench_store_removal [COUNT] (20000).
#include "LetGoRemover.h"
#include "Store.h"
#include "StoreFiles.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace mailstore;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Message(int i) {
    std::string body;
    while (body.size() < 2000)
        body += "A line of the body of message " + std::to_string(i) + ", with some words.\r\n";
    return "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) +
           "@example.org>\r\nTo: team@example.org\r\nSubject: Removal " + std::to_string(i) +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\n" + body;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool RemoveBare(const std::string& path) {
#ifdef _WIN32
    return DeleteFileA(path.c_str()) != FALSE;
#else
    return ::unlink(path.c_str()) == 0;
#endif
}

void Settle() {
    std::this_thread::sleep_for(std::chrono::seconds(3));
}

// The store's side: import, delete everything, time the removal.
bool StoreRemoval(const std::string& dir, int count, double* seconds) {
    OpenOptions o;
    o.create = true;
    o.removeLetGoFilesLater = true;
    std::unique_ptr<Store> store;
    if (!Store::Open(dir, o, &store).ok())
        return false;
    std::vector<MessageId> ids;
    for (int first = 0; first < count; first += 1000) {
        std::vector<std::string> sources;
        for (int i = first; i < std::min(count, first + 1000); ++i)
            sources.push_back(Message(i));
        std::vector<ImportItem> items(sources.size());
        for (size_t k = 0; k < sources.size(); ++k)
            items[k].source = sources[k];
        std::vector<MessageId> got;
        if (!store->ImportMessages(1, items, &got).ok())
            return false;
        ids.insert(ids.end(), got.begin(), got.end());
    }
    if (!store->DeleteMessages(1, ids).ok())
        return false;
    Settle();
    const auto start = Clock::now();
    LetGoRemover remover(DefaultFileSystem(), dir);
    remover.Add(store->TakeLetGoFiles());
    while (!remover.Idle())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::vector<uint64_t> done = remover.TakeDone();
    const bool ok = store->ForgetLetGoFiles(done, 10000).ok() && done.size() == ids.size();
    *seconds = Seconds(start);
    return ok;
}

// The floor: as many files of the same size in the same places, deleted on
// `threads` threads (the store's remover uses two).
bool BareRemoval(const std::string& dir, int count, double* seconds, int threads) {
    std::vector<std::string> paths;
    for (int i = 1; i <= count; ++i) {
        const std::string path = dir + "/" + detail::MessageFilePath(static_cast<uint64_t>(i));
        fsys::create_directories(fsys::path(path).parent_path());
        const std::string bytes = Message(i);
        std::unique_ptr<File> f;
        if (!DefaultFileSystem().Open(path, OpenMode::CreateNew, &f).ok() ||
            !f->WriteAt(0, bytes.data(), bytes.size()).ok() || !f->Flush().ok())
            return false;
        paths.push_back(path);
    }
    Settle();
    const auto start = Clock::now();
    std::atomic<bool> ok{true};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (size_t i = t; i < paths.size(); i += threads) {
                if (!RemoveBare(paths[i]))
                    ok = false;
            }
        });
    for (std::thread& thread : pool)
        thread.join();
    *seconds = Seconds(start);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20000;
    const fsys::path root =
        fsys::temp_directory_path() /
        ("bench-removal-" + std::to_string(Clock::now().time_since_epoch().count()));
    double store = 0, bare = 0, bare2 = 0;
    fsys::create_directories(root);
    const bool ok = StoreRemoval((root / "store").string(), count, &store) &&
                    BareRemoval((root / "bare").string(), count, &bare, 1) &&
                    BareRemoval((root / "bare2").string(), count, &bare2, 2);
    std::error_code ec;
    fsys::remove_all(root, ec);
    if (!ok) {
        std::fprintf(stderr, "bench_store_removal: the run failed\n");
        return 1;
    }
    std::printf("freed-file removal, %d files: store %.2f s (%.0f files/s); bare loop %.2f s "
                "(%.0f files/s): %.2fx its time; the same on two threads %.2f s (%.0f files/s): "
                "%.2fx\n",
                count, store, count / store, bare, count / bare, store / bare, bare2, count / bare2,
                store / bare2);
    return 0;
}
