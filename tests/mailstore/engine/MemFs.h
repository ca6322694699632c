// An in-memory file system that knows which bytes are durable. Every write,
// flush, truncate, rename, removal and directory change is a numbered step at
// which a test can fail the call or make the process "crash"; a crash image is
// what a disk would hold after power loss at that step.
#pragma once

#include "FileSystem.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace mailstore::testing {

// What happens to written but unflushed bytes in a crash image.
enum class Unflushed { Applied, Dropped, Garbled };

class MemFs : public FileSystem {
  public:
    struct Node {
        std::string durable;
        std::string current;
    };

    enum class StepKind { Write, Flush, Truncate, Rename, Remove, CreateDir, Create, SyncDir };

    // Called before step n is carried out.
    std::function<void(uint64_t n, StepKind kind, const std::string& path)> beforeStep;
    // The step with this number fails with an I/O error and changes nothing.
    uint64_t failStep = UINT64_MAX;
    // From this step on the process is dead: every mutating call fails.
    uint64_t crashStep = UINT64_MAX;

    uint64_t steps() const { return steps_; }

    // The disk after a crash now, as a fresh file system.
    // With tornWrite, the write being made at the crash got half its bytes out.
    std::unique_ptr<MemFs> CrashImage(Unflushed mode, uint32_t seed = 1,
                                      bool tornWrite = false) const;
    // Everything written so far, flushed or not (a clean shutdown).
    std::unique_ptr<MemFs> Clone() const;

    // Direct access for tests that damage files.
    std::string* Content(const std::string& path);
    bool Has(const std::string& path) const { return files_.count(path) != 0; }
    // Paths of every file under the directory, at any depth, sorted.
    std::vector<std::string> FilesUnder(const std::string& dir) const;
    // Moves every message file of the store at dir to where stores kept them
    // before sub-directories: straight in messages/.
    void Flatten(const std::string& dir);

    Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out,
                bool* missing = nullptr) override;
    Status Rename(const std::string& from, const std::string& to) override;
    Status Remove(const std::string& path) override;
    bool Exists(const std::string& path) override;
    Status CreateDir(const std::string& path) override;
    Status ListDir(const std::string& path, std::vector<std::string>* names) override;
    Status SyncDir(const std::string& path) override;
    Status Lock(const std::string& path, unsigned timeoutMs,
                std::unique_ptr<FileLock>* out) override;

    // Counts a mutating step; returns an error when it must fail.
    Status Step(StepKind kind, const std::string& path);

  private:
    friend class MemFile;
    Status RenameDir(const std::string& from, const std::string& to);
    std::map<std::string, std::shared_ptr<Node>> files_;
    std::set<std::string> dirs_;
    std::set<std::string> locks_;
    uint64_t steps_ = 0;
    const Node* pendingNode_ = nullptr;
    uint64_t pendingOffset_ = 0;
    std::string_view pendingBytes_;
};

} // namespace mailstore::testing
