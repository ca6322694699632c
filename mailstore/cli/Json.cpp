// The --json forms of `folders`, `list` and `check`: one object each, on one
// line, in the shapes the README documents.
#include "Charsets.h"
#include "Commands.h"

#include <cstdio>

namespace mailstore::cli {

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const size_t n = Utf8SequenceAt(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.append(s, i, n);
        }
        i += n;
    }
    return out + "\"";
}

namespace {

std::string Time(uint64_t fileTime) {
    if (fileTime == 0)
        return "null";
    const CivilTime t = ToCivil(fileTime);
    char buf[40];
    std::snprintf(buf, sizeof buf, "\"%04d-%02d-%02dT%02d:%02d:%02dZ\"", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buf;
}

const char* TypeName(int32_t type) {
    static const char* const kTypes[] = {"\"inbox\"", "\"outbox\"", "\"sent\"", "\"deleted\"",
                                         "\"drafts\""};
    return type >= 0 && type <= 4 ? kTypes[type] : "null";
}

void FolderArray(const Store& store, FolderId parent, const std::string& parentPath,
                 std::ostream& out) {
    std::vector<FolderId> kids;
    store.GetChildren(parent, &kids);
    out << "[";
    const char* comma = "";
    for (FolderId k : kids) {
        FolderInfo f;
        if (!store.GetFolder(k, &f).ok())
            continue;
        const std::string path = parentPath.empty() ? f.name : parentPath + "/" + f.name;
        out << comma << "{\"id\":" << f.id << ",\"name\":" << JsonString(f.name)
            << ",\"path\":" << JsonString(path) << ",\"type\":" << TypeName(f.type)
            << ",\"messages\":" << f.messageCount << ",\"unread\":" << f.unreadCount
            << ",\"children\":";
        FolderArray(store, k, path, out);
        out << "}";
        comma = ",";
    }
    out << "]";
}

const char* PriorityName(uint32_t p) {
    return p == kPriorityHigh ? "high" : p == kPriorityLow ? "low" : "normal";
}

} // namespace

int FoldersJson(const Args& a, Io& io) {
    if (a.size() != 1)
        Fail("usage: mailstore folders [--json] DIR");
    auto store = OpenStore(a[0]);
    io.out << "{\"folders\":";
    FolderArray(*store, kRootFolder, "", io.out);
    io.out << "}\n";
    return 0;
}

int ListJson(const Args& a, Io& io) {
    if (a.size() != 2)
        Fail("usage: mailstore list [--json] DIR FOLDER");
    auto store = OpenStore(a[0]);
    const FolderId folder = ResolveFolder(*store, a[1]);
    std::vector<MessageId> ids;
    Require(store->GetMessageIds(folder, &ids));
    io.out << "{\"folder\":{\"id\":" << folder
           << ",\"path\":" << JsonString(FolderPath(*store, folder)) << "},\"messages\":[";
    const char* comma = "";
    for (MessageId id : ids) {
        MessageInfo m;
        if (!store->GetMessageInfo(folder, id, &m).ok())
            continue;
        io.out << comma << "{\"id\":" << m.id
               << ",\"unread\":" << ((m.state & kStateUnread) ? "true" : "false")
               << ",\"flagged\":" << ((m.state & kStateFlagged) ? "true" : "false")
               << ",\"priority\":\"" << PriorityName(m.priority) << "\""
               << ",\"received\":" << Time(m.received) << ",\"sent\":" << Time(m.sent)
               << ",\"size\":" << m.size << ",\"from\":" << JsonString(m.from)
               << ",\"to\":" << JsonString(m.to) << ",\"subject\":" << JsonString(m.subject) << "}";
        comma = ",";
    }
    io.out << "]}\n";
    return 0;
}

int CheckJson(const Args& a, Io& io) {
    if (a.size() != 1)
        Fail("usage: mailstore check [--json] DIR");
    CheckReport r;
    Require(Store::Check(a[0], &Fs(), &r));
    io.out << "{\"ok\":" << (r.ok ? "true" : "false") << ",\"folders\":" << r.folders
           << ",\"messages\":" << r.messages << ",\"journalRecords\":" << r.journalRecords
           << ",\"tornTailBytes\":" << r.tornTailBytes << ",\"orphanFiles\":" << r.orphanFiles
           << ",\"waitingRemoval\":" << r.waitingRemoval << ",\"problems\":[";
    for (size_t i = 0; i < r.problems.size(); ++i)
        io.out << (i ? "," : "") << JsonString(r.problems[i]);
    io.out << "],\"unaccounted\":[";
    for (size_t i = 0; i < r.unaccounted.size(); ++i)
        io.out << (i ? "," : "") << JsonString(r.unaccounted[i]);
    io.out << "],\"setAside\":[";
    for (size_t i = 0; i < r.setAside.size(); ++i)
        io.out << (i ? "," : "") << JsonString(r.setAside[i]);
    io.out << "],\"notTheStores\":[";
    for (size_t i = 0; i < r.notTheStores.size(); ++i)
        io.out << (i ? "," : "") << JsonString(r.notTheStores[i]);
    io.out << "]}\n";
    return r.clean() ? 0 : 1;
}

} // namespace mailstore::cli
