// intent.bin as anything, over a store a batch was cut short in (one file a
// copy of a committed message, one new): open, check, recover and open again
// each fail with a reason or succeed, and no bytes leave the store that no
// committed message still holds.
//
// Input: a flags byte, then the intent's bytes. Flag 1 appends the checksum the
// bytes need, 2 puts the real batch's position and first number in, 4 its
// files' sizes and checksums, so the fuzzer reaches intents that hold.
#include "Codec.h"
#include "Journal.h"
#include "MemFs.h"
#include "StoreModel.h"

#include <cstdlib>
#include <set>

using namespace mailstore;
using testing::MemFs;

namespace {
constexpr const char* kDir = "/s";

OpenOptions Options(MemFs* fs, bool create = false) {
    OpenOptions o;
    o.fs = fs;
    o.create = create;
    o.lockTimeoutMs = 0;
    return o;
}

struct Base {
    std::unique_ptr<MemFs> fs; // just before the batch's record
    std::string intent;
};

const Base& TheBase() {
    static const Base base = [] {
        Base b;
        MemFs fs;
        std::unique_ptr<Store> s;
        std::vector<MessageId> ids;
        Store::Open(kDir, Options(&fs, true), &s);
        std::vector<ImportItem> items(3);
        std::vector<std::string> sources;
        for (int i = 0; i < 3; ++i)
            sources.push_back(testing::MakeMessage(i + 1));
        for (size_t i = 0; i < items.size(); ++i)
            items[i].source = sources[i];
        s->ImportMessages(1, items, &ids);
        const std::string more = testing::MakeMessage(9);
        items.resize(2);
        items[0].source = sources[0];
        items[1].source = more;
        fs.beforeStep = [&](uint64_t, MemFs::StepKind kind, const std::string& path) {
            if (kind == MemFs::StepKind::Write && path == "/s/journal.bin" && !b.fs)
                b.fs = fs.Clone();
        };
        s->ImportMessages(1, items, &ids);
        fs.beforeStep = nullptr;
        if (!b.fs)
            std::abort();
        b.intent = *b.fs->Content("/s/intent.bin");
        return b;
    }();
    return base;
}

std::string MakeIntent(const uint8_t* data, size_t size) {
    const std::string& real = TheBase().intent;
    const uint8_t flags = size ? data[0] : 0;
    std::string out(reinterpret_cast<const char*>(data) + (size ? 1 : 0), size ? size - 1 : 0);
    if ((flags & 2) && out.size() >= 48)
        out.replace(8, 32, real.substr(8, 32)); // generation, journal end, last change, first
    if (flags & 4) {
        for (size_t at = 48; at + 16 <= out.size() && at + 16 <= real.size() - 8; at += 16)
            out.replace(at, 16, real.substr(at, 16));
    }
    if (flags & 1) {
        std::string sum;
        detail::Encoder(&sum).U64(detail::Checksum64(out.data(), out.size()));
        out += sum;
    }
    return out;
}

std::set<std::string> Contents(MemFs& fs) {
    std::set<std::string> out;
    for (const char* sub : {"/s/messages", "/s/set-aside"}) {
        for (const std::string& path : fs.FilesUnder(sub))
            out.insert(*fs.Content(path));
    }
    return out;
}

void MustKeep(MemFs& fs, const std::set<std::string>& before) {
    const std::set<std::string> after = Contents(fs);
    for (const std::string& c : before) {
        if (after.count(c) == 0)
            std::abort(); // bytes the store held are gone
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto fs = TheBase().fs->Clone();
    *fs->Content("/s/intent.bin") = MakeIntent(data, size);
    const std::set<std::string> before = Contents(*fs);
    CheckReport report;
    Store::Check(kDir, fs.get(), &report);
    std::unique_ptr<Store> store;
    if (Store::Open(kDir, Options(fs.get()), &store).ok())
        testing::Dump(*store);
    store.reset();
    MustKeep(*fs, before);
    RecoverReport rr;
    Store::Recover(kDir, fs.get(), &rr);
    MustKeep(*fs, before);
    if (Store::Open(kDir, Options(fs.get()), &store).ok() &&
        !store->ImportMessage(1, testing::MakeMessage(77), nullptr).ok())
        std::abort(); // a store that opened takes a change
    return 0;
}
