#include "Cli.h"

#include "CliSupport.h"
#include "Import.h"

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

struct Command {
    const char* name;
    const char* usage;
    const char* help;
};

const Command kCommands[] = {
    {"init", "init DIR", "Creates an empty store (with the five special folders) in DIR."},
    {"import", "import [--read] [--flagged] [--create] [--skip-other] DIR FOLDER PATH...",
     "Imports messages into FOLDER (a path such as Inbox/Lists). Each PATH is a message\n"
     "file, an mbox file, a Maildir (cur/, new/ or both) or a directory.\n"
     "A file is an mbox when it starts with a \"From \" line (after a byte-order mark\n"
     "or blank lines); it is read one message at a time. In a directory, .eml and\n"
     ".mbox files are read, other files when they start like mail (so .txt exports and\n"
     "numbered message files are found), and sub-directories are walked; all of it\n"
     "goes into FOLDER. Only regular files are read: FIFOs, devices and sockets are\n"
     "never opened for reading. Hidden entries, files that are not mail, a Maildir's\n"
     "tmp/ and own files are skipped. Everything refused or skipped is named at the\n"
     "end, and the exit status is 2 unless everything was imported.\n"
     "The received time is the newest Received: date, else the delivery time of the\n"
     "Maildir name or mbox \"From \" line, else Date:, else the file's modification time.\n"
     "  --read        store the messages as read (Maildir flags are used otherwise)\n"
     "  --flagged     store the messages as flagged\n"
     "  --create      create FOLDER and its parents if they do not exist\n"
     "  --skip-other  skipping what is not mail is no failure (exit status 0)"},
    {"folders", "folders DIR", "Shows the folder tree with ids, types and counts."},
    {"list", "list DIR FOLDER",
     "Lists the messages of FOLDER in store order: id, flags (U unread, F flagged,\n"
     "H/L high or low priority), received time (UTC), sender and subject.\n"
     "FOLDER is a path of names such as Inbox/Lists, or #ID as 'folders' shows it."},
    {"mark", "mark DIR FOLDER read|unread all|ID...",
     "Marks the given messages, or all messages of FOLDER, read or unread."},
    {"flag", "flag DIR FOLDER on|off ID...", "Sets or clears the flag of the given messages."},
    {"check", "check DIR",
     "Reads every store file and reports damage, missing message files and leftovers.\n"
     "Exits with 1 when it finds a problem."},
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
            << " bytes (an interrupted change) is dropped at the next open.\n";
    if (r.orphanFiles)
        out << r.orphanFiles << " message files no record refers to; the next change or compaction "
            << "removes them.\n";
    for (const std::string& p : r.problems)
        out << "PROBLEM: " << p << "\n";
    out << (r.ok ? "The store is sound.\n" : "The store is damaged.\n");
    return r.ok ? 0 : 1;
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
        if (name == "compact")
            return Compact(rest, out);
    } catch (const Failure& f) {
        err << "mailstore " << cmd->name << ": " << f.message << "\n";
        return 1;
    }
    return 1;
}

} // namespace mailstore::cli
