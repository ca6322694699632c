#include "MemFs.h"

#include <random>

namespace mailstore::testing {

namespace {

std::string Parent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

class MemLock : public FileLock {
  public:
    MemLock(std::set<std::string>* locks, std::string path)
        : locks_(locks), path_(std::move(path)) {}
    ~MemLock() override { locks_->erase(path_); }

  private:
    std::set<std::string>* locks_;
    std::string path_;
};

} // namespace

class MemFile : public File {
  public:
    MemFile(MemFs* fs, std::shared_ptr<MemFs::Node> node, std::string path, bool writable)
        : fs_(fs), node_(std::move(node)), path_(std::move(path)), writable_(writable) {}

    Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        const std::string& c = node_->current;
        *got = 0;
        if (offset >= c.size())
            return Status();
        size_t n = std::min(len, c.size() - static_cast<size_t>(offset));
        c.copy(static_cast<char*>(buf), n, static_cast<size_t>(offset));
        *got = n;
        return Status();
    }

    Status WriteAt(uint64_t offset, const void* buf, size_t len) override {
        if (!writable_)
            return Status(ErrorCode::Io, "read-only handle");
        fs_->pendingNode_ = node_.get();
        fs_->pendingOffset_ = offset;
        fs_->pendingBytes_ = {static_cast<const char*>(buf), len};
        Status s = fs_->Step(MemFs::StepKind::Write, path_);
        fs_->pendingNode_ = nullptr;
        if (!s.ok())
            return s;
        Apply(offset, static_cast<const char*>(buf), len);
        return Status();
    }

    Status Flush() override {
        Status s = fs_->Step(MemFs::StepKind::Flush, path_);
        if (s.ok())
            node_->durable = node_->current;
        return s;
    }

    Status Size(uint64_t* size) override {
        *size = node_->current.size();
        return Status();
    }

    Status Truncate(uint64_t size) override {
        Status s = fs_->Step(MemFs::StepKind::Truncate, path_);
        if (s.ok()) {
            node_->current.resize(static_cast<size_t>(size));
        }
        return s;
    }

    void Apply(uint64_t offset, const char* buf, size_t len) {
        std::string& c = node_->current;
        if (c.size() < offset + len)
            c.resize(static_cast<size_t>(offset + len));
        c.replace(static_cast<size_t>(offset), len, buf, len);
    }

  private:
    MemFs* fs_;
    std::shared_ptr<MemFs::Node> node_;
    std::string path_;
    bool writable_;
};

Status MemFs::Step(StepKind kind, const std::string& path) {
    const uint64_t n = steps_++;
    if (beforeStep)
        beforeStep(n, kind, path);
    if (n >= crashStep)
        return Status(ErrorCode::Io, "process died before step " + std::to_string(n));
    if (n == failStep)
        return Status(ErrorCode::Io,
                      "injected failure at step " + std::to_string(n) + " on " + path);
    return Status();
}

std::unique_ptr<MemFs> MemFs::Clone() const {
    auto fs = std::make_unique<MemFs>();
    fs->dirs_ = dirs_;
    fs->steps_ = steps_; // the step count is the clock of modification times
    for (const auto& [path, node] : files_) {
        auto copy = std::make_shared<Node>();
        copy->durable = node->current;
        copy->current = node->current;
        fs->files_[path] = copy;
    }
    return fs;
}

std::unique_ptr<MemFs> MemFs::CrashImage(Unflushed mode, uint32_t seed, bool tornWrite) const {
    auto fs = std::make_unique<MemFs>();
    fs->dirs_ = dirs_;
    fs->steps_ = steps_; // the step count is the clock of modification times
    std::mt19937 rng(seed);
    for (const auto& [path, nodePtr] : files_) {
        Node torn;
        const Node* node = nodePtr.get();
        if (tornWrite && node == pendingNode_) {
            torn = *node;
            std::string_view half = pendingBytes_.substr(0, pendingBytes_.size() / 2);
            if (torn.current.size() < pendingOffset_ + half.size())
                torn.current.resize(static_cast<size_t>(pendingOffset_ + half.size()));
            torn.current.replace(static_cast<size_t>(pendingOffset_), half.size(), half.data(),
                                 half.size());
            node = &torn;
        }
        std::string bytes;
        switch (mode) {
        case Unflushed::Applied:
            bytes = node->current;
            break;
        case Unflushed::Dropped:
            bytes = node->durable;
            break;
        case Unflushed::Garbled: {
            // Unflushed bytes reach the disk as noise, and a pending cut may or may not.
            bytes = node->current;
            for (size_t i = 0; i < bytes.size(); ++i) {
                if (i >= node->durable.size() || bytes[i] != node->durable[i])
                    bytes[i] = static_cast<char>(rng() & 0xFF);
            }
            if (node->durable.size() > bytes.size())
                bytes.append(node->durable, bytes.size(), std::string::npos);
            break;
        }
        }
        auto copy = std::make_shared<Node>();
        copy->durable = bytes;
        copy->current = bytes;
        fs->files_[path] = copy;
    }
    return fs;
}

std::string* MemFs::Content(const std::string& path) {
    auto it = files_.find(path);
    if (it == files_.end())
        return nullptr;
    return &it->second->current;
}

Status MemFs::Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out,
                   bool* missing) {
    if (missing)
        *missing = false;
    auto it = files_.find(path);
    const bool exists = it != files_.end();
    if (dirs_.count(path) != 0)
        return Status(ErrorCode::Io, "cannot open " + path + ": a directory");
    if (mode == OpenMode::Read || mode == OpenMode::ReadWrite) {
        if (!exists) {
            if (missing)
                *missing = true;
            return Status(ErrorCode::Io, "cannot open " + path + ": no such file");
        }
        *out = std::make_unique<MemFile>(this, it->second, path, mode == OpenMode::ReadWrite);
        return Status();
    }
    if (mode == OpenMode::CreateNew && exists)
        return Status(ErrorCode::AlreadyExists, path + " already exists");
    if (dirs_.count(Parent(path)) == 0) {
        if (missing)
            *missing = true;
        return Status(ErrorCode::Io, "cannot create " + path + ": no such directory");
    }
    if (!exists || mode == OpenMode::CreateAlways) {
        Status s = Step(StepKind::Create, path);
        if (!s.ok())
            return s;
        auto node = exists ? it->second : std::make_shared<Node>();
        if (exists)
            node->current.clear(); // an emptied file is as unflushed as any write
        files_[path] = node;
        *out = std::make_unique<MemFile>(this, node, path, true);
        return Status();
    }
    *out = std::make_unique<MemFile>(this, it->second, path, true);
    return Status();
}

Status MemFs::Rename(const std::string& from, const std::string& to) {
    if (dirs_.count(to) != 0)
        return Status(ErrorCode::Io, "cannot rename onto " + to + ": a directory");
    if (dirs_.count(from) != 0)
        return RenameDir(from, to);
    auto it = files_.find(from);
    if (it == files_.end())
        return Status(ErrorCode::Io, "cannot rename " + from + ": no such file");
    Status s = Step(StepKind::Rename, to);
    if (!s.ok())
        return s;
    auto node = it->second;
    files_.erase(it);
    files_[to] = node;
    return Status();
}

// A directory moves with everything in it.
Status MemFs::RenameDir(const std::string& from, const std::string& to) {
    if (files_.count(to) != 0)
        return Status(ErrorCode::Io, "cannot rename onto " + to + ": a file");
    Status s = Step(StepKind::Rename, to);
    if (!s.ok())
        return s;
    const std::string prefix = from + "/";
    auto moved = [&](const std::string& p) { return to + p.substr(from.size()); };
    for (const std::string& path : FilesUnder(from)) {
        files_[moved(path)] = files_[path];
        files_.erase(path);
    }
    std::vector<std::string> dirs;
    for (auto it = dirs_.lower_bound(prefix);
         it != dirs_.end() && it->compare(0, prefix.size(), prefix) == 0; ++it)
        dirs.push_back(*it);
    dirs_.erase(from);
    dirs_.insert(to);
    for (const std::string& d : dirs) {
        dirs_.erase(d);
        dirs_.insert(moved(d));
    }
    return Status();
}

Status MemFs::Remove(const std::string& path) {
    if (files_.count(path) == 0)
        return Status();
    Status s = Step(StepKind::Remove, path);
    if (!s.ok())
        return s;
    files_.erase(path);
    return Status();
}

std::vector<std::string> MemFs::FilesUnder(const std::string& dir) const {
    std::vector<std::string> out;
    const std::string prefix = dir + "/";
    for (auto it = files_.lower_bound(prefix);
         it != files_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        out.push_back(it->first);
    return out;
}

void MemFs::Flatten(const std::string& dir) {
    for (const std::string& path : FilesUnder(dir + "/messages")) {
        const std::string flat = dir + "/messages" + path.substr(path.rfind('/'));
        auto node = files_[path];
        files_.erase(path);
        files_[flat] = node;
    }
}

bool MemFs::Exists(const std::string& path) {
    return files_.count(path) != 0 || dirs_.count(path) != 0;
}

Status MemFs::CreateDir(const std::string& path) {
    if (dirs_.count(path) != 0)
        return Status();
    if (files_.count(path) != 0)
        return Status(ErrorCode::Io, "cannot create directory " + path + ": a file has the name");
    Status s = Step(StepKind::CreateDir, path);
    if (!s.ok())
        return s;
    dirs_.insert(path);
    return Status();
}

Status MemFs::ListDir(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    if (dirs_.count(path) == 0)
        return Status(ErrorCode::Io, "no directory " + path);
    const std::string prefix = path + "/";
    for (auto it = files_.lower_bound(prefix); it != files_.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0)
            break;
        std::string rest = it->first.substr(prefix.size());
        if (rest.find('/') == std::string::npos)
            names->push_back(rest);
    }
    for (auto it = dirs_.lower_bound(prefix);
         it != dirs_.end() && it->compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->find('/', prefix.size()) == std::string::npos)
            names->push_back(it->substr(prefix.size()));
    }
    return Status();
}

Status MemFs::SyncDir(const std::string& path) {
    return Step(StepKind::SyncDir, path);
}

Status MemFs::Lock(const std::string& path, unsigned, std::unique_ptr<FileLock>* out) {
    if (!locks_.insert(path).second)
        return Status(ErrorCode::Busy, "locked: " + path);
    *out = std::make_unique<MemLock>(&locks_, path);
    return Status();
}

} // namespace mailstore::testing
