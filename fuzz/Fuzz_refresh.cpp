// Refresh over what another writer committed: the writer's changes, chosen by
// the input, come out the same in the reader; the same tail with bytes changed
// or cut, or followed by any bytes, is taken or refused with a reason.
#include "MemFs.h"
#include "StoreModel.h"

#include <cstdlib>
#include <cstring>

using namespace mailstore;

namespace {
OpenOptions Options(testing::MemFs& fs, bool create) {
    OpenOptions o;
    o.fs = &fs;
    o.create = create;
    o.lockTimeoutMs = 0;
    o.clock = [] { return testing::kFixedClock; };
    o.compactJournalBytes = 4096;
    return o;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    uint32_t seed = 0;
    std::memcpy(&seed, data, 4);
    const size_t steps = data[4] % 24;
    const uint8_t damage = data[5];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 6, size - 6);
    // A new store, made once.
    static const std::unique_ptr<testing::MemFs> base = [] {
        auto fs = std::make_unique<testing::MemFs>();
        std::unique_ptr<Store> s;
        if (!Store::Open("/s", Options(*fs, true), &s).ok())
            std::abort();
        return fs;
    }();
    const std::unique_ptr<testing::MemFs> clone = base->Clone();
    testing::MemFs& fs = *clone;
    std::unique_ptr<Store> reader, writer;
    if (!Store::Open("/s", Options(fs, false), &reader).ok() ||
        !Store::Open("/s", Options(fs, false), &writer).ok())
        std::abort();
    testing::Model model;
    testing::ScriptGenerator gen(seed);
    for (size_t i = 0; i < steps; ++i) {
        const testing::Step step = gen.Next(model);
        if (testing::Execute(*writer, step).ok())
            model.Apply(step);
    }
    std::string* journal = fs.Content("/s/journal.bin");
    if (damage % 4 != 0 && journal != nullptr) {
        // Only the part the reader has not seen is a tail; the rest is its own.
        if (damage % 4 == 1 && !rest.empty() && !journal->empty())
            (*journal)[static_cast<uint8_t>(rest[0]) * journal->size() / 256] ^=
                rest.size() > 1 ? rest[1] | 1 : 1;
        else if (damage % 4 == 2)
            journal->resize(journal->size() * (damage / 4) / 64);
        else
            journal->append(rest);
    }
    bool changed = false;
    const Status s = reader->Refresh(&changed);
    reader->TakeEvents();
    if (damage % 4 == 0) {
        if (!s.ok() || testing::Dump(*reader) != testing::Dump(*writer))
            std::abort();
    } else if (!s.ok() && s.message().empty()) {
        std::abort();
    } else if (s.ok()) {
        testing::Dump(*reader);
    }
    return 0;
}
