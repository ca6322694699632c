#include "Cli.h"

#include "FileSystem.h"
#include "Store.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

namespace mailstore::cli {

namespace {

// Messages per durable commit during an import.
constexpr size_t kBatch = 200;
constexpr uint64_t kMaxImportFile = 0xFFFFFFFFull;

struct Command {
    const char* name;
    const char* usage;
    const char* help;
};

const Command kCommands[] = {
    {"init", "init DIR", "Creates an empty store (with the five special folders) in DIR."},
    {"import", "import [--read] [--flagged] [--create] DIR FOLDER PATH...",
     "Imports messages into FOLDER (a path such as Inbox/Lists). Each PATH is a message\n"
     "file, a directory of .eml files, a Maildir (cur/ and new/) or an mbox file.\n"
     "  --read     store the messages as read (Maildir flags are used otherwise)\n"
     "  --flagged  store the messages as flagged\n"
     "  --create   create FOLDER and its parents if they do not exist"},
    {"folders", "folders DIR", "Shows the folder tree with ids, types and counts."},
    {"list", "list DIR FOLDER",
     "Lists the messages of FOLDER in store order: id, flags (U unread, F flagged,\n"
     "H/L high or low priority), received time (UTC), sender and subject.\n"
     "FOLDER is a path of names such as Inbox/Lists, or #ID as 'folders' shows it."},
    {"mark", "mark DIR FOLDER read|unread all|ID...",
     "Marks the given messages, or all messages of FOLDER, read or unread."},
    {"flag", "flag DIR FOLDER on|off ID...", "Sets or clears the flag of the given messages."},
    {"check", "check DIR",
     "Reads every store file and reports damage (file and offset), missing, cut or\n"
     "changed message files, files no record accounts for, and what the store has set\n"
     "aside. Exits with 1 when it finds damage or set-aside files."},
    {"recover", "recover DIR",
     "Brings every set-aside or unaccounted message file back into the store (into\n"
     "its folder when a record still names it, else into \"Recovered\"), drops records\n"
     "whose file is gone, and leaves the store sound. Reports what it did."},
    {"compact", "compact DIR", "Folds the journal into a fresh snapshot."},
};

const Command* FindCommand(const std::string& name) {
    for (const Command& c : kCommands) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

void GeneralHelp(std::ostream& out) {
    out << "mailstore: keeps and inspects a mail store.\n\nUsage:\n";
    for (const Command& c : kCommands)
        out << "  mailstore " << c.usage << "\n";
    out << "\n'mailstore COMMAND --help' describes a command.\n";
}

// Thrown for bad usage and failed commands; caught once in Run.
struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
    throw Failure{message};
}

void Require(const Status& s, const std::string& context = std::string()) {
    if (!s.ok())
        Fail(context.empty() ? s.message() : context + ": " + s.message());
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
        FolderInfo info;
        id = static_cast<FolderId>(std::strtoul(path.c_str() + 1, nullptr, 10));
        Require(store.GetFolder(id, &info), "folder " + path);
        return id;
    }
    Require(store.FindFolderByPath(path, &id), "folder \"" + path + "\"");
    return id;
}

MessageId ParseId(const std::string& s) {
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos)
        Fail("not a message id: \"" + s + "\"");
    unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull)
        Fail("not a message id: \"" + s + "\"");
    return static_cast<MessageId>(v);
}

std::string FormatTime(uint64_t fileTime) {
    if (fileTime == 0)
        return "-";
    int64_t secs = static_cast<int64_t>(fileTime / 10000000ull) - 11644473600ll;
    int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    int64_t rem = secs - days * 86400;
    // Civil date from days since 1970-01-01.
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d", static_cast<long long>(y), m, d,
                  static_cast<int>(rem / 3600), static_cast<int>(rem / 60 % 60));
    return buf;
}

// Cuts UTF-8 text to at most width code points.
std::string Fit(const std::string& s, size_t width) {
    std::string out;
    size_t points = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) != 0x80) {
            if (points == width)
                break;
            ++points;
        }
        out.push_back(s[i]);
    }
    return out + std::string(width - points, ' ');
}

// ---- Reading import sources -----------------------------------------------------

FileSystem& Fs() {
    return DefaultFileSystem();
}

bool IsDirectory(const std::string& path) {
    std::vector<std::string> names;
    return Fs().ListDir(path, &names).ok();
}

Status ReadFile(const std::string& path, std::string* out) {
    std::unique_ptr<File> f;
    uint64_t size = 0;
    Status s = OpenToRead(Fs(), path, &f, &size);
    if (!s.ok())
        return s;
    if (size > kMaxImportFile)
        return Status(ErrorCode::TooLarge, "larger than 4 GiB");
    out->resize(static_cast<size_t>(size));
    size_t got = 0;
    s = f->ReadAt(0, out->data(), out->size(), &got);
    out->resize(got);
    return s;
}

struct Candidate {
    std::string origin; // file name, or "mbox-file #n"
    std::string source;
    std::string problem; // why it is refused, empty if fine
    std::optional<uint32_t> state;
};

// Splits an mbox file at its "From " separator lines and undoes ">From " quoting.
void SplitMbox(const std::string& path, const std::string& data, std::vector<Candidate>* out) {
    size_t pos = 0;
    int n = 0;
    while (pos < data.size()) {
        size_t lineEnd = data.find('\n', pos);
        size_t next = lineEnd == std::string::npos ? data.size() : lineEnd + 1;
        // Find the next separator: "From " at a line start.
        size_t end = next;
        while (end < data.size() && data.compare(end, 5, "From ") != 0) {
            size_t nl = data.find('\n', end);
            end = nl == std::string::npos ? data.size() : nl + 1;
        }
        std::string msg;
        size_t p = next;
        while (p < end) {
            size_t nl = data.find('\n', p);
            size_t e = (nl == std::string::npos || nl >= end) ? end : nl + 1;
            std::string_view line(data.data() + p, e - p);
            size_t gt = line.find_first_not_of('>');
            if (gt != std::string_view::npos && gt > 0 && line.substr(gt, 5) == "From ")
                line.remove_prefix(1);
            msg.append(line.data(), line.size());
            p = e;
        }
        // The blank line before the next separator belongs to the mbox format.
        if (end < data.size()) {
            if (msg.size() >= 2 && msg.compare(msg.size() - 2, 2, "\n\n") == 0)
                msg.pop_back();
            else if (msg.size() >= 4 && msg.compare(msg.size() - 4, 4, "\r\n\r\n") == 0)
                msg.resize(msg.size() - 2);
        }
        Candidate c;
        c.origin = path + " #" + std::to_string(++n);
        c.source = std::move(msg);
        if (c.source.empty())
            c.problem = "empty message";
        out->push_back(std::move(c));
        pos = end;
    }
}

void AddFile(const std::string& path, std::vector<Candidate>* out,
             std::optional<uint32_t> state = std::nullopt) {
    Candidate c;
    c.origin = path;
    c.state = state;
    Status s = ReadFile(path, &c.source);
    if (!s.ok()) {
        c.problem = "cannot read: " + s.message();
        c.source.clear();
    } else if (c.source.empty()) {
        c.problem = "empty file";
    } else if (c.source.compare(0, 5, "From ") == 0) {
        SplitMbox(path, c.source, out);
        return;
    }
    out->push_back(std::move(c));
}

// Maildir flags after ":2,": S seen, F flagged; new/ holds unseen mail.
uint32_t MaildirState(const std::string& name, bool inNew) {
    uint32_t state = kStateUnread;
    size_t info = name.rfind(":2,");
    if (info == std::string::npos)
        info = name.rfind("!2,"); // the form used where ':' cannot be in names
    if (!inNew && info != std::string::npos) {
        std::string flags = name.substr(info + 3);
        if (flags.find('S') != std::string::npos)
            state &= ~kStateUnread;
        if (flags.find('F') != std::string::npos)
            state |= kStateFlagged;
    }
    return state;
}

void Collect(const std::string& path, std::vector<Candidate>* out) {
    if (!Fs().Exists(path)) {
        Candidate c;
        c.origin = path;
        c.problem = "no such file or directory";
        out->push_back(std::move(c));
        return;
    }
    if (!IsDirectory(path)) {
        AddFile(path, out);
        return;
    }
    const std::string cur = path + "/cur", fresh = path + "/new";
    if (IsDirectory(cur) && IsDirectory(fresh)) {
        for (const std::string& sub : {fresh, cur}) {
            std::vector<std::string> names;
            Fs().ListDir(sub, &names);
            std::sort(names.begin(), names.end());
            for (const std::string& n : names) {
                if (!n.empty() && n[0] != '.')
                    AddFile(sub + "/" + n, out, MaildirState(n, sub == fresh));
            }
        }
        return;
    }
    std::vector<std::string> names;
    Fs().ListDir(path, &names);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        const std::string sub = path + "/" + n;
        if (n.size() > 4 &&
            (n.compare(n.size() - 4, 4, ".eml") == 0 || n.compare(n.size() - 4, 4, ".EML") == 0))
            AddFile(sub, out);
        else if (!n.empty() && n[0] != '.' && IsDirectory(sub + "/cur") &&
                 IsDirectory(sub + "/new"))
            Collect(sub, out); // a Maildir inside the directory
    }
}

void DrawProgress(std::ostream& err, size_t done, size_t total) {
    const size_t width = 30;
    size_t filled = total ? done * width / total : width;
    err << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] " << done
        << "/" << total << std::flush;
}

// ---- Commands ----------------------------------------------------------------------

int Init(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore init DIR");
    if (Fs().Exists(a[0] + "/snapshot.bin"))
        Fail(a[0] + " already holds a store");
    OpenOptions o;
    o.create = true;
    std::unique_ptr<Store> store;
    Require(Store::Open(a[0], o, &store));
    out << "Created an empty store in " << a[0] << "\n";
    return 0;
}

int Import(std::vector<std::string> a, std::ostream& out, std::ostream& err, bool progress) {
    std::optional<uint32_t> forced;
    bool create = false;
    uint32_t extra = 0;
    std::vector<std::string> rest;
    for (const std::string& s : a) {
        if (s == "--read")
            forced = 0;
        else if (s == "--flagged")
            extra |= kStateFlagged;
        else if (s == "--create")
            create = true;
        else if (s.size() > 1 && s[0] == '-' && s[1] == '-')
            Fail("unknown option " + s);
        else
            rest.push_back(s);
    }
    if (rest.size() < 3)
        Fail("usage: mailstore import [--read] [--flagged] [--create] DIR FOLDER PATH...");
    auto store = OpenStore(rest[0]);
    FolderId folder = 0;
    if (create && !store->FindFolderByPath(rest[1], &folder).ok()) {
        FolderId parent = kRootFolder;
        std::string_view path = rest[1];
        while (!path.empty()) {
            size_t slash = path.find('/');
            std::string part(path.substr(0, slash));
            if (!part.empty() && !store->FindChild(parent, part, &parent).ok())
                Require(store->CreateFolder(parent, part, &parent),
                        "cannot create \"" + part + "\"");
            if (slash == std::string_view::npos)
                break;
            path.remove_prefix(slash + 1);
        }
        folder = parent;
    } else {
        folder = ResolveFolder(*store, rest[1]);
    }

    std::vector<Candidate> all;
    for (size_t i = 2; i < rest.size(); ++i)
        Collect(rest[i], &all);
    size_t imported = 0, done = 0;
    std::vector<std::pair<std::string, std::string>> refused;
    std::vector<const Candidate*> batch;
    auto flush = [&]() {
        if (batch.empty())
            return;
        std::vector<ImportItem> items;
        for (const Candidate* c : batch) {
            ImportItem item;
            item.source = c->source;
            uint32_t state = forced ? *forced : (c->state ? *c->state : kStateUnread);
            item.state = state | extra;
            items.push_back(item);
        }
        Status s = store->ImportMessages(folder, items, nullptr);
        if (s.ok()) {
            imported += batch.size();
        } else {
            for (const Candidate* c : batch)
                refused.emplace_back(c->origin, s.message());
        }
        batch.clear();
    };
    for (const Candidate& c : all) {
        if (!c.problem.empty())
            refused.emplace_back(c.origin, c.problem);
        else
            batch.push_back(&c);
        if (batch.size() == kBatch)
            flush();
        ++done;
        if (progress && (done % 50 == 0 || done == all.size()))
            DrawProgress(err, done, all.size());
    }
    flush();
    if (progress && !all.empty())
        err << "\n";
    out << "Imported " << imported << " message" << (imported == 1 ? "" : "s") << " into "
        << rest[1];
    if (refused.empty()) {
        out << ".\n";
        return 0;
    }
    out << "; refused " << refused.size() << ":\n";
    for (const auto& [origin, why] : refused)
        out << "  " << origin << ": " << why << "\n";
    return 2;
}

void PrintTree(const Store& store, FolderId id, int depth, std::ostream& out) {
    std::vector<FolderId> kids;
    store.GetChildren(id, &kids);
    for (FolderId k : kids) {
        FolderInfo fi;
        if (!store.GetFolder(k, &fi).ok())
            continue;
        static const char* const kTypes[] = {"inbox", "outbox", "sent", "deleted", "drafts"};
        std::string line = std::string(static_cast<size_t>(depth) * 2, ' ') + fi.name;
        out << Fit(line, 40) << " #" << fi.id;
        if (fi.type >= 0 && fi.type <= 4)
            out << " (" << kTypes[fi.type] << ")";
        out << "  " << fi.messageCount << " messages, " << fi.unreadCount << " unread\n";
        PrintTree(store, k, depth + 1, out);
    }
}

int Folders(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore folders DIR");
    auto store = OpenStore(a[0]);
    PrintTree(*store, kRootFolder, 0, out);
    return 0;
}

int List(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 2)
        Fail("usage: mailstore list DIR FOLDER");
    auto store = OpenStore(a[0]);
    FolderId folder = ResolveFolder(*store, a[1]);
    std::vector<MessageId> ids;
    Require(store->GetMessageIds(folder, &ids));
    out << Fit("ID", 8) << "  UFP  " << Fit("RECEIVED", 16) << "  " << Fit("FROM", 24)
        << "  SUBJECT\n";
    for (MessageId id : ids) {
        MessageInfo m;
        if (!store->GetMessage(folder, id, &m).ok())
            continue;
        std::string flags;
        flags += (m.state & kStateUnread) ? 'U' : '-';
        flags += (m.state & kStateFlagged) ? 'F' : '-';
        flags += m.priority == kPriorityHigh ? 'H' : (m.priority == kPriorityLow ? 'L' : '-');
        out << Fit(std::to_string(id), 8) << "  " << flags << "  " << FormatTime(m.received) << "  "
            << Fit(m.from, 24) << "  " << m.subject << "\n";
    }
    out << ids.size() << " message" << (ids.size() == 1 ? "" : "s") << "\n";
    return 0;
}

int Mark(const std::vector<std::string>& a, std::ostream& out, bool flag) {
    const char* usage = flag ? "usage: mailstore flag DIR FOLDER on|off ID..."
                             : "usage: mailstore mark DIR FOLDER read|unread all|ID...";
    if (a.size() < 4)
        Fail(usage);
    bool on;
    if (a[2] == (flag ? "on" : "read"))
        on = true;
    else if (a[2] == (flag ? "off" : "unread"))
        on = false;
    else
        Fail(usage);
    auto store = OpenStore(a[0]);
    FolderId folder = ResolveFolder(*store, a[1]);
    if (!flag && a.size() == 4 && a[3] == "all") {
        Require(store->MarkAllRead(folder, on));
        out << "Marked all messages in " << a[1] << (on ? " read" : " unread") << ".\n";
        return 0;
    }
    std::vector<MessageId> ids;
    for (size_t i = 3; i < a.size(); ++i)
        ids.push_back(ParseId(a[i]));
    Require(flag ? store->SetFlagged(folder, ids, on) : store->MarkRead(folder, ids, on));
    out << (flag ? (on ? "Flagged " : "Unflagged ") : (on ? "Marked read: " : "Marked unread: "))
        << ids.size() << " message" << (ids.size() == 1 ? "" : "s") << ".\n";
    return 0;
}

int Check(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore check DIR");
    CheckReport r;
    Require(Store::Check(a[0], nullptr, &r));
    out << r.folders << " folders, " << r.messages << " messages, " << r.journalRecords
        << " journal records\n";
    if (r.tornTailBytes)
        out << "A torn journal tail of " << r.tornTailBytes
            << " bytes (an interrupted change) is dropped at the next change.\n";
    for (const std::string& p : r.problems)
        out << "PROBLEM: " << p << "\n";
    for (const std::string& f : r.setAside)
        out << "SET ASIDE: " << f << "\n";
    if (!r.setAside.empty())
        out << r.setAside.size() << " files set aside; mailstore recover brings them back.\n";
    out << (r.ok ? "The store is sound.\n" : "The store is damaged.\n");
    return r.clean() ? 0 : 1;
}

int Recover(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore recover DIR");
    RecoverReport r;
    Require(Store::Recover(a[0], nullptr, &r));
    for (const std::string& line : r.actions)
        out << line << "\n";
    out << "Recovered " << r.recovered << " message file" << (r.recovered == 1 ? "" : "s")
        << "; the store has a fresh snapshot.\n";
    return 0;
}

int Compact(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore compact DIR");
    auto store = OpenStore(a[0]);
    Require(store->Compact());
    out << "Compacted " << a[0] << ".\n";
    return 0;
}

} // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        if (args.size() >= 2 && FindCommand(args[1])) {
            const Command* c = FindCommand(args[1]);
            out << "Usage: mailstore " << c->usage << "\n\n" << c->help << "\n";
            return 0;
        }
        GeneralHelp(out);
        return args.empty() ? 1 : 0;
    }
    const Command* cmd = FindCommand(args[0]);
    if (cmd == nullptr) {
        err << "mailstore: unknown command \"" << args[0] << "\" (try mailstore --help)\n";
        return 1;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
        out << "Usage: mailstore " << cmd->usage << "\n\n" << cmd->help << "\n";
        return 0;
    }
    try {
        const std::string name = cmd->name;
        if (name == "init")
            return Init(rest, out);
        if (name == "import")
            return Import(rest, out, err, progress);
        if (name == "folders")
            return Folders(rest, out);
        if (name == "list")
            return List(rest, out);
        if (name == "mark")
            return Mark(rest, out, false);
        if (name == "flag")
            return Mark(rest, out, true);
        if (name == "check")
            return Check(rest, out);
        if (name == "recover")
            return Recover(rest, out);
        if (name == "compact")
            return Compact(rest, out);
    } catch (const Failure& f) {
        err << "mailstore " << cmd->name << ": " << f.message << "\n";
        return 1;
    }
    return 1;
}

} // namespace mailstore::cli
