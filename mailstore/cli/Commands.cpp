#include "Commands.h"

#include <set>

namespace mailstore::cli {

namespace {

// "Inbox/Lists/Work" -> ("Inbox/Lists", "Work").
std::pair<std::string, std::string> SplitLast(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

// Creates each missing folder of a path, top down; each level is one change.
FolderId CreatePath(Store& store, const std::string& path) {
    FolderId parent = kRootFolder;
    for (const std::string& part : PathParts(path)) {
        if (!store.FindChild(parent, part, &parent).ok())
            Require(store.CreateFolder(parent, part, &parent),
                    "cannot create \"" + Printable(part) + "\"");
    }
    return parent;
}

void ExpectOperands(const Args& a, size_t n, const char* usage) {
    if (a.size() != n)
        Fail(std::string("usage: mailstore ") + usage);
}

} // namespace

int MakeFolder(const Args& args, Io& io) {
    std::set<std::string> opts;
    const Args a = SplitOptions(args, {"--parents"}, &opts);
    ExpectOperands(a, 2, "mkdir [--parents] DIR PATH");
    auto store = OpenStore(a[0]);
    const auto [parentPath, name] = SplitLast(a[1]);
    if (name.empty())
        Fail("no folder name in \"" + Printable(a[1]) + "\"");
    FolderId parent = kRootFolder;
    if (opts.count("--parents")) {
        CheckFolderNames(a[1]);
        parent = CreatePath(*store, parentPath);
    } else if (!parentPath.empty()) {
        parent = ResolveFolder(*store, parentPath);
    }
    FolderId id = 0;
    Require(store->CreateFolder(parent, name, &id), "cannot create \"" + Printable(a[1]) + "\"");
    io.out << "Created folder " << Printable(FolderPath(*store, id)) << " #" << id << ".\n";
    return 0;
}

int RenameFolder(const Args& a, Io& io) {
    ExpectOperands(a, 3, "rename DIR FOLDER NEWNAME");
    auto store = OpenStore(a[0]);
    const FolderId id = ResolveFolder(*store, a[1]);
    Require(store->RenameFolder(id, a[2]), "cannot rename \"" + Printable(a[1]) + "\"");
    io.out << "Renamed " << Printable(a[1]) << " to " << Printable(FolderPath(*store, id)) << ".\n";
    return 0;
}

int MoveFolder(const Args& a, Io& io) {
    ExpectOperands(a, 3, "move DIR FOLDER NEWPARENT");
    auto store = OpenStore(a[0]);
    const FolderId id = ResolveFolder(*store, a[1]);
    const FolderId parent = ResolveParent(*store, a[2]);
    Require(store->MoveFolder(id, parent), "cannot move \"" + Printable(a[1]) + "\"");
    io.out << "Moved " << Printable(a[1]) << " to " << Printable(FolderPath(*store, id)) << ".\n";
    return 0;
}

int RemoveFolder(const Args& a, Io& io) {
    ExpectOperands(a, 2, "rmdir DIR FOLDER");
    auto store = OpenStore(a[0]);
    const FolderId id = ResolveFolder(*store, a[1]);
    FolderInfo info;
    Require(store->GetFolder(id, &info));
    Require(store->DeleteFolder(id), "cannot delete \"" + Printable(a[1]) + "\"");
    io.out << "Deleted folder " << Printable(a[1]) << " with "
           << Plural(info.messageCount, "message") << " and "
           << Plural(info.subFolderCount, "sub-folder") << ".\n";
    return 0;
}

int DeleteMessages(const Args& a, Io& io) {
    if (a.size() < 3)
        Fail("usage: mailstore delete DIR FOLDER ID...");
    auto store = OpenStore(a[0]);
    const FolderId folder = ResolveFolder(*store, a[1]);
    const std::vector<MessageId> ids = ParseIds(*store, folder, a, 2);
    Require(store->DeleteMessages(folder, ids));
    io.out << "Deleted " << Plural(std::set<MessageId>(ids.begin(), ids.end()).size(), "message")
           << " from " << a[1] << ".\n";
    return 0;
}

namespace {
int Transfer(const Args& a, Io& io, bool move) {
    if (a.size() < 4)
        Fail(move ? "usage: mailstore move-messages DIR FOLDER TARGET ID...|all"
                  : "usage: mailstore copy DIR FOLDER TARGET ID...|all");
    auto store = OpenStore(a[0]);
    const FolderId from = ResolveFolder(*store, a[1]);
    const FolderId to = ResolveFolder(*store, a[2]);
    const std::vector<MessageId> ids = ParseIds(*store, from, a, 3);
    std::vector<MessageId> newIds;
    Require(move ? store->MoveMessages(from, to, ids, &newIds)
                 : store->CopyMessages(from, to, ids, &newIds));
    io.out << (move ? "Moved " : "Copied ") << Plural(newIds.size(), "message") << " to "
           << Printable(a[2]);
    // The new ids, in the order of the given ones, for scripts to go on with.
    for (size_t i = 0; i < newIds.size(); ++i)
        io.out << (i == 0 ? ", new ids: " : " ") << newIds[i];
    io.out << ".\n";
    return 0;
}
} // namespace

int CopyMessages(const Args& a, Io& io) {
    return Transfer(a, io, false);
}

int MoveMessages(const Args& a, Io& io) {
    return Transfer(a, io, true);
}

namespace {
// Where the blank line that ends the header block starts, or npos.
size_t HeaderEnd(const std::string& s) {
    for (size_t line = 0; line < s.size();) {
        if (s[line] == '\n' || s.compare(line, 2, "\r\n") == 0)
            return line;
        const size_t nl = s.find('\n', line);
        if (nl == std::string::npos)
            break;
        line = nl + 1;
    }
    return std::string::npos;
}
} // namespace

int Show(const Args& args, Io& io) {
    std::set<std::string> opts;
    const Args a = SplitOptions(args, {"--headers"}, &opts);
    ExpectOperands(a, 3, "show [--headers] DIR FOLDER ID");
    auto store = OpenStore(a[0]);
    const FolderId folder = ResolveFolder(*store, a[1]);
    std::unique_ptr<MessageReader> reader;
    Require(store->OpenMessageSource(folder, ParseId(a[2]), &reader),
            "message " + Printable(a[2]) + " in " + Printable(a[1]));
    const bool headersOnly = opts.count("--headers") != 0;
    std::string headers; // kept until their end is seen
    std::string buf(64 * 1024, '\0');
    for (uint64_t offset = 0; offset < reader->Size();) {
        size_t got = 0;
        Require(reader->ReadAt(offset, buf.data(), buf.size(), &got), "message " + a[2]);
        if (got == 0)
            break;
        offset += got;
        if (!headersOnly) {
            io.out.write(buf.data(), static_cast<std::streamsize>(got));
            continue;
        }
        headers.append(buf.data(), got);
        const size_t end = HeaderEnd(headers);
        if (end != std::string::npos) {
            headers.resize(end);
            break;
        }
    }
    io.out << headers << std::flush;
    return 0;
}

} // namespace mailstore::cli
