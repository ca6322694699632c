// The store at scale, on the real file system: messages imported 200 per commit
// (as the command-line tool does) with the time of every 10,000; check of the
// whole store; open when untouched and after a second writer, which the opener
// has not seen, deleted 1,000 and then 5,000 messages spread over the folder.
// Sizes from BENCH_STORE_SIZES (default "10000,50000,100000": the largest is
// built, the others are read on the way). The native run leaves its figures in
// build/bench-store-scale/native.txt; the Windows run reads them and prints the
// ratios. Directory: build/bench-store-scale/<native|windows>, moved into
// build/bench-store-scale/trash after (scripts/bench.sh empties it once every
// timing is done: on ext4, creating files soon after deleting many is several
// times slower, which would penalise the run that follows).
#include "Store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;
using mailstore::Store;

#ifdef _WIN32
const char* const kSide = "windows";
#else
const char* const kSide = "native";
#endif
const fsys::path kRoot = "build/bench-store-scale";

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string Source(size_t n) {
    return "From: Sender " + std::to_string(n % 500) + " <sender" + std::to_string(n % 500) +
           "@example.org>\r\nTo: Reader Example <reader@example.org>\r\nSubject: Status report "
           "number " +
           std::to_string(n) + "\r\nDate: Mon, 7 Dec 2026 08:00:00 +0000\r\n\r\nBody of message " +
           std::to_string(n) + "\r\n" + std::string(1500, 'x') + "\r\n";
}

void Must(const mailstore::Status& s, const char* what) {
    if (!s.ok()) {
        std::fprintf(stderr, "%s: %s\n", what, s.message().c_str());
        std::exit(1);
    }
}

std::unique_ptr<Store> OpenStore(const std::string& dir, bool create = false) {
    mailstore::OpenOptions o;
    o.create = create;
    std::unique_ptr<Store> store;
    Must(Store::Open(dir, o, &store), "open");
    return store;
}

// Imports `total` messages; figures get "import <n>" (seconds so far) at each
// size asked for and the rate of every 10,000.
void Import(const std::string& dir, size_t total, const std::vector<size_t>& sizes,
            std::map<std::string, double>* figures) {
    auto store = OpenStore(dir, true);
    const auto start = Clock::now();
    auto chunk = start;
    std::vector<std::string> sources;
    for (size_t done = 0; done < total;) {
        const size_t n = std::min<size_t>(200, total - done);
        sources.clear();
        for (size_t i = 0; i < n; ++i)
            sources.push_back(Source(done + i));
        std::vector<mailstore::ImportItem> items(n);
        for (size_t i = 0; i < n; ++i)
            items[i].source = sources[i];
        Must(store->ImportMessages(1, items, nullptr), "import");
        done += n;
        if (done % 10000 == 0) {
            const double rate = 10000 / Since(chunk);
            chunk = Clock::now();
            std::printf("  import %6zu: %7.1f s in all, %6.0f messages/s for the last 10,000\n",
                        done, Since(start), rate);
            (*figures)["rate " + std::to_string(done)] = rate;
        }
        if (std::find(sizes.begin(), sizes.end(), done) != sizes.end())
            (*figures)["import " + std::to_string(done)] = Since(start);
    }
}

// The best of three opens (each with a fresh object, as a new process would).
double TimeOpen(const std::string& dir) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto t = Clock::now();
        auto store = OpenStore(dir);
        best = std::min(best, Since(t));
    }
    return best;
}

// Deletes `count` more messages, spread over the folder, through a store
// object of its own: the next open has not seen them, as after another process.
void DeleteSpread(const std::string& dir, size_t count, size_t* deleted) {
    auto writer = OpenStore(dir);
    std::vector<mailstore::MessageId> list;
    Must(writer->GetMessageIds(1, &list), "list");
    const size_t step = list.size() / count;
    std::vector<mailstore::MessageId> ids;
    for (size_t i = 0; i < count; ++i) {
        ids.push_back(list[i * step]);
        if (ids.size() == 200 || i + 1 == count) {
            Must(writer->DeleteMessages(1, ids), "delete");
            ids.clear();
        }
    }
    *deleted += count;
}

std::vector<size_t> Sizes() {
    const char* env = std::getenv("BENCH_STORE_SIZES");
    std::stringstream in(env ? env : "10000,50000,100000");
    std::vector<size_t> out;
    for (std::string item; std::getline(in, item, ',');)
        out.push_back(static_cast<size_t>(std::stoul(item)));
    std::sort(out.begin(), out.end());
    return out;
}

std::map<std::string, double> ReadFigures(const fsys::path& path) {
    std::map<std::string, double> out;
    std::ifstream in(path);
    std::string key;
    double value = 0;
    while (std::getline(in, key, '=') && in >> value) {
        out[key] = value;
        in.ignore(1);
    }
    return out;
}

// Moves an old store out of the way without deleting anything now.
void SetAside(const std::string& dir) {
    if (!fsys::exists(dir))
        return;
    fsys::create_directories(kRoot / "trash");
    const auto stamp = Clock::now().time_since_epoch().count();
    fsys::rename(dir, kRoot / "trash" / (std::string(kSide) + "." + std::to_string(stamp)));
}

void PrintRatios(const std::map<std::string, double>& mine) {
    const auto native = ReadFigures(kRoot / "native.txt");
    if (native.empty()) {
        std::printf("  (no native figures to compare with: run the native bench first)\n");
        return;
    }
    for (const auto& [key, value] : mine) {
        auto it = native.find(key);
        if (it == native.end() || key.compare(0, 4, "rate") == 0 || key.compare(0, 4, "open") == 0)
            continue;
        std::printf("  %-14s windows %8.2f s, native %8.2f s: %.2fx\n", key.c_str(), value,
                    it->second, value / it->second);
    }
}

} // namespace

int main() {
    const std::vector<size_t> sizes = Sizes();
    if (sizes.empty() || sizes.back() < 10000)
        return std::fprintf(stderr, "BENCH_STORE_SIZES: sizes of at least 10000\n"), 2;
    const std::string dir = (kRoot / kSide).string();
    SetAside(dir);
    fsys::create_directories(kRoot);
    std::printf("store at scale (%s): %zu messages of %zu bytes\n", kSide, sizes.back(),
                Source(0).size());
    std::map<std::string, double> figures;
    Import(dir, sizes.back(), sizes, &figures);

    auto t = Clock::now();
    mailstore::CheckReport report;
    Must(Store::Check(dir, nullptr, &report), "check");
    figures["check"] = Since(t);
    std::printf("  check: %.2f s (%s)\n", figures["check"], report.ok ? "sound" : "PROBLEMS");

    size_t deleted = 0;
    // The opens after deletions follow another writer's open and close; so does
    // this one, else it runs in memory the import left ready and is a third faster.
    OpenStore(dir).reset();
    figures["open 0"] = TimeOpen(dir);
    for (size_t more : {1000, 4000}) {
        DeleteSpread(dir, more, &deleted);
        figures["open " + std::to_string(deleted)] = TimeOpen(dir);
    }
    for (size_t d : {0, 1000, 5000})
        std::printf("  open after %4zu deleted by another writer: %.4f s (%.2fx the untouched)\n",
                    d, figures["open " + std::to_string(d)],
                    figures["open " + std::to_string(d)] / figures["open 0"]);

    if (std::string(kSide) == "native") {
        std::ofstream out(kRoot / "native.txt");
        for (const auto& [key, value] : figures)
            out << key << '=' << value << '\n';
    } else {
        PrintRatios(figures);
    }
    SetAside(dir);
    return 0;
}
