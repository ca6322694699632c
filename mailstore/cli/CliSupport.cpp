#include "CliSupport.h"

#include <cstdlib>

namespace mailstore::cli {

void Fail(const std::string& message) {
    throw Failure{message};
}

void Require(const Status& s, const std::string& context) {
    if (!s.ok())
        Fail(context.empty() ? s.message() : context + ": " + s.message());
}

FileSystem& Fs() {
    return DefaultFileSystem();
}

std::unique_ptr<Store> OpenStore(const std::string& dir) {
    std::unique_ptr<Store> store;
    Require(Store::Open(dir, OpenOptions(), &store));
    return store;
}

FolderId ResolveFolder(const Store& store, const std::string& path) {
    FolderId id = 0;
    if (!path.empty() && path[0] == '#') {
        // "#12" names a folder by id, for names the shell makes awkward.
        if (path.size() < 2 || path.size() > 11 ||
            path.find_first_not_of("0123456789", 1) != std::string::npos)
            Fail("not a folder id: \"" + path + "\"");
        FolderInfo info;
        id = static_cast<FolderId>(std::strtoull(path.c_str() + 1, nullptr, 10));
        Require(store.GetFolder(id, &info), "folder " + path);
        if (id == kRootFolder)
            Fail("folder #0 is the top level, not a folder");
        return id;
    }
    Require(store.FindFolderByPath(path, &id), "folder \"" + path + "\"");
    return id;
}

} // namespace mailstore::cli
