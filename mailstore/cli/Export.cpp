// `mailstore export`: a folder's messages as .eml files, a Maildir or an mbox
// file, sources byte for byte, under names every file system accepts.
#include "Commands.h"

#include "FileSystem.h"

#include <cstdio>
#include <set>

namespace mailstore::cli {

namespace {

enum class Format { Eml, Maildir, Mbox };

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kSubjectBytes = 100; // of a file name; the whole stays far below 255
constexpr size_t kFolderBytes = 100;

#ifdef _WIN32
constexpr char kInfoSeparator = '!'; // ':' cannot be in a Windows file name
#else
constexpr char kInfoSeparator = ':';
#endif

bool IsReservedDeviceName(std::string base) {
    base = base.substr(0, base.find('.'));
    for (char& c : base)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (base == "con" || base == "prn" || base == "aux" || base == "nul")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

std::string TrimEnd(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

// Text made fit for one file name on Windows and POSIX alike: no separators or
// characters Windows refuses, no control characters, no leading dot (hidden, or
// "." and ".."), no trailing dot or blank, no device name, at most maxBytes.
std::string SafeName(const std::string& text, size_t maxBytes, const std::string& fallback) {
    std::string s;
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        char put = ch;
        if (c1)
            ++i; // U+0080..U+009F: a control character in two bytes
        if (c < 0x20 || c == 0x7F || c1)
            put = ' ';
        else if (std::string_view("<>:\"/\\|?*").find(ch) != std::string_view::npos)
            put = '_';
        if (put == ' ' && (s.empty() || s.back() == ' '))
            continue;
        s.push_back(put);
    }
    s = TrimEnd(CutUtf8(TrimEnd(s), maxBytes));
    if (!s.empty() && s[0] == '.')
        s[0] = '_';
    if (s.empty())
        s = fallback;
    if (IsReservedDeviceName(s))
        s = "_" + s;
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

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
            taken_.insert(Lower(n));
        return s;
    }
    const std::string& path() const { return path_; }

    // base + ext, or base + " (2)" + ext and so on: a name nothing has here yet.
    // Each of `others` (extensions) is reserved along with it.
    std::string Claim(const std::string& base, const std::string& ext,
                      const std::vector<std::string>& others = {}) {
        for (unsigned n = 1;; ++n) {
            const std::string stem = n == 1 ? base : base + " (" + std::to_string(n) + ")";
            bool free = !taken_.count(Lower(stem + ext));
            for (const std::string& o : others)
                free = free && !taken_.count(Lower(stem + o));
            if (!free)
                continue;
            taken_.insert(Lower(stem + ext));
            for (const std::string& o : others)
                taken_.insert(Lower(stem + o));
            return stem + ext;
        }
    }

  private:
    std::string path_;
    std::set<std::string> taken_;
};

// A file written under a temporary name and renamed when complete, so an
// interrupted export leaves no partial file under a final name.
class OutFile {
  public:
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    OutFile() = default;

    Status Create(const std::string& tempPath) {
        temp_ = tempPath;
        offset_ = 0;
        return Fs().Open(temp_, OpenMode::CreateNew, &file_);
    }
    Status Write(std::string_view bytes) {
        Status s = file_->WriteAt(offset_, bytes.data(), bytes.size());
        offset_ += bytes.size();
        return s;
    }
    // Closes the file and gives it its final name, which must be free. No flush:
    // an export is a copy of what the store keeps durably, and a flush per file
    // costs more than the rest of the export.
    Status Commit(const std::string& finalPath) {
        Status s;
        file_.reset();
        // Rename would replace a file: a name taken meanwhile is never overwritten.
        if (s.ok() && Fs().Exists(finalPath))
            s = Status(ErrorCode::AlreadyExists, finalPath + " appeared during the export");
        if (s.ok())
            s = Fs().Rename(temp_, finalPath);
        if (!s.ok())
            Discard();
        temp_.clear();
        return s;
    }
    void Discard() {
        file_.reset();
        if (!temp_.empty())
            Fs().Remove(temp_);
        temp_.clear();
    }
    ~OutFile() { Discard(); }

  private:
    std::string temp_;
    std::unique_ptr<File> file_;
    uint64_t offset_ = 0;
};

// Adds mboxrd quoting: one more '>' before every line that reads ">*From ".
class MboxQuoter {
  public:
    void Feed(std::string_view in, std::string* out) {
        static constexpr std::string_view kFrom = "From ";
        for (char c : in) {
            if (!atLineStart_) {
                out->push_back(c);
                atLineStart_ = c == '\n';
                continue;
            }
            pending_.push_back(c);
            const size_t gt = pending_.find_first_not_of('>');
            if (gt == std::string::npos)
                continue;
            const std::string_view rest = std::string_view(pending_).substr(gt);
            if (kFrom.substr(0, rest.size()) == rest) {
                if (rest.size() == kFrom.size()) {
                    out->push_back('>');
                    Flush(out);
                }
                continue;
            }
            Flush(out);
            atLineStart_ = c == '\n';
        }
    }
    void Flush(std::string* out) {
        out->append(pending_);
        pending_.clear();
        atLineStart_ = false;
    }

  private:
    bool atLineStart_ = true;
    std::string pending_;
};

std::string TwoDigits(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

int64_t UnixSeconds(uint64_t fileTime) {
    return static_cast<int64_t>(fileTime / 10000000ull) - 11644473600ll;
}

// "2026-12-07 08-00-00 Subject.eml"; Date: first, else the received time.
std::string EmlBase(const MessageInfo& m) {
    const uint64_t when = m.sent ? m.sent : m.received;
    std::string stamp = "undated";
    if (when) {
        const CivilTime t = ToCivil(when);
        stamp = std::to_string(t.year) + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + " " +
                TwoDigits(t.hour) + "-" + TwoDigits(t.minute) + "-" + TwoDigits(t.second);
    }
    return stamp + " " + SafeName(m.subject, kSubjectBytes, "no subject");
}

// The separator line: "From - Mon Dec  7 08:00:00 2026" in the received time.
std::string MboxSeparator(const MessageInfo& m) {
    static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const uint64_t when = m.received ? m.received : m.sent;
    const CivilTime t = ToCivil(when ? when : 116444736000000000ull);
    int64_t days = UnixSeconds(when ? when : 116444736000000000ull);
    days = days >= 0 ? days / 86400 : (days - 86399) / 86400;
    char buf[64];
    std::snprintf(buf, sizeof buf, "From - %s %s %2d %02d:%02d:%02d %d\n",
                  kDays[((days % 7) + 7) % 7], kMonths[t.month - 1], t.day, t.hour, t.minute,
                  t.second, t.year);
    return buf;
}

// The Maildir name: delivery time first, then the store order, then the flags.
std::string MaildirName(const MessageInfo& m, size_t seq) {
    const uint64_t when = m.received ? m.received : m.sent;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%lld.M%06zuI%u.mailstore",
                  static_cast<long long>(UnixSeconds(when)), seq, static_cast<unsigned>(m.id));
    std::string name = buf;
    name += kInfoSeparator;
    name += "2,";
    if (m.state & kStateFlagged)
        name += 'F';
    if (!(m.state & kStateUnread))
        name += 'S';
    return name;
}

struct Totals {
    size_t inStore = 0;
    size_t written = 0;
    size_t files = 0;
    size_t folders = 0;
    size_t lineBreaksAdded = 0;
    std::vector<std::string> leftOut;
};

class Exporter {
  public:
    Exporter(const Store& store, Format format, bool recursive, Io& io)
        : store_(store), format_(format), recursive_(recursive), io_(io) {}

    void Run(FolderId folder, const std::string& dest) {
        total_ = Count(folder);
        OutDir out(dest);
        Status s = out.Open();
        if (!s.ok())
            Fail("cannot write to " + dest + ": " + s.message());
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
            if (store_.GetMessage(folder, id, &m).ok())
                out.push_back(std::move(m));
        }
        ++totals_.folders;
        totals_.inStore += out.size();
        return out;
    }

    void Failed(FolderId folder, const MessageInfo& m, const std::string& why, bool tick = true) {
        totals_.leftOut.push_back(FolderPath(store_, folder) + " #" + std::to_string(m.id) + " \"" +
                                  m.subject + "\": " + why);
        if (tick)
            Tick();
    }
    void Tick() {
        ++done_;
        if (io_.progress && (done_ % 100 == 0 || done_ == total_))
            DrawProgress(io_.err, done_, total_);
    }

    // Streams a source through `sink`; the reader's failure as a status.
    template <typename Sink> Status CopySource(FolderId folder, const MessageInfo& m, Sink&& sink) {
        std::unique_ptr<MessageReader> reader;
        Status s = store_.OpenMessageSource(folder, m.id, &reader);
        std::string buf(kChunk, '\0');
        for (uint64_t offset = 0; s.ok() && offset < reader->Size();) {
            size_t got = 0;
            s = reader->ReadAt(offset, buf.data(), buf.size(), &got);
            if (s.ok() && got == 0)
                s = Status(ErrorCode::Io, "the message file ended early");
            if (s.ok())
                s = sink(std::string_view(buf.data(), got));
            offset += got;
        }
        return s;
    }

    // eml and Maildir: one file per message.
    void ExportInto(FolderId folder, OutDir& out) {
        std::string cur = out.path(), tmp = out.path();
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
        for (size_t i = 0; i < messages.size(); ++i) {
            const MessageInfo& m = messages[i];
            const std::string name = format_ == Format::Eml ? dir.Claim(EmlBase(m), ".eml")
                                                            : dir.Claim(MaildirName(m, i), "");
            OutFile file;
            Status s = file.Create(tempDir + "/" + name + (format_ == Format::Eml ? ".part" : ""));
            if (s.ok())
                s = CopySource(folder, m, [&](std::string_view b) { return file.Write(b); });
            if (s.ok())
                s = file.Commit(dir.path() + "/" + name);
            if (!s.ok()) {
                Failed(folder, m, s.message());
                continue;
            }
            ++totals_.written;
            ++totals_.files;
            Tick();
        }
    }

    // mbox: the folder as <name>.mbox in `parent`, its sub-folders in <name>/.
    void ExportMbox(FolderId folder, OutDir& parent, const std::string& folderName) {
        const std::string stem =
            parent.Claim(SafeName(folderName, kFolderBytes, "folder"), ".mbox", {""});
        const std::string base = stem.substr(0, stem.size() - 5);
        const std::vector<MessageInfo> messages = Messages(folder);
        OutFile file;
        Status s = file.Create(parent.path() + "/" + stem + ".part");
        if (!s.ok())
            return LeaveOut(folder, messages, s);
        std::string out;
        size_t written = 0;
        for (size_t i = 0; i < messages.size() && s.ok(); ++i) {
            s = file.Write(MboxSeparator(messages[i]));
            MboxQuoter q;
            bool endedWithNewline = true;
            if (s.ok())
                s = CopySource(folder, messages[i], [&](std::string_view b) {
                    out.clear();
                    q.Feed(b, &out);
                    if (!b.empty())
                        endedWithNewline = b.back() == '\n';
                    return file.Write(out);
                });
            out.clear();
            q.Flush(&out);
            // Every message ends with a line break and a blank line; mbox cannot
            // keep a last line without its break.
            out += endedWithNewline ? "\n" : "\n\n";
            totals_.lineBreaksAdded += endedWithNewline ? 0 : 1;
            if (s.ok())
                s = file.Write(out);
            if (s.ok())
                ++written;
            Tick();
        }
        if (s.ok())
            s = file.Commit(parent.path() + "/" + stem);
        if (!s.ok()) // one file holds the folder: without it none of its messages are out
            return LeaveOut(folder, messages, s, false);
        totals_.written += written;
        ++totals_.files;
        if (!recursive_)
            return;
        std::vector<FolderId> kids;
        store_.GetChildren(folder, &kids);
        if (kids.empty())
            return;
        OutDir sub(parent.path() + "/" + base);
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

    void LeaveOut(FolderId folder, const std::vector<MessageInfo>& messages, const Status& s,
                  bool tick = true) {
        for (const MessageInfo& m : messages)
            Failed(folder, m, s.message(), tick);
    }
    // A folder whose directory could not be made, with its sub-folders.
    void LeaveOutFolder(FolderId folder, const Status& s) {
        LeaveOut(folder, Messages(folder), s);
        std::vector<FolderId> kids;
        if (recursive_ && store_.GetChildren(folder, &kids).ok())
            for (FolderId kid : kids)
                LeaveOutFolder(kid, s);
    }

    const Store& store_;
    Format format_;
    bool recursive_;
    Io& io_;
    size_t total_ = 0;
    size_t done_ = 0;
    Totals totals_;
};

Format ParseFormat(const std::string& s) {
    if (s == "eml")
        return Format::Eml;
    if (s == "maildir")
        return Format::Maildir;
    if (s == "mbox")
        return Format::Mbox;
    Fail("unknown format \"" + s + "\" (eml, maildir or mbox)");
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
    io.out << "Exported " << FolderPath(*store, folder) << " (" << Plural(t.folders, "folder")
           << ") to " << a[2] << " as " << format << ": " << t.inStore << " messages in the store, "
           << t.written << " written in " << Plural(t.files, "file") << ".\n";
    if (t.lineBreaksAdded)
        io.out << "Note: " << Plural(t.lineBreaksAdded, "message")
               << " did not end with a line break; mbox needs one, so it was added.\n";
    if (t.leftOut.empty())
        return 0;
    io.out << "Left out " << t.leftOut.size() << ":\n";
    for (const std::string& line : t.leftOut)
        io.out << "  " << line << "\n";
    return 2;
}

} // namespace mailstore::cli
