// Open, check and recover over a store directory whose files the input adds,
// cuts, garbles or replaces by directories: each fails with a reason or
// succeeds, and a store recover reports done opens and takes an import.
#include "MemFs.h"
#include "StoreModel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace mailstore;
using testing::MemFs;

namespace {
// Input bytes one at a time; zeros when it runs out.
struct Reader {
    const uint8_t* p;
    size_t left;
    uint8_t Byte() { return left ? (--left, *p++) : 0; }
    std::string Bytes(size_t n) {
        n = std::min(n, left);
        std::string s(reinterpret_cast<const char*>(p), n);
        p += n;
        left -= n;
        return s;
    }
};

// A message file name: small numbers, numbers at the end of the range, or any text.
std::string FileName(Reader& in) {
    static const char* const kNumbers[] = {"0000000000000001", "0000000000000002",
                                           "0000000000000007", "00000000000000ff",
                                           "fffffffffffffffe", "ffffffffffffffff"};
    const uint8_t kind = in.Byte();
    if (kind % 4 == 3)
        return in.Bytes(1 + in.Byte() % 20);
    std::string n = kNumbers[kind % 6];
    return (kind & 0x10 ? n.substr(0, 2) + "/" + n : n) + (kind & 0x20 ? ".eml" : "");
}

void Put(MemFs& fs, const std::string& path, const std::string& bytes) {
    const size_t slash = path.rfind('/');
    for (size_t i = 1; i <= slash; ++i)
        if (path[i] == '/' || i == slash)
            fs.CreateDir(path.substr(0, i == slash ? slash : i));
    std::unique_ptr<File> f;
    if (fs.Open(path, OpenMode::CreateAlways, &f).ok())
        f->WriteAt(0, bytes.data(), bytes.size());
}

void Change(MemFs& fs, Reader& in) {
    const std::vector<std::string> files = fs.FilesUnder("/s");
    const uint8_t op = in.Byte() % 6;
    const std::string some = files.empty() ? "/s/journal.bin" : files[in.Byte() % files.size()];
    switch (op) {
    case 0:
        return Put(fs, "/s/messages/" + FileName(in), in.Bytes(in.Byte()));
    case 1:
        return Put(fs, "/s/set-aside/" + FileName(in), in.Bytes(in.Byte()));
    case 2:
        fs.Remove(some);
        return;
    case 3:
        if (std::string* c = fs.Content(some))
            c->resize(c->size() * in.Byte() / 256);
        return;
    case 4:
        if (std::string* c = fs.Content(some); c && !c->empty())
            (*c)[in.Byte() % c->size()] ^= static_cast<char>(1 + in.Byte() % 255);
        return;
    default: // a directory in the place of a file
        fs.Remove(some);
        fs.CreateDir(some);
        Put(fs, some + "/" + FileName(in), in.Bytes(in.Byte() % 8));
    }
}

OpenOptions Options(MemFs& fs) {
    OpenOptions o;
    o.fs = &fs;
    o.lockTimeoutMs = 0;
    o.clock = [] { return testing::kFixedClock; };
    return o;
}

// The store every input starts from, made once: messages in two folders, a
// copy and a delete in the journal.
const MemFs& Base() {
    static const std::unique_ptr<MemFs> base = [] {
        auto fs = std::make_unique<MemFs>();
        OpenOptions o = Options(*fs);
        o.create = true;
        std::unique_ptr<Store> s;
        if (!Store::Open("/s", o, &s).ok())
            std::abort();
        std::vector<MessageId> ids;
        for (int i = 0; i < 3; ++i)
            s->ImportMessage(1, testing::MakeMessage(i), nullptr);
        s->CreateFolder(1, "Lists", nullptr);
        s->CopyMessages(1, 6, {1, 2}, &ids);
        s->DeleteMessages(1, {3});
        return fs;
    }();
    return *base;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<MemFs> clone = Base().Clone();
    MemFs& fs = *clone;
    Reader in{data, size};
    for (int i = 0; i < 8 && in.left; ++i)
        Change(fs, in);
    std::unique_ptr<Store> store;
    Status s = Store::Open("/s", Options(fs), &store);
    if (!s.ok() && s.message().empty())
        std::abort();
    if (store)
        testing::Dump(*store);
    store.reset();
    CheckReport check;
    Store::Check("/s", &fs, &check);
    RecoverReport rec;
    s = Store::Recover("/s", &fs, &rec);
    if (!s.ok()) {
        if (s.message().empty())
            std::abort();
        return 0;
    }
    // What recover leaves is a store: it opens, takes mail and checks sound.
    std::string fault;
    if (Status o = Store::Open("/s", Options(fs), &store); !o.ok())
        fault = "open after recover: " + o.message();
    else if (Status i = store->ImportMessage(1, testing::MakeMessage(9), nullptr); !i.ok())
        fault = "import after recover: " + i.message();
    store.reset();
    // Names the store never gives stay where they are, and are not its to judge.
    check.notTheStores.clear();
    if (fault.empty() && Store::Check("/s", &fs, &check).ok() &&
        !(check.ok && check.setAside.empty() && check.unaccounted.empty())) {
        check.problems.insert(check.problems.end(), check.unaccounted.begin(),
                              check.unaccounted.end());
        check.problems.insert(check.problems.end(), check.setAside.begin(), check.setAside.end());
        fault = "check after recover: " +
                (check.problems.empty() ? std::string("not sound") : check.problems.front());
    }
    if (!fault.empty()) {
        for (const std::string& a : rec.actions)
            std::fprintf(stderr, "recover: %s\n", a.c_str());
        std::fprintf(stderr, "%s\n", fault.c_str());
        std::abort();
    }
    return 0;
}
