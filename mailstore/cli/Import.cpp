#include "Import.h"

#include "CliSupport.h"
#include "ImportFormats.h"
#include "MessageParser.h"
#include "SourceFiles.h"
#include "Support.h"

#include <functional>
#include <cstdint>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

namespace mailstore::cli {

namespace {

// A durable commit holds at most this many messages, or bytes of them: the
// bytes bound what an import holds in memory, whatever the size of its files.
constexpr size_t kBatch = 200;
constexpr size_t kBatchBytes = 8u << 20;
constexpr size_t kChunk = 1u << 20;
// Enough to tell mail from other files.
constexpr size_t kHeadBytes = 64u << 10;
constexpr uint64_t kMaxMessage = 0xFFFFFFFFull;
// Deeper than any real mail tree; stops a directory link loop.
constexpr int kMaxDepth = 32;

struct Options {
    std::optional<uint32_t> forcedState;
    uint32_t extraState = 0;
    bool create = false;
    bool skipOther = false; // skipping what is not mail is not a failure
    std::string dir, folder;
    std::vector<std::string> paths;
};

// One file the walk found.
struct Source {
    std::string path;
    bool named = false; // read whatever it holds: named by the user, by its kind or its place
    std::optional<uint32_t> state;
    std::optional<uint64_t> delivered;
    uint64_t size = 0;
};

struct Outcome {
    size_t imported = 0;
    std::vector<std::pair<std::string, std::string>> refused; // name, reason
    std::vector<std::pair<std::string, std::string>> skipped;
};

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
    if (s.size() < tail.size())
        return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = s[s.size() - tail.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i])
            return false;
    }
    return true;
}

// ---- Finding the files -------------------------------------------------------------

class Walker {
  public:
    Walker(Outcome& outcome, std::vector<Source>& sources) : out_(outcome), sources_(sources) {}

    void Path(const std::string& path) {
        Source s;
        s.path = path;
        s.named = true;
        Entry(s, Probe(path), true, 0);
    }

  private:
    void Entry(Source s, const EntryInfo& info, bool fromUser, int depth) {
        switch (info.kind) {
        case EntryKind::Regular:
            s.size = info.size;
            sources_.push_back(std::move(s));
            break;
        case EntryKind::Directory:
            Directory(s.path, depth);
            break;
        case EntryKind::Special:
            (fromUser ? out_.refused : out_.skipped).emplace_back(s.path, info.reason);
            break;
        case EntryKind::Missing:
        case EntryKind::Unreadable:
            out_.refused.emplace_back(s.path, info.reason);
            break;
        }
    }

    bool List(const std::string& dir, std::vector<std::string>* names) {
        std::string why;
        if (ListDirectory(dir, names, &why))
            return true;
        out_.refused.emplace_back(dir, why);
        return false;
    }

    static bool IsMaildir(const std::string& dir) {
        return Probe(JoinPath(dir, "cur")).kind == EntryKind::Directory ||
               Probe(JoinPath(dir, "new")).kind == EntryKind::Directory;
    }

    void Directory(const std::string& dir, int depth) {
        if (depth >= kMaxDepth) {
            out_.refused.emplace_back(dir, "nested too deeply (a link loop?)");
            return;
        }
        if (IsMaildir(dir)) {
            Maildir(dir, depth);
            return;
        }
        std::vector<std::string> names;
        if (!List(dir, &names))
            return;
        for (const std::string& name : names)
            Child(JoinPath(dir, name), name, depth);
    }

    // An entry of a plain directory, or a sub-folder of a Maildir.
    void Child(const std::string& path, const std::string& name, int depth) {
        const EntryInfo info = Probe(path);
        const bool hidden = name[0] == '.';
        if (info.kind == EntryKind::Directory && hidden && !IsMaildir(path)) {
            out_.skipped.emplace_back(path, "a hidden directory");
            return;
        }
        if (info.kind == EntryKind::Regular && hidden) {
            out_.skipped.emplace_back(path, "a hidden file");
            return;
        }
        Source s;
        s.path = path;
        s.named = EndsWithNoCase(name, ".eml") || EndsWithNoCase(name, ".mbox");
        Entry(std::move(s), info, false, depth + 1);
    }

    void Maildir(const std::string& dir, int depth) {
        std::vector<std::string> names;
        if (!List(dir, &names))
            return;
        for (const std::string& name : names) {
            const std::string path = JoinPath(dir, name);
            if (name == "new" || name == "cur") {
                MaildirMessages(path, name == "new");
            } else if (name == "tmp") {
                std::vector<std::string> inTmp;
                if (List(path, &inTmp)) {
                    for (const std::string& t : inTmp)
                        out_.skipped.emplace_back(JoinPath(path, t), t[0] == '.'
                                                                         ? "a hidden file"
                                                                         : "still being delivered");
                }
            } else if (Probe(path).kind == EntryKind::Directory) {
                Child(path, name, depth); // a sub-folder
            } else {
                out_.skipped.emplace_back(path, "not a message of the Maildir");
            }
        }
    }

    void MaildirMessages(const std::string& dir, bool isNew) {
        std::vector<std::string> names;
        if (!List(dir, &names))
            return;
        for (const std::string& name : names) {
            const std::string path = JoinPath(dir, name);
            const EntryInfo info = Probe(path);
            if (name[0] == '.' || info.kind == EntryKind::Directory) {
                out_.skipped.emplace_back(path, "not a message of the Maildir");
                continue;
            }
            Source s;
            s.path = path;
            s.named = true;
            s.state = MaildirState(name, isNew);
            s.delivered = MaildirDelivery(name);
            Entry(std::move(s), info, false, 0);
        }
    }

    Outcome& out_;
    std::vector<Source>& sources_;
};

// ---- Reading messages --------------------------------------------------------------

struct Pending {
    std::string source;
    std::string origin;
    std::optional<uint32_t> state;
    std::optional<uint64_t> delivered;
    uint64_t fileModified = 0;
};

class Importer {
  public:
    // `target` gives the folder when the first batch is ready, so a folder
    // --create asks for is made only for mail that came.
    Importer(Store& store, std::function<FolderId()> target, const Options& options,
             Outcome& outcome, std::ostream* progress, uint64_t totalBytes)
        : store_(store), target_(std::move(target)), options_(options), out_(outcome),
          progress_(progress), total_(totalBytes) {}

    void Read(const Source& s) {
        bool special = false;
        std::string why;
        std::unique_ptr<SourceFile> f = SourceFile::Open(s.path, &special, &why);
        if (!f) {
            (special && !s.named ? out_.skipped : out_.refused).emplace_back(s.path, why);
            return;
        }
        std::string head;
        if (!Fill(*f, &head, kHeadBytes, s.path))
            return;
        if (head.empty()) {
            out_.refused.emplace_back(s.path, "empty file");
            return;
        }
        const size_t start = MboxStart(head);
        if (start != std::string::npos)
            Mbox(*f, std::move(head), start, s.path);
        else if (!s.named && !LooksLikeMail(head))
            out_.skipped.emplace_back(s.path, "not a mail message");
        else
            Whole(*f, std::move(head), s);
        Draw();
    }

    void Finish() {
        Flush();
        if (progress_) {
            Draw();
            *progress_ << "\n";
        }
    }

  private:
    // Appends up to `want` more bytes of the file to *buf; false (and the
    // file refused) when reading fails.
    bool Fill(SourceFile& f, std::string* buf, size_t want, const std::string& path) {
        const size_t base = buf->size();
        buf->resize(base + want);
        size_t have = 0;
        while (have < want) {
            size_t got = 0;
            std::string why;
            if (!f.Read(buf->data() + base + have, want - have, &got, &why)) {
                buf->resize(base);
                out_.refused.emplace_back(path, "cannot read: " + why);
                return false;
            }
            if (got == 0)
                break;
            have += got;
        }
        buf->resize(base + have);
        done_ += have;
        return true;
    }

    void Whole(SourceFile& f, std::string data, const Source& s) {
        if (f.size() > kMaxMessage) {
            out_.refused.emplace_back(s.path, "a message of 4 GiB or more cannot be stored");
            return;
        }
        try {
            data.reserve(static_cast<size_t>(f.size()) + kChunk);
        } catch (const std::bad_alloc&) {
            out_.refused.emplace_back(s.path, "too large to hold in memory");
            return;
        }
        size_t before = 0;
        do {
            before = data.size();
            if (!Fill(f, &data, kChunk, s.path))
                return;
        } while (data.size() > before);
        Add(Pending{std::move(data), s.path, s.state, s.delivered, f.modified()});
    }

    // One message at a time: an mbox of any size is never held whole.
    void Mbox(SourceFile& f, std::string buf, size_t pos, const std::string& path) {
        MboxSplitter split(kMaxMessage);
        std::vector<MboxSplitter::Message> done;
        int n = 0;
        bool ok = split.Feed(std::string_view(buf).substr(pos), &done);
        for (bool end = false;;) {
            for (MboxSplitter::Message& m : done) {
                const std::string origin = path + " #" + std::to_string(++n);
                if (m.source.empty())
                    out_.refused.emplace_back(origin, "empty message");
                else
                    Add(Pending{std::move(m.source), origin, std::nullopt,
                                SeparatorTime(m.separator), f.modified()});
            }
            done.clear();
            if (!ok || end)
                break;
            buf.clear();
            if (!Fill(f, &buf, kChunk, path))
                return;
            end = buf.empty();
            ok = end ? split.Finish(&done) : split.Feed(buf, &done);
        }
        if (!ok)
            out_.refused.emplace_back(path + " #" + std::to_string(n + 1),
                                      "a message of 4 GiB or more cannot be stored");
    }

    void Add(Pending p) {
        bytes_ += p.source.size();
        batch_.push_back(std::move(p));
        if (batch_.size() >= kBatch || bytes_ >= kBatchBytes)
            Flush();
    }

    void Flush() {
        if (batch_.empty())
            return;
        std::vector<ImportItem> items(batch_.size());
        for (size_t i = 0; i < batch_.size(); ++i) {
            const Pending& p = batch_[i];
            items[i].source = p.source;
            const uint32_t state =
                options_.forcedState ? *options_.forcedState : p.state.value_or(kStateUnread);
            items[i].state = state | options_.extraState;
            items[i].delivered = p.delivered;
            if (p.fileModified != 0)
                items[i].fileModified = p.fileModified;
        }
        if (folder_ == 0)
            folder_ = target_();
        const Status s = store_.ImportMessages(folder_, items, nullptr);
        if (s.ok()) {
            out_.imported += batch_.size();
        } else {
            for (const Pending& p : batch_)
                out_.refused.emplace_back(p.origin, s.message());
        }
        batch_.clear();
        bytes_ = 0;
        Draw();
    }

    void Draw() {
        if (!progress_)
            return;
        const uint64_t percent = total_ ? (done_ < total_ ? done_ : total_) * 100 / total_ : 100;
        DrawProgress(*progress_, done_, total_,
                     std::to_string(percent) + "%  " +
                         std::to_string(out_.imported + batch_.size()) + " messages");
    }

    Store& store_;
    std::function<FolderId()> target_;
    FolderId folder_ = 0;
    const Options& options_;
    Outcome& out_;
    std::ostream* progress_;
    uint64_t total_;
    uint64_t done_ = 0;
    std::vector<Pending> batch_;
    size_t bytes_ = 0;
};

// ---- The command -------------------------------------------------------------------

Options ParseOptions(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> rest;
    for (const std::string& s : args) {
        if (s == "--read")
            o.forcedState = 0;
        else if (s == "--flagged")
            o.extraState |= kStateFlagged;
        else if (s == "--create")
            o.create = true;
        else if (s == "--skip-other")
            o.skipOther = true;
        else if (s.size() > 1 && s[0] == '-' && s[1] == '-')
            Fail("unknown option " + s);
        else
            rest.push_back(s);
    }
    if (rest.size() < 3)
        Fail("usage: mailstore import [--read] [--flagged] [--create] [--skip-other] DIR FOLDER "
             "PATH...");
    o.dir = rest[0];
    o.folder = rest[1];
    o.paths.assign(rest.begin() + 2, rest.end());
    return o;
}

// The folder to import into, or 0 when --create is to make it (CreateTarget).
FolderId ExistingTarget(Store& store, const Options& o) {
    FolderId folder = 0;
    if (!o.create || store.FindFolderByPath(o.folder, &folder).ok())
        return ResolveFolder(store, o.folder);
    CheckFolderNames(o.folder);
    return 0;
}

FolderId CreateTarget(Store& store, const Options& o) {
    FolderId parent = kRootFolder;
    std::string_view path = o.folder;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string part(path.substr(0, slash));
        if (!part.empty() && !store.FindChild(parent, part, &parent).ok())
            Require(store.CreateFolder(parent, part, &parent),
                    "cannot create \"" + Printable(part) + "\"");
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    return parent;
}

void ListNames(std::ostream& out, const char* title,
               const std::vector<std::pair<std::string, std::string>>& items) {
    if (items.empty())
        return;
    out << title << ":\n";
    for (const auto& [name, why] : items)
        out << "  " << Printable(name) << ": " << why << "\n";
}

int Summary(std::ostream& out, const Options& o, const Outcome& r) {
    out << "Imported " << r.imported << " message" << (r.imported == 1 ? "" : "s") << " into "
        << Printable(o.folder);
    if (!r.refused.empty())
        out << "; refused " << r.refused.size();
    if (!r.skipped.empty())
        out << "; skipped " << r.skipped.size();
    out << ".\n";
    ListNames(out, "Refused", r.refused);
    ListNames(out, "Skipped", r.skipped);
    const bool failed = !r.refused.empty() || (!r.skipped.empty() && !o.skipOther);
    return failed ? 2 : 0;
}

} // namespace

int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progress) {
    const Options o = ParseOptions(args);
    std::unique_ptr<Store> store = OpenStore(o.dir);
    const FolderId existing = ExistingTarget(*store, o);
    Outcome outcome;
    std::vector<Source> sources;
    Walker walker(outcome, sources);
    for (const std::string& path : o.paths)
        walker.Path(path);
    uint64_t total = 0;
    for (const Source& s : sources)
        total += s.size;
    Importer importer(
        *store, [&] { return existing != 0 ? existing : CreateTarget(*store, o); }, o, outcome,
        progress ? &err : nullptr, total);
    for (const Source& s : sources)
        importer.Read(s);
    importer.Finish();
    return Summary(out, o, outcome);
}

} // namespace mailstore::cli
