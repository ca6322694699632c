#include "FileSystem.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

namespace mailstore {

namespace {
// Enough to keep the disk (and Wine's server) busy on a small machine.
constexpr size_t kLanes = 4;
} // namespace

void RunInLanes(FileSystem& fs, size_t count, const std::function<void(size_t)>& work) {
    const size_t lanes = fs.FilesInParallel() ? std::min(kLanes, count) : 1;
    // Lane k takes every lanes-th item from k on, so the lanes move through
    // the items (and their directories) together. What a lane throws is
    // thrown again here, on the caller's thread, once every lane has ended.
    std::vector<std::exception_ptr> thrown(std::max<size_t>(lanes, 1));
    auto lane = [&](size_t k) {
        try {
            for (size_t i = k; i < count; i += lanes)
                work(i);
        } catch (...) {
            thrown[k] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(lanes);
    for (size_t k = 1; k < lanes; ++k) {
        try {
            helpers.emplace_back(lane, k);
        } catch (const std::system_error&) {
            lane(k); // no thread to be had: this one runs that lane too
        }
    }
    lane(0);
    for (std::thread& t : helpers)
        t.join();
    for (const std::exception_ptr& e : thrown) {
        if (e)
            std::rethrow_exception(e);
    }
}

Status FlushAndClose(FileSystem& fs, std::vector<std::unique_ptr<File>>* files) {
    std::vector<std::unique_ptr<File>> all = std::move(*files);
    files->clear();
    std::vector<Status> results(all.size());
    RunInLanes(fs, all.size(), [&all, &results](size_t i) {
        results[i] = all[i]->Flush();
        all[i].reset();
    });
    for (const Status& s : results) {
        if (!s.ok())
            return s;
    }
    return Status();
}

Status OpenToRead(FileSystem& fs, const std::string& path, std::unique_ptr<File>* out,
                  uint64_t* size, bool* missing) {
    Status s = fs.Open(path, OpenMode::Read, out, missing);
    if (s.ok())
        s = (*out)->Size(size);
    return s;
}

} // namespace mailstore
