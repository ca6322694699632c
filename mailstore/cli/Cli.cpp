#include "Cli.h"

#include "CliSupport.h"
#include "Commands.h"
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

int InitCommand(const Args& a, Io& io);
int ImportCommand(const Args& a, Io& io);
int FoldersCommand(const Args& a, Io& io);
int ListCommand(const Args& a, Io& io);
int MarkCommand(const Args& a, Io& io);
int FlagCommand(const Args& a, Io& io);
int CheckCommand(const Args& a, Io& io);
int RecoverCommand(const Args& a, Io& io);
int CompactCommand(const Args& a, Io& io);

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    int (*run)(const Args&, Io&);
    int (*json)(const Args&, Io&); // the --json form, where there is one
};

const Command kCommands[] = {
    {"init", "init DIR", "Creates an empty store (with the five special folders) in DIR.",
     InitCommand, nullptr},
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
     "  --skip-other  skipping what is not mail is no failure (exit status 0)",
     ImportCommand, nullptr},
    {"folders", "folders [--json] DIR",
     "Shows the folder tree with ids, types and counts.\n"
     "  --json  one JSON object: {\"folders\": [FOLDER...]}, each FOLDER being\n"
     "          {\"id\", \"name\", \"path\", \"type\" (\"inbox\", \"outbox\", \"sent\",\n"
     "          \"deleted\", \"drafts\" or null), \"messages\", \"unread\", \"children\"}",
     FoldersCommand, FoldersJson},
    {"list", "list [--json] DIR FOLDER",
     "Lists the messages of FOLDER in store order: id, flags (U unread, F flagged,\n"
     "H/L high or low priority), received time (UTC), sender and subject.\n"
     "FOLDER is a path of names such as Inbox/Lists, or #ID as 'folders' shows it.\n"
     "  --json  one JSON object: {\"folder\": {\"id\", \"path\"}, \"messages\": [\n"
     "          {\"id\", \"unread\", \"flagged\", \"priority\" (\"high\", \"normal\", \"low\"),\n"
     "          \"received\", \"sent\" (\"YYYY-MM-DDTHH:MM:SSZ\" or null), \"size\",\n"
     "          \"from\", \"to\", \"subject\"}...]}",
     ListCommand, ListJson},
    {"show", "show [--headers] DIR FOLDER ID",
     "Writes the stored source of message ID to standard output, byte for byte.\n"
     "  --headers  only the header block, without the blank line that ends it",
     Show, nullptr},
    {"mark", "mark DIR FOLDER read|unread all|ID...",
     "Marks the given messages, or all messages of FOLDER, read or unread.", MarkCommand, nullptr},
    {"flag", "flag DIR FOLDER on|off ID...", "Sets or clears the flag of the given messages.",
     FlagCommand, nullptr},
    {"delete", "delete DIR FOLDER ID...|all",
     "Deletes the given messages, or all messages of FOLDER. Unknown ids change nothing.",
     DeleteMessages, nullptr},
    {"copy", "copy DIR FOLDER TARGET ID...|all",
     "Copies the given messages, or all of FOLDER, into the folder TARGET; prints\n"
     "their new ids in the order given.",
     CopyMessages, nullptr},
    {"move-messages", "move-messages DIR FOLDER TARGET ID...|all",
     "Moves the given messages, or all of FOLDER, into the folder TARGET (not FOLDER\n"
     "itself); prints their new ids in the order given.",
     MoveMessages, nullptr},
    {"mkdir", "mkdir [--parents] DIR PATH",
     "Creates the folder PATH (such as Inbox/Work, or Work at the top level).\n"
     "  --parents  create the missing folders above it too",
     MakeFolder, nullptr},
    {"rename", "rename DIR FOLDER NEWNAME", "Gives FOLDER a new name. Special folders keep theirs.",
     RenameFolder, nullptr},
    {"move", "move DIR FOLDER NEWPARENT",
     "Moves FOLDER under NEWPARENT, or to the top level with \"/\". Special folders\n"
     "stay where they are; a folder cannot move into its own sub-folders.",
     MoveFolder, nullptr},
    {"rmdir", "rmdir DIR FOLDER",
     "Deletes FOLDER with its messages and sub-folders. Special folders cannot be\n"
     "deleted.",
     RemoveFolder, nullptr},
    {"export", "export DIR FOLDER DEST [--format eml|maildir|mbox] [--recursive]",
     "Writes the messages of FOLDER, byte for byte, into the directory DEST (made if\n"
     "missing). Existing files are never overwritten or removed: names taken get \" (2)\"\n"
     "and so on, and files are written under temporary names of this run only.\n"
     "  --format eml      one file per message, named from its date and subject (default)\n"
     "  --format maildir  DEST becomes a Maildir; read and flagged states are kept in the\n"
     "                    file names\n"
     "  --format mbox     the folder becomes DEST/NAME.mbox (mboxrd: body lines reading\n"
     "                    \"From \" are quoted with '>', so importing gives the same sources)\n"
     "  --recursive       sub-folders too, each as a directory (mbox: NAME/ beside NAME.mbox)\n"
     "Ends with a report (what was left out: one line per cause, with a count); exits\n"
     "with 2 when any message was left out.",
     Export, nullptr},
    {"check", "check [--json] DIR",
     "Reads every store file and reports damage (file and offset), missing, cut or\n"
     "changed message files, every file no record names (and what the store does with\n"
     "it), and what the store has set aside. Exits with 1 unless every file is\n"
     "accounted for and matches its record.\n"
     "  --json  one JSON object: {\"ok\", \"folders\", \"messages\", \"journalRecords\",\n"
     "          \"tornTailBytes\", \"orphanFiles\", \"waitingRemoval\", \"problems\":\n"
     "          [TEXT...], \"unaccounted\": [TEXT...], \"setAside\": [PATH...]}; \"ok\"\n"
     "          is false when the store is damaged; \"waitingRemoval\" counts files of\n"
     "          committed deletes not removed yet, which leave the store sound",
     CheckCommand, CheckJson},
    {"recover", "recover DIR",
     "Brings every set-aside or unaccounted message file back into the store (into\n"
     "its folder when a record still names it, else into \"Recovered\"), drops records\n"
     "whose file is gone, and leaves the store sound. Reports what it did.",
     RecoverCommand, nullptr},
    {"compact", "compact DIR", "Folds the journal into a fresh snapshot.", CompactCommand, nullptr},
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

// ---- Commands ----------------------------------------------------------------------

int Init(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore init DIR");
    if (Fs().Exists(a[0] + "/snapshot.bin"))
        Fail(a[0] + " already holds a store");
    OpenOptions o;
    o.fs = &Fs();
    o.create = true;
    std::unique_ptr<Store> store;
    Require(Store::Open(a[0], o, &store));
    out << "Created an empty store in " << Printable(a[0]) << "\n";
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
        std::string line = std::string(static_cast<size_t>(depth) * 2, ' ') + Printable(fi.name);
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
        if (!store->GetMessageInfo(folder, id, &m).ok())
            continue;
        std::string flags;
        flags += (m.state & kStateUnread) ? 'U' : '-';
        flags += (m.state & kStateFlagged) ? 'F' : '-';
        flags += m.priority == kPriorityHigh ? 'H' : (m.priority == kPriorityLow ? 'L' : '-');
        out << Fit(std::to_string(id), 8) << "  " << flags << "  " << FormatTime(m.received) << "  "
            << Fit(Printable(m.from), 24) << "  " << Printable(m.subject) << "\n";
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
    Require(Store::Check(a[0], &Fs(), &r));
    out << r.folders << " folders, " << r.messages << " messages, " << r.journalRecords
        << " journal records\n";
    if (r.tornTailBytes)
        out << "A torn journal tail of " << r.tornTailBytes
            << " bytes (an interrupted change) is dropped at the next change.\n";
    for (const std::string& p : r.problems)
        out << "PROBLEM: " << Printable(p) << "\n";
    for (const std::string& u : r.unaccounted)
        out << "UNACCOUNTED: " << Printable(u) << "\n";
    for (const std::string& f : r.setAside)
        out << "SET ASIDE: " << Printable(f) << "\n";
    for (const std::string& f : r.notTheStores)
        out << "NOT THE STORE'S: " << Printable(f) << "\n";
    if (r.waitingRemoval)
        out << r.waitingRemoval << " file" << (r.waitingRemoval == 1 ? "" : "s")
            << " of committed deletes wait" << (r.waitingRemoval == 1 ? "s" : "")
            << " to be removed.\n";
    if (!r.setAside.empty())
        out << r.setAside.size() << " files set aside; mailstore recover brings them back.\n";
    out << (r.clean() ? "The store is sound.\n"
            : r.ok    ? "The store is not sound: not every file is accounted for.\n"
                      : "The store is damaged.\n");
    return r.clean() ? 0 : 1;
}

int Recover(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore recover DIR");
    RecoverReport r;
    Require(Store::Recover(a[0], &Fs(), &r));
    for (const std::string& line : r.actions)
        out << Printable(line) << "\n";
    if (r.failed != 0) {
        out << "Recover could not finish: " << r.failed << (r.failed == 1 ? " file" : " files")
            << " left as found (see above); the store is not sound yet.\n";
        return 1;
    }
    out << "Recovered " << r.recovered << " message file" << (r.recovered == 1 ? "" : "s")
        << "; the store has a fresh snapshot.\n";
    return 0;
}

int Compact(const std::vector<std::string>& a, std::ostream& out) {
    if (a.size() != 1)
        Fail("usage: mailstore compact DIR");
    auto store = OpenStore(a[0]);
    Require(store->Compact());
    out << "Compacted " << Printable(a[0]) << ".\n";
    return 0;
}

// The original commands through the table's one signature.
int InitCommand(const Args& a, Io& io) {
    return Init(a, io.out);
}
int ImportCommand(const Args& a, Io& io) {
    return Import(a, io.out, io.err, io.progress);
}
int FoldersCommand(const Args& a, Io& io) {
    return Folders(a, io.out);
}
int ListCommand(const Args& a, Io& io) {
    return List(a, io.out);
}
int MarkCommand(const Args& a, Io& io) {
    return Mark(a, io.out, false);
}
int FlagCommand(const Args& a, Io& io) {
    return Mark(a, io.out, true);
}
int CheckCommand(const Args& a, Io& io) {
    return Check(a, io.out);
}
int RecoverCommand(const Args& a, Io& io) {
    return Recover(a, io.out);
}
int CompactCommand(const Args& a, Io& io) {
    return Compact(a, io.out);
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
        err << "mailstore: unknown command \"" << Printable(args[0])
            << "\" (try mailstore --help)\n";
        return 1;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
        out << "Usage: mailstore " << cmd->usage << "\n\n" << cmd->help << "\n";
        return 0;
    }
    try {
        Io io{out, err, progress};
        auto json = std::find(rest.begin(), rest.end(), "--json");
        if (json != rest.end() && cmd->json) {
            rest.erase(json);
            return cmd->json(rest, io);
        }
        return cmd->run(rest, io);
    } catch (const Failure& f) {
        err << "mailstore " << cmd->name << ": " << Printable(f.message) << "\n";
        return 1;
    }
}

} // namespace mailstore::cli
