// `mailstore export` of one folder of 100,000 messages as eml files, a Maildir
// and an mbox file, each against a plain copy of the store's message files.
// Everything lives in a RAM file system when there is one, so the figures are
// the export's own work rather than the disk's.
#include "Cli.h"
#include "Store.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace {

using namespace mailstore;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kMessages = 100000;
constexpr size_t kBatch = 5000;

std::string Message(size_t n) {
    std::string body;
    for (int line = 0; line < 30; ++line)
        body += line % 10 == 3 ? "From the report: all figures are in the attachment.\r\n"
                               : "Line " + std::to_string(line) +
                                     " of a body of average length, some sixty bytes long.\r\n";
    return "From: Sender " + std::to_string(n % 500) + " <sender" + std::to_string(n % 500) +
           "@example.org>\r\nTo: Reader Example <reader@example.org>\r\nSubject: Status report "
           "number " +
           std::to_string(n % 20000) + "\r\nDate: Mon, 7 Dec 2026 " + std::to_string(10 + n % 12) +
           ":00:00 +0000\r\n\r\n" + body;
}

fsys::path Root() {
    const fsys::path shm = "/dev/shm";
    const fsys::path base = fsys::is_directory(shm) ? shm : fsys::temp_directory_path();
    return base / ("bris-export-bench-" + std::to_string(getpid()));
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

uint64_t BuildStore(const std::string& dir) {
    OpenOptions o;
    o.create = true;
    std::unique_ptr<Store> store;
    if (!Store::Open(dir, o, &store).ok())
        return 0;
    FolderId inbox = 0;
    if (!store->FindFolderByPath("Inbox", &inbox).ok())
        return 0;
    uint64_t bytes = 0;
    for (size_t first = 0; first < kMessages; first += kBatch) {
        std::vector<std::string> sources;
        std::vector<ImportItem> items;
        for (size_t n = first; n < first + kBatch; ++n)
            sources.push_back(Message(n));
        for (size_t i = 0; i < sources.size(); ++i) {
            ImportItem item;
            item.source = sources[i];
            item.state = i % 3 == 0 ? kStateFlagged : (i % 2 ? kStateUnread : 0);
            items.push_back(item);
            bytes += sources[i].size();
        }
        if (!store->ImportMessages(inbox, items, nullptr).ok())
            return 0;
    }
    return bytes;
}

void Line(const char* what, double secs, double plain, uint64_t bytes) {
    std::printf("  %-28s %7.2f s  %8.0f messages/s  %6.1f MB/s", what, secs, kMessages / secs,
                bytes / secs / 1e6);
    if (plain > 0)
        std::printf("  %5.1f x the plain copy", secs / plain);
    std::printf("\n");
}

} // namespace

int main() {
    const fsys::path root = Root();
    fsys::create_directories(root);
    const std::string store = (root / "store").string();
    auto start = Clock::now();
    const uint64_t bytes = BuildStore(store);
    if (bytes == 0) {
        std::fprintf(stderr, "cannot build the store in %s\n", store.c_str());
        return 1;
    }
    std::printf("export of %zu messages, %.1f MB of sources, in %s (store built in %.1f s)\n",
                kMessages, bytes / 1e6, root.parent_path().string().c_str(), Seconds(start));

    start = Clock::now();
    fsys::copy(root / "store" / "messages", root / "plain", fsys::copy_options::recursive);
    const double plain = Seconds(start);
    Line("plain copy of message files", plain, 0, bytes);
    fsys::remove_all(root / "plain");

    int rc = 0;
    for (const char* format : {"eml", "maildir", "mbox"}) {
        std::ostringstream out, err;
        start = Clock::now();
        const int code = mailstore::cli::Run(
            {"export", store, "Inbox", (root / format).string(), "--format", format}, out, err,
            false);
        const double secs = Seconds(start);
        if (code != 0 ||
            out.str().find(std::to_string(kMessages) + " written") == std::string::npos) {
            std::fprintf(stderr, "export as %s failed (%d): %s%s", format, code, out.str().c_str(),
                         err.str().c_str());
            rc = 1;
        }
        Line((std::string("export --format ") + format).c_str(), secs, plain, bytes);
        fsys::remove_all(root / format);
    }
    fsys::remove_all(root);
    return rc;
}
