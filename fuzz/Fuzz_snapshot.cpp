// The snapshot reader on arbitrary snapshot files (checksum fixed up so the
// fuzzer reaches the decoder): refused with an error, or a usable store.
#include "Codec.h"
#include "MemFs.h"
#include "StoreModel.h"

#include <cstdlib>

using namespace mailstore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string snap(reinterpret_cast<const char*>(data), size);
    if (snap.size() >= 8 && (snap[0] & 1)) {
        // Half the inputs get a valid checksum, to get past it.
        uint64_t sum = detail::Checksum64(snap.data(), snap.size() - 8);
        for (int i = 0; i < 8; ++i)
            snap[snap.size() - 8 + i] = static_cast<char>((sum >> (8 * i)) & 0xFF);
    }
    testing::MemFs fs;
    fs.CreateDir("/s");
    fs.CreateDir("/s/messages");
    std::unique_ptr<File> f;
    fs.Open("/s/snapshot.bin", OpenMode::CreateAlways, &f);
    f->WriteAt(0, snap.data(), snap.size());
    f.reset();
    OpenOptions o;
    o.fs = &fs;
    o.lockTimeoutMs = 0;
    std::unique_ptr<Store> store;
    Status s = Store::Open("/s", o, &store);
    if (!s.ok())
        return s.message().empty() ? (std::abort(), 0) : 0;
    testing::Dump(*store);
    if (!store->Compact().ok())
        std::abort();
    return 0;
}
