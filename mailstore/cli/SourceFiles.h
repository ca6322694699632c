// The user's files an import reads and an export leaves. Only regular files are
// opened, and never in a way that could wait (a FIFO or a device is refused, not
// read); every failure carries the system's reason in words. Paths are UTF-8
// with '/'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore::cli {

enum class EntryKind {
    Missing,
    Regular,
    Directory,
    Special,    // a FIFO, socket or device: never read
    Unreadable, // the system refused to say
};

struct EntryInfo {
    EntryKind kind = EntryKind::Missing;
    uint64_t size = 0;  // Regular only
    std::string reason; // Missing, Unreadable: the system's words; Special: what it is
};

EntryInfo Probe(const std::string& path);

// dir/name, with the separator the user wrote dir with.
std::string JoinPath(const std::string& dir, const std::string& name);

// Entry names of a directory, sorted, without "." and "..".
bool ListDirectory(const std::string& path, std::vector<std::string>* names, std::string* reason);

// Gives the file `from` the name `to` only if nothing has that name yet, in one
// step, so a file that appears meanwhile is never replaced (*taken then).
bool MoveToFreeName(const std::string& from, const std::string& to, bool* taken,
                    std::string* reason);

// Differs between runs of the tool, those at the same time too: part of the
// names of the files one run writes before they are complete.
std::string RunToken();
// RunToken's text from the process id and clocks mixed into `seed`.
std::string TokenText(uint64_t seed);

class SourceFile {
  public:
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
    ~SourceFile();

    // Opens a regular file for reading. Anything else is refused at once,
    // with *special set and *reason saying what it is.
    static std::unique_ptr<SourceFile> Open(const std::string& path, bool* special,
                                            std::string* reason);

    // Reads up to len bytes; *got is 0 only at the end of the file.
    bool Read(char* buf, size_t len, size_t* got, std::string* reason);
    uint64_t size() const { return size_; }
    // Last modification, as a FILETIME; 0 when the system gave none.
    uint64_t modified() const { return modified_; }

  private:
    SourceFile() = default;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    uint64_t size_ = 0;
    uint64_t modified_ = 0;
};

} // namespace mailstore::cli
