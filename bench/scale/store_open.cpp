// The server's walk of a folder of 100,000 messages with records, per message;
// then opening the store (Initialize, as the tool starts) untouched, then after another writer
// deleted 1,000 and then 5,000 of its messages without compacting. The store is a copy the bench
// may change: its directory is the first argument or BRIS_BENCH_STORE_COPY.
#include "ScaleBench.h"

#include <algorithm>
#include <cstdio>

namespace {

// Best of `runs` opens of the namespace, each closed again so the next opens anew.
double OpenMs(int runs) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        double start = bench::Now();
        scale_bench::Opened opened;
        if (!opened.Open(0))
            return -1;
        best = std::min(best, bench::Now() - start);
    }
    return best;
}

bool DeleteFirst(const std::string& dir, size_t count) {
    mailstore::OpenOptions options;
    options.compactJournalBytes = UINT64_MAX; // the journal keeps the deletions
    std::unique_ptr<mailstore::Store> writer;
    mailstore::FolderId inbox = 0;
    std::vector<mailstore::MessageId> ids;
    if (!mailstore::Store::Open(dir, options, &writer).ok() ||
        !writer->FindFolderByPath("Inbox", &inbox).ok() ||
        !writer->GetMessageIds(inbox, &ids).ok() || ids.size() < count)
        return false;
    ids.resize(count);
    return writer->DeleteMessages(inbox, ids).ok();
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = scale_bench::StoreDir(argc, argv, "BRIS_BENCH_STORE_COPY");
    if (dir.empty()) {
        std::printf("(no store copy given: BRIS_BENCH_STORE_COPY)\n");
        return 0;
    }
    scale_bench::ComApartment com;
    SetEnvironmentVariableA("MAILSTORE_DIR", dir.c_str());
    std::printf("opening the store (Initialize), ms: best of 3, except the first open after "
                "a deletion\n");
    {
        scale_bench::Opened opened;
        size_t count = 0;
        if (!opened.Open(1)) {
            std::printf("cannot open the store in %s\n", dir.c_str());
            return 1;
        }
        const double walk = bench::EnumerateMessages(opened.folder.Get(), &count);
        std::printf("walk of the Inbox with records (best of 3): %.1f ms, %zu messages, %.3f us "
                    "per message\n",
                    walk, count, walk * 1000 / static_cast<double>(std::max<size_t>(count, 1)));
    }
    const double clean = OpenMs(3);
    std::printf("%-26s %10.1f\n", "untouched", clean);
    size_t deleted = 0;
    for (size_t total : {size_t{1000}, size_t{5000}}) {
        if (!DeleteFirst(dir, total - deleted)) {
            std::printf("deleting %zu failed\n", total - deleted);
            return 1;
        }
        deleted = total;
        const double first = OpenMs(1);
        const double later = OpenMs(2);
        std::printf("%zu deleted: first %10.1f, next %10.1f, first/untouched %.2f\n", total, first,
                    later, first / clean);
        std::fflush(stdout);
    }
    return 0;
}
