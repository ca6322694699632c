#include "Import.h"

#include "CliSupport.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

namespace mailstore::cli {

namespace {

// Messages per durable commit during an import.
constexpr size_t kBatch = 200;
constexpr uint64_t kMaxImportFile = 0xFFFFFFFFull;

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

} // namespace

int Import(const std::vector<std::string>& a, std::ostream& out, std::ostream& err, bool progress) {
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

} // namespace mailstore::cli
