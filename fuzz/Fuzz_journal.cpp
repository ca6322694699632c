// The journal reader on arbitrary journal files: opening either fails with a
// clear error or gives a store that answers every query and passes its check.
#include "MemFs.h"
#include "StoreModel.h"

#include <cstdlib>

using namespace mailstore;

namespace {
const std::string& Snapshot() {
    // The snapshot of a new store, which every journal seed continues.
    static const std::string snap = [] {
        testing::MemFs fs;
        OpenOptions o;
        o.fs = &fs;
        o.create = true;
        std::unique_ptr<Store> s;
        Store::Open("/s", o, &s);
        return *fs.Content("/s/snapshot.bin");
    }();
    return snap;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    testing::MemFs fs;
    fs.CreateDir("/s");
    fs.CreateDir("/s/messages");
    std::unique_ptr<File> f;
    fs.Open("/s/snapshot.bin", OpenMode::CreateAlways, &f);
    f->WriteAt(0, Snapshot().data(), Snapshot().size());
    fs.Open("/s/journal.bin", OpenMode::CreateAlways, &f);
    f->WriteAt(0, data, size);
    f.reset();
    OpenOptions o;
    o.fs = &fs;
    o.lockTimeoutMs = 0;
    std::unique_ptr<Store> store;
    Status s = Store::Open("/s", o, &store);
    if (!s.ok()) {
        if (s.message().empty())
            std::abort();
        return 0;
    }
    testing::Dump(*store); // walks every folder and message
    CheckReport report;
    Store::Check("/s", &fs, &report);
    // A store that opened takes another change.
    if (!store->CreateFolder(kRootFolder, "fuzz-check", nullptr).ok() &&
        store->FindFolderByPath("fuzz-check", nullptr).ok())
        std::abort();
    return 0;
}
