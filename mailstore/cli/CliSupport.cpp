#include "CliSupport.h"

#include "Charsets.h"

#include <cstdlib>

namespace mailstore::cli {

void Fail(const std::string& message) {
    throw Failure{message};
}

void Require(const Status& s, const std::string& context) {
    if (!s.ok())
        Fail(context.empty() ? s.message() : context + ": " + s.message());
}

std::string Printable(std::string_view name) {
    std::string out;
    size_t i = 0;
    while (i < name.size()) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const size_t len = Utf8SequenceAt(name, i);
        const bool valid = len > 0 && !IsControlAt(name, i);
        if (!valid) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
        } else {
            out.append(name.substr(i, len));
            i += len;
        }
    }
    return out;
}

namespace {
FileSystem* g_fs = nullptr;
}

FileSystem& Fs() {
    return g_fs ? *g_fs : DefaultFileSystem();
}

void UseFileSystem(FileSystem* fs) {
    g_fs = fs;
}

std::unique_ptr<Store> OpenStore(const std::string& dir) {
    std::unique_ptr<Store> store;
    OpenOptions o;
    o.fs = &Fs();
    Require(Store::Open(dir, o, &store));
    return store;
}

FolderId ResolveFolder(const Store& store, const std::string& path) {
    FolderId id = 0;
    if (!path.empty() && path[0] == '#') {
        // "#12" names a folder by id, for names the shell makes awkward.
        if (path.size() < 2 || path.size() > 11 ||
            path.find_first_not_of("0123456789", 1) != std::string::npos)
            Fail("not a folder id: \"" + Printable(path) + "\"");
        FolderInfo info;
        id = static_cast<FolderId>(std::strtoull(path.c_str() + 1, nullptr, 10));
        Require(store.GetFolder(id, &info), "folder " + Printable(path));
        if (id == kRootFolder)
            Fail("folder #0 is the top level, not a folder");
        return id;
    }
    Require(store.FindFolderByPath(path, &id), "folder \"" + Printable(path) + "\"");
    return id;
}

} // namespace mailstore::cli
