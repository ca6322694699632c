// The platform's own cost of a message file, without the store: the file work
// of an import (create a new file, write it; at the end of every 200, flush and
// close them on four threads; 256 files to a sub-directory, as the store lays
// them out) and of `check` (open, size, read, close each of those files, on
// four threads). Built
// natively and for Windows from this one source, so the Wine-to-native ratio of
// the store's import and check can be read beside the platform's.
// Usage: file_floor DIR COUNT [FIRST]. Writes files FIRST (default 1) to
// FIRST + COUNT - 1, so a run can continue a DIR an earlier run filled, as one
// import slice continues a store; DIR is made when missing and left for the
// caller to remove (after every timing, as deleting many files slows creating
// more). Prints "files COUNT write SECONDS read SECONDS".
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

#ifdef _WIN32
using Native = HANDLE;
const Native kNone = INVALID_HANDLE_VALUE;

Native Create(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
Native OpenRead(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
bool Write(Native h, const std::string& bytes) {
    DWORD n = 0;
    return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
           n == bytes.size();
}
bool Flush(Native h) {
    return FlushFileBuffers(h) != FALSE;
}
bool ReadAll(Native h, std::string* buf) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size))
        return false;
    buf->resize(static_cast<size_t>(size.QuadPart));
    DWORD n = 0;
    return ReadFile(h, buf->data(), static_cast<DWORD>(buf->size()), &n, nullptr) &&
           n == buf->size();
}
void Close(Native h) {
    CloseHandle(h);
}
bool MakeDir(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
bool SyncDir(const std::string&) {
    return true; // as the store: renames are written through, directories journalled
}
#else
using Native = int;
const Native kNone = -1;

Native Create(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}
Native OpenRead(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}
bool Write(Native fd, const std::string& bytes) {
    return ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
}
bool Flush(Native fd) {
    return ::fsync(fd) == 0;
}
bool ReadAll(Native fd, std::string* buf) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    buf->resize(static_cast<size_t>(st.st_size));
    return ::pread(fd, buf->data(), buf->size(), 0) == static_cast<ssize_t>(buf->size());
}
void Close(Native fd) {
    ::close(fd);
}
bool MakeDir(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}
bool SyncDir(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}
#endif

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "file_floor: %s\n", what.c_str());
    std::exit(1);
}

std::string Hex(unsigned long long v, int width) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*llx", width, v);
    return buf;
}

std::string Shard(const std::string& dir, size_t no) {
    return dir + "/messages/" + Hex(no >> 16, 2) + "/" + Hex((no >> 8) & 0xff, 2);
}

std::string FilePath(const std::string& dir, size_t no) {
    return Shard(dir, no) + "/" + Hex(no, 16) + ".eml";
}

// Calls work(i) for every i below count on four threads, as the store does.
void InLanes(size_t count, const std::function<void(size_t)>& work) {
    constexpr size_t kLanes = 4;
    std::vector<std::thread> helpers;
    auto lane = [&](size_t k) {
        for (size_t i = k; i < count; i += kLanes)
            work(i);
    };
    for (size_t k = 1; k < kLanes; ++k)
        helpers.emplace_back(lane, k);
    lane(0);
    for (std::thread& t : helpers)
        t.join();
}

// Open handles, flushed and closed together, as the store does with a batch.
class Pending {
  public:
    Pending() = default;
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending() { FlushAndClose(); }
    void Add(Native h) { open_.push_back(h); }
    size_t size() const { return open_.size(); }
    bool FlushAndClose() {
        std::vector<char> ok(open_.size(), 0);
        InLanes(open_.size(), [&](size_t i) {
            ok[i] = Flush(open_[i]);
            Close(open_[i]);
        });
        open_.clear();
        return std::find(ok.begin(), ok.end(), 0) == ok.end();
    }

  private:
    std::vector<Native> open_;
};

void WriteAll(const std::string& dir, size_t first, size_t count, const std::string& bytes) {
    if (!MakeDir(dir) || !MakeDir(dir + "/messages"))
        Die("cannot create " + dir);
    Pending pending;
    const size_t end = first + count;
    for (size_t no = first; no < end; ++no) {
        if (no == first || (no & 0xff) == 0) {
            if (!MakeDir(dir + "/messages/" + Hex(no >> 16, 2)) || !MakeDir(Shard(dir, no)))
                Die("cannot create the sub-directory of file " + std::to_string(no));
        }
        const Native h = Create(FilePath(dir, no));
        if (h == kNone)
            Die("cannot create " + FilePath(dir, no));
        pending.Add(h);
        if (!Write(h, bytes))
            Die("cannot write " + FilePath(dir, no));
        const bool batchEnd = (no - first + 1) % 200 == 0 || no + 1 == end;
        if (batchEnd && !pending.FlushAndClose())
            Die("cannot flush");
        if (batchEnd && !SyncDir(Shard(dir, no)))
            Die("cannot flush the directory of file " + std::to_string(no));
    }
}

void ReadBack(const std::string& dir, size_t first, size_t count, size_t expected) {
    std::vector<char> ok(count, 0);
    InLanes(count, [&](size_t i) {
        const Native h = OpenRead(FilePath(dir, first + i));
        std::string buf;
        ok[i] = h != kNone && ReadAll(h, &buf) && buf.size() == expected;
        if (h != kNone)
            Close(h);
    });
    if (std::find(ok.begin(), ok.end(), 0) != ok.end())
        Die("cannot read every file back");
}

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4)
        return std::fprintf(stderr, "usage: file_floor DIR COUNT [FIRST]\n"), 2;
    const std::string dir = argv[1];
    const size_t count = std::strtoul(argv[2], nullptr, 10);
    const size_t first = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 1;
    if (count == 0 || first == 0)
        return std::fprintf(stderr, "file_floor: COUNT and FIRST must be above 0\n"), 2;
    // About the mean size of the benchmark's generated messages.
    const std::string bytes(900, 'x');
    auto t = std::chrono::steady_clock::now();
    WriteAll(dir, first, count, bytes);
    const double write = Since(t);
    t = std::chrono::steady_clock::now();
    ReadBack(dir, first, count, bytes.size());
    std::printf("files %zu write %.3f read %.3f\n", count, write, Since(t));
    return 0;
}
