// `mailstore export`: a folder's messages as .eml files, a Maildir or an mbox
// file, sources byte for byte, under names every file system accepts.
#include "Commands.h"

#include "ExportNames.h"
#include "FileSystem.h"
#include "SourceFiles.h"

#include <functional>
#include <map>
#include <set>

namespace mailstore::cli {

namespace {

enum class Format { Eml, Maildir, Mbox };

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kFolderBytes = 100;

// One output directory: the names taken there, by this export or before it
// (compared without case, as Windows does).
class OutDir {
  public:
    explicit OutDir(std::string path) : path_(std::move(path)) {}

    Status Open() {
        Status s = Fs().CreateDir(path_);
        std::vector<std::string> names;
        if (s.ok())
            s = Fs().ListDir(path_, &names);
        for (const std::string& n : names)
            taken_.Take(n);
        return s;
    }
    const std::string& path() const { return path_; }

    // base + ext, or base + " (2)" + ext and so on: a name nothing has here yet.
    std::string Claim(const std::string& base, const std::string& ext,
                      const std::vector<std::string>& others = {}) {
        return taken_.Claim(base, ext, others);
    }

  private:
    std::string path_;
    NameClaims taken_;
};

// A file written under a temporary name of this run and given its final name
// when complete, so an interrupted export leaves no partial file under a final
// name. Only a file this object created is ever removed or renamed.
class OutFile {
  public:
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    OutFile() = default;
    ~OutFile() { Discard(); }

    // prefix + suffix, or prefix + "-2" + suffix and so on: created new, so a
    // file that is already there (a leftover of another run) stays untouched.
    Status Create(const std::string& prefix, const std::string& suffix) {
        Discard();
        offset_ = 0;
        Status s;
        for (unsigned n = 1; n <= 10; ++n) {
            std::string path = prefix;
            if (n > 1) {
                path += '-';
                path += std::to_string(n);
            }
            path += suffix;
            s = Fs().Open(path, OpenMode::CreateNew, &file_);
            if (s.ok())
                temp_ = path;
            if (s.code() != ErrorCode::AlreadyExists)
                break;
        }
        return s;
    }
    Status Write(std::string_view bytes) {
        Status s = file_->WriteAt(offset_, bytes.data(), bytes.size());
        offset_ += bytes.size();
        return s;
    }
    // Closes the file and gives it the name finalPath if nothing has that name
    // (AlreadyExists otherwise, with the file kept for another name). No flush:
    // an export is a copy of what the store keeps durably, and a flush per file
    // costs more than the rest of the export.
    Status Commit(const std::string& finalPath) {
        file_.reset();
        bool taken = false;
        std::string reason;
        if (MoveToFreeName(temp_, finalPath, &taken, &reason)) {
            temp_.clear();
            return Status();
        }
        if (taken)
            return Status(ErrorCode::AlreadyExists, finalPath + " appeared during the export");
        return Status(ErrorCode::Io, "cannot rename " + temp_ + " to " + finalPath + ": " + reason);
    }
    void Discard() {
        file_.reset();
        if (!temp_.empty())
            Fs().Remove(temp_);
        temp_.clear();
    }

  private:
    std::string temp_;
    std::unique_ptr<File> file_;
    uint64_t offset_ = 0;
};

// Gives `file` the name `name` in `dir`, or the next free one when a name was
// taken meanwhile: nothing already there is ever replaced.
Status CommitInto(OutFile& file, OutDir& dir, std::string name,
                  const std::function<std::string()>& nextName) {
    Status s = file.Commit(dir.path() + "/" + name);
    for (int tries = 0; s.code() == ErrorCode::AlreadyExists && tries < 1000; ++tries)
        s = file.Commit(dir.path() + "/" + nextName());
    return s;
}

// Whether `name` is "<whole>.<run token>" (16 hex digits): the name an
// export gives a file while it writes it, less any ".part".
bool TemporaryOf(const std::string& name, std::string* whole) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot - 1 != 16 ||
        name.find_first_not_of("0123456789abcdef", dot + 1) != std::string::npos)
        return false;
    *whole = name.substr(0, dot);
    return true;
}

// Whether the file at `part` holds the first bytes of the file at `whole`.
bool IsStartOf(const std::string& part, const std::string& whole) {
    std::unique_ptr<File> p, w;
    uint64_t partSize = 0, wholeSize = 0;
    if (!OpenToRead(Fs(), part, &p, &partSize).ok() ||
        !OpenToRead(Fs(), whole, &w, &wholeSize).ok() || partSize > wholeSize)
        return false;
    std::string a(kChunk, '\0'), b(kChunk, '\0');
    for (uint64_t at = 0; at < partSize;) {
        size_t gotA = 0, gotB = 0;
        if (!p->ReadAt(at, a.data(), a.size(), &gotA).ok() ||
            !w->ReadAt(at, b.data(), gotA, &gotB).ok() || gotA == 0 || gotB != gotA ||
            a.compare(0, gotA, b, 0, gotA) != 0)
            return false;
        at += gotA;
    }
    return true;
}

// Temporary files a killed export left in `partsDir`: one whose bytes are the
// start of the file it was to become, now whole in `wholeDir`, is a partial
// copy this tool made, and goes; any other is not provably ours, and stays.
size_t RemovePartialCopies(const std::string& partsDir, const std::string& wholeDir,
                           bool partSuffix) {
    std::vector<std::string> names;
    Fs().ListDir(partsDir, &names);
    size_t removed = 0;
    for (const std::string& name : names) {
        std::string stem = name, whole;
        if (partSuffix && (stem.size() < 5 || stem.compare(stem.size() - 5, 5, ".part") != 0))
            continue;
        if (partSuffix)
            stem.resize(stem.size() - 5);
        if (TemporaryOf(stem, &whole) && IsStartOf(partsDir + "/" + name, wholeDir + "/" + whole) &&
            Fs().Remove(partsDir + "/" + name).ok())
            ++removed;
    }
    return removed;
}

// What went wrong, without the names of the files it went wrong on: the
// messages left out for one cause are reported together.
std::string CauseKey(const char* stage, const Status& s) {
    std::string why = s.message();
    const size_t colon = why.rfind(": ");
    if (s.code() == ErrorCode::Io && colon != std::string::npos)
        why = why.substr(colon + 2);
    return std::string(stage) + "|" + ErrorCodeName(s.code()) + "|" + why;
}

struct LeftOut {
    std::string who; // the first message left out for the cause
    std::string why; // and what happened to it, in full
    size_t count = 0;
};

struct Totals {
    size_t inStore = 0;
    size_t written = 0;
    size_t files = 0;
    size_t folders = 0;
    size_t lineBreaksAdded = 0;
    size_t partialsRemoved = 0; // a killed export's partial copies of files now whole
    size_t leftOutCount = 0;
    std::vector<LeftOut> leftOut; // one per cause, in the order first met
};

class Exporter {
  public:
    Exporter(const Store& store, Format format, bool recursive, Io& io)
        : store_(store), format_(format), recursive_(recursive), io_(io), run_(RunToken()) {}

    void Run(FolderId folder, const std::string& dest) {
        total_ = Count(folder);
        OutDir out(dest);
        Status s = out.Open();
        if (!s.ok())
            Fail("cannot write to " + Printable(dest) + ": " + Printable(s.message()));
        FolderInfo info;
        store_.GetFolder(folder, &info);
        if (format_ == Format::Mbox)
            ExportMbox(folder, out, info.name);
        else
            ExportInto(folder, out);
        if (io_.progress && total_)
            io_.err << "\n";
    }
    const Totals& totals() const { return totals_; }

  private:
    size_t Count(FolderId folder) const {
        FolderInfo info;
        size_t n = store_.GetFolder(folder, &info).ok() ? info.messageCount : 0;
        std::vector<FolderId> kids;
        if (recursive_ && store_.GetChildren(folder, &kids).ok())
            for (FolderId k : kids)
                n += Count(k);
        return n;
    }

    std::vector<MessageInfo> Messages(FolderId folder) {
        std::vector<MessageId> ids;
        std::vector<MessageInfo> out;
        store_.GetMessageIds(folder, &ids);
        for (MessageId id : ids) {
            MessageInfo m;
            if (store_.GetMessageInfo(folder, id, &m).ok())
                out.push_back(std::move(m));
        }
        ++totals_.folders;
        totals_.inStore += out.size();
        return out;
    }

    void Failed(FolderId folder, const MessageInfo& m, const char* stage, const Status& why,
                bool tick = true) {
        const std::string key = CauseKey(stage, why);
        auto it = causes_.find(key);
        if (it == causes_.end()) {
            it = causes_.emplace(key, totals_.leftOut.size()).first;
            totals_.leftOut.push_back({Printable(FolderPath(store_, folder)) + " #" +
                                           std::to_string(m.id) + " \"" + Printable(m.subject) +
                                           "\"",
                                       Printable(why.message()), 0});
        }
        ++totals_.leftOut[it->second].count;
        ++totals_.leftOutCount;
        if (tick)
            Tick();
    }
    void Tick() {
        ++done_;
        if (io_.progress && (done_ % 100 == 0 || done_ == total_))
            DrawProgress(io_.err, done_, total_,
                         std::to_string(done_) + "/" + std::to_string(total_));
    }

    // Streams a source through `sink`. *stage says which side failed.
    template <typename Sink>
    Status CopySource(FolderId folder, const MessageInfo& m, const char** stage, Sink&& sink) {
        *stage = "read";
        std::unique_ptr<MessageReader> reader;
        Status s = store_.OpenMessageSource(folder, m.id, &reader);
        std::string buf(kChunk, '\0');
        for (uint64_t offset = 0; s.ok() && offset < reader->Size();) {
            size_t got = 0;
            s = reader->ReadAt(offset, buf.data(), buf.size(), &got);
            if (s.ok() && got == 0)
                s = Status(ErrorCode::Io, "the message file ended early");
            if (s.ok()) {
                *stage = "write";
                s = sink(std::string_view(buf.data(), got));
                *stage = s.ok() ? "read" : "write";
            }
            offset += got;
        }
        return s;
    }

    // eml and Maildir: one file per message.
    void ExportInto(FolderId folder, OutDir& out) {
        if (format_ == Format::Maildir) {
            OutDir curDir(out.path() + "/cur"), newDir(out.path() + "/new"),
                tmpDir(out.path() + "/tmp");
            Status s = curDir.Open();
            if (s.ok())
                s = newDir.Open();
            if (s.ok())
                s = tmpDir.Open();
            for (const char* sub : {"cur", "new", "tmp"})
                out.Claim(sub, "");
            if (!s.ok())
                return LeaveOutFolder(folder, s);
            ExportFiles(folder, curDir, tmpDir.path());
        } else {
            ExportFiles(folder, out, out.path());
        }
        ForSubFolders(folder, out, [&](FolderId kid, OutDir& sub) { ExportInto(kid, sub); });
    }

    void ExportFiles(FolderId folder, OutDir& dir, const std::string& tempDir) {
        const std::vector<MessageInfo> messages = Messages(folder);
        const bool eml = format_ == Format::Eml;
        for (size_t i = 0; i < messages.size(); ++i) {
            const MessageInfo& m = messages[i];
            auto claim = [&] {
                return eml ? dir.Claim(EmlBase(m), ".eml") : dir.Claim(MaildirName(m, i), "");
            };
            const std::string name = claim();
            OutFile file;
            const char* stage = "create";
            Status s = file.Create(tempDir + "/" + name + "." + run_, eml ? ".part" : "");
            if (s.ok())
                s = CopySource(folder, m, &stage,
                               [&](std::string_view b) { return file.Write(b); });
            if (s.ok()) {
                stage = "rename";
                s = CommitInto(file, dir, name, claim);
            }
            if (!s.ok()) {
                Failed(folder, m, stage, s);
                continue;
            }
            ++totals_.written;
            ++totals_.files;
            Tick();
        }
        totals_.partialsRemoved += RemovePartialCopies(tempDir, dir.path(), eml);
    }

    // Writes the messages into `file` as mbox; the number written, or the failure.
    Status WriteMbox(FolderId folder, const std::vector<MessageInfo>& messages, OutFile& file,
                     const char** stage, size_t* written) {
        Status s;
        std::string out;
        for (size_t i = 0; i < messages.size() && s.ok(); ++i) {
            *stage = "write";
            MboxEntry entry;
            const MessageInfo& m = messages[i];
            s = file.Write(entry.Begin(m.received ? m.received : m.sent));
            if (s.ok())
                s = CopySource(folder, m, stage, [&](std::string_view b) {
                    out.clear();
                    entry.Feed(b, &out);
                    return file.Write(out);
                });
            out.clear();
            totals_.lineBreaksAdded += entry.End(&out) ? 1 : 0;
            if (s.ok()) {
                *stage = "write";
                s = file.Write(out);
            }
            if (s.ok())
                ++*written;
            Tick();
        }
        return s;
    }

    // mbox: the folder as <name>.mbox in `parent`, its sub-folders in <name>/.
    void ExportMbox(FolderId folder, OutDir& parent, const std::string& folderName) {
        const std::string safe = SafeName(folderName, kFolderBytes, "folder");
        std::string stem = parent.Claim(safe, ".mbox", {""});
        const std::vector<MessageInfo> messages = Messages(folder);
        OutFile file;
        const char* stage = "create";
        Status s = file.Create(parent.path() + "/" + stem + "." + run_, ".part");
        if (!s.ok())
            return LeaveOut(folder, messages, stage, s);
        size_t written = 0;
        s = WriteMbox(folder, messages, file, &stage, &written);
        if (s.ok()) {
            stage = "rename";
            s = CommitInto(file, parent, stem,
                           [&] { return stem = parent.Claim(safe, ".mbox", {""}); });
        }
        if (!s.ok()) // one file holds the folder: without it none of its messages are out
            return LeaveOut(folder, messages, stage, s, false);
        totals_.written += written;
        ++totals_.files;
        totals_.partialsRemoved += RemovePartialCopies(parent.path(), parent.path(), true);
        if (!recursive_)
            return;
        std::vector<FolderId> kids;
        store_.GetChildren(folder, &kids);
        if (kids.empty())
            return;
        OutDir sub(parent.path() + "/" + stem.substr(0, stem.size() - 5));
        s = sub.Open();
        for (FolderId kid : kids) {
            FolderInfo info;
            store_.GetFolder(kid, &info);
            if (s.ok())
                ExportMbox(kid, sub, info.name);
            else
                LeaveOutFolder(kid, s);
        }
    }

    // Each sub-folder into a directory of its own under `out`.
    template <typename Fn> void ForSubFolders(FolderId folder, OutDir& out, Fn&& fn) {
        std::vector<FolderId> kids;
        if (!recursive_ || !store_.GetChildren(folder, &kids).ok())
            return;
        for (FolderId kid : kids) {
            FolderInfo info;
            store_.GetFolder(kid, &info);
            OutDir sub(out.path() + "/" +
                       out.Claim(SafeName(info.name, kFolderBytes, "folder"), ""));
            Status s = sub.Open();
            if (s.ok())
                fn(kid, sub);
            else
                LeaveOutFolder(kid, s);
        }
    }

    void LeaveOut(FolderId folder, const std::vector<MessageInfo>& messages, const char* stage,
                  const Status& s, bool tick = true) {
        for (const MessageInfo& m : messages)
            Failed(folder, m, stage, s, tick);
    }
    // A folder whose directory could not be made, with its sub-folders.
    void LeaveOutFolder(FolderId folder, const Status& s) {
        LeaveOut(folder, Messages(folder), "directory", s);
        std::vector<FolderId> kids;
        if (recursive_ && store_.GetChildren(folder, &kids).ok())
            for (FolderId kid : kids)
                LeaveOutFolder(kid, s);
    }

    const Store& store_;
    Format format_;
    bool recursive_;
    Io& io_;
    const std::string run_; // in every temporary name, so no other run's file is touched
    size_t total_ = 0;
    size_t done_ = 0;
    Totals totals_;
    std::map<std::string, size_t> causes_; // key -> index in totals_.leftOut
};

Format ParseFormat(const std::string& s) {
    if (s == "eml")
        return Format::Eml;
    if (s == "maildir")
        return Format::Maildir;
    if (s == "mbox")
        return Format::Mbox;
    Fail("unknown format \"" + Printable(s) + "\" (eml, maildir or mbox)");
}

} // namespace

int Export(const Args& args, Io& io) {
    // "--format X" is the one option with a value.
    Args rest;
    std::string format = "eml";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--format" && i + 1 == args.size())
            Fail("--format needs a value: eml, maildir or mbox");
        else if (args[i] == "--format")
            format = args[++i];
        else if (args[i].compare(0, 9, "--format=") == 0)
            format = args[i].substr(9);
        else
            rest.push_back(args[i]);
    }
    std::set<std::string> opts;
    const Args a = SplitOptions(rest, {"--recursive"}, &opts);
    if (a.size() != 3)
        Fail("usage: mailstore export DIR FOLDER DEST [--format eml|maildir|mbox] [--recursive]");
    const Format f = ParseFormat(format);
    auto store = OpenStore(a[0]);
    const FolderId folder = ResolveFolder(*store, a[1]);
    Exporter exporter(*store, f, opts.count("--recursive") != 0, io);
    exporter.Run(folder, a[2]);
    const Totals& t = exporter.totals();
    io.out << "Exported " << Printable(FolderPath(*store, folder)) << " ("
           << Plural(t.folders, "folder") << ") to " << Printable(a[2]) << " as " << format << ": "
           << t.inStore << " messages in the store, " << t.written << " written in "
           << Plural(t.files, "file") << ".\n";
    if (t.partialsRemoved)
        io.out << "Removed " << t.partialsRemoved
               << (t.partialsRemoved == 1 ? " partial copy" : " partial copies")
               << " an interrupted export left of files now whole.\n";
    if (t.lineBreaksAdded)
        io.out << "Note: " << Plural(t.lineBreaksAdded, "message")
               << " did not end with a line break; mbox needs one, so it was added.\n";
    if (t.leftOut.empty())
        return 0;
    // One line per cause: a full or read-only destination fails every message alike.
    io.out << "Left out " << t.leftOutCount << ":\n";
    for (const LeftOut& l : t.leftOut) {
        io.out << "  " << l.who;
        if (l.count > 1)
            io.out << " and " << l.count - 1 << " more";
        io.out << ": " << l.why << "\n";
    }
    return 2;
}

} // namespace mailstore::cli
