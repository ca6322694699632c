#include "SourceFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mailstore::cli {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

uint64_t FileTimeOf(const struct stat& st) {
    const int64_t secs = static_cast<int64_t>(st.st_mtim.tv_sec) + 11644473600ll;
    if (secs <= 0)
        return 0;
    return static_cast<uint64_t>(secs) * 10000000ull +
           static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100u;
}

const char* SpecialKind(mode_t mode) {
    if (S_ISFIFO(mode))
        return "a FIFO (named pipe), not a file";
    if (S_ISSOCK(mode))
        return "a socket, not a file";
    return "a device, not a file";
}

} // namespace

EntryInfo Probe(const std::string& path) {
    EntryInfo info;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        info.kind =
            (errno == ENOENT || errno == ENOTDIR) ? EntryKind::Missing : EntryKind::Unreadable;
        info.reason = Reason(errno);
    } else if (S_ISREG(st.st_mode)) {
        info.kind = EntryKind::Regular;
        info.size = static_cast<uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
        info.kind = EntryKind::Directory;
    } else {
        info.kind = EntryKind::Special;
        info.reason = SpecialKind(st.st_mode);
    }
    return info;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool ListDirectory(const std::string& path, std::vector<std::string>* names, std::string* reason) {
    names->clear();
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        *reason = Reason(errno);
        return false;
    }
    errno = 0;
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names->emplace_back(e->d_name);
        errno = 0;
    }
    const int error = errno;
    closedir(dir);
    if (error != 0) {
        *reason = Reason(error);
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

bool MoveToFreeName(const std::string& from, const std::string& to, bool* taken,
                    std::string* reason) {
    *taken = false;
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // Some file systems cannot do it in one call; a hard link cannot replace either.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        *taken = errno == EEXIST;
        *reason = Reason(errno);
        return false;
    }
#endif
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) {
        *taken = errno == EEXIST;
        *reason = Reason(errno);
        return false;
    }
    // No links either (FAT): look first, the best such a file system allows.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        *taken = true;
        *reason = Reason(EEXIST);
        return false;
    }
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    *reason = Reason(errno);
    return false;
}

std::string RunToken() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t x =
        (static_cast<uint64_t>(getpid()) << 40) ^
        (static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec));
    return TokenText(x);
}

SourceFile::~SourceFile() {
    if (fd_ >= 0)
        close(fd_);
}

std::unique_ptr<SourceFile> SourceFile::Open(const std::string& path, bool* special,
                                             std::string* reason) {
    *special = false;
    // Non-blocking: opening a FIFO must not wait for a writer.
    std::unique_ptr<SourceFile> f(new SourceFile());
    f->fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (f->fd_ < 0) {
        *reason = Reason(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(f->fd_, &st) != 0) {
        *reason = Reason(errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        *reason = Reason(EISDIR);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *special = true;
        *reason = SpecialKind(st.st_mode);
        return nullptr;
    }
    f->size_ = static_cast<uint64_t>(st.st_size);
    f->modified_ = FileTimeOf(st);
    posix_fadvise(f->fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return f;
}

bool SourceFile::Read(char* buf, size_t len, size_t* got, std::string* reason) {
    for (;;) {
        const ssize_t n = read(fd_, buf, len);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return true;
        }
        if (errno != EINTR) {
            *reason = Reason(errno);
            return false;
        }
    }
}

} // namespace mailstore::cli
