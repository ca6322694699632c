// The POSIX file system: plain descriptors, fsync for durability, and locks held
// per open file (flock, open file description locks), so two stores in one
// process exclude each other too.
#include "FileSystem.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mailstore {

namespace {

Status Fail(const std::string& what, const std::string& path, int err) {
    return Status(ErrorCode::Io, what + " " + path + ": " + std::strerror(err));
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

class PosixFile : public File {
  public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        size_t done = 0;
        while (done < len) {
            ssize_t n = ::pread(fd_.get(), static_cast<char*>(buf) + done, len - done,
                                static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return Fail("cannot read", path_, errno);
            }
            if (n == 0)
                break;
            done += static_cast<size_t>(n);
        }
        *got = done;
        return Status();
    }

    Status WriteAt(uint64_t offset, const void* buf, size_t len) override {
        size_t done = 0;
        while (done < len) {
            ssize_t n = ::pwrite(fd_.get(), static_cast<const char*>(buf) + done, len - done,
                                 static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return Fail("cannot write", path_, errno);
            }
            done += static_cast<size_t>(n);
        }
        return Status();
    }

    Status Flush() override {
        if (::fsync(fd_.get()) != 0)
            return Fail("cannot flush", path_, errno);
        return Status();
    }

    Status Size(uint64_t* size) override {
        struct stat st;
        if (::fstat(fd_.get(), &st) != 0)
            return Fail("cannot query", path_, errno);
        *size = static_cast<uint64_t>(st.st_size);
        return Status();
    }

    Status Truncate(uint64_t size) override {
        if (::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0)
            return Fail("cannot truncate", path_, errno);
        return Status();
    }

  private:
    Fd fd_;
    std::string path_;
};

// Native writers exclude each other with flock on the store directory, which
// nobody can swap while the store lives there. The byte-range lock on the lock
// file is the one Windows programs under Wine take (wineserver turns LockFileEx
// into a POSIX record lock), so native and Windows writers exclude each other.
class PosixLock : public FileLock {
  public:
    PosixLock(std::unique_ptr<Fd> dir, std::unique_ptr<Fd> file)
        : dir_(std::move(dir)), file_(std::move(file)) {}

  private:
    // Closing the descriptors releases both locks.
    std::unique_ptr<Fd> dir_;
    std::unique_ptr<Fd> file_;
};

std::string ParentDir(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Whether path still names the file open as fd.
bool StillNamed(int fd, const std::string& path) {
    struct stat a, b;
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// Retries `attempt` (true: got it; false with errno EWOULDBLOCK/EAGAIN/EACCES/EINTR:
// held by someone else) until the deadline.
template <typename F>
Status Retry(F attempt, const std::string& path, std::chrono::steady_clock::time_point deadline) {
    unsigned pause = 1;
    while (!attempt()) {
        if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EACCES && errno != EINTR)
            return Fail("cannot lock", path, errno);
        if (std::chrono::steady_clock::now() >= deadline)
            return Status(ErrorCode::Busy, "the store is busy: another process holds " + path);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        pause = pause < 20 ? pause * 2 : 20;
    }
    return Status();
}

class PosixFileSystem : public FileSystem {
  public:
    Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out,
                bool* missing) override {
        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        case OpenMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            break;
        case OpenMode::CreateAlways:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        case OpenMode::OpenAlways:
            flags |= O_RDWR | O_CREAT;
            break;
        }
        int fd;
        do {
            fd = ::open(path.c_str(), flags, 0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            if (missing != nullptr)
                *missing = errno == ENOENT;
            if (errno == EEXIST)
                return Status(ErrorCode::AlreadyExists, path + " already exists");
            return Fail("cannot open", path, errno);
        }
        if (missing != nullptr)
            *missing = false;
        *out = std::make_unique<PosixFile>(fd, path);
        return Status();
    }

    Status Rename(const std::string& from, const std::string& to) override {
        if (::rename(from.c_str(), to.c_str()) != 0)
            return Fail("cannot rename " + from + " to", to, errno);
        return Status();
    }

    Status Remove(const std::string& path) override {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return Fail("cannot remove", path, errno);
        return Status();
    }

    bool Exists(const std::string& path) override {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }

    Status CreateDir(const std::string& path) override {
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
            return Fail("cannot create directory", path, errno);
        return Status();
    }

    Status ListDir(const std::string& path, std::vector<std::string>* names) override {
        names->clear();
        DIR* d = ::opendir(path.c_str());
        if (d == nullptr)
            return Fail("cannot list", path, errno);
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names->emplace_back(e->d_name);
        }
        ::closedir(d);
        return Status();
    }

    Status SyncDir(const std::string& path) override {
        Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0)
            return Fail("cannot open directory", path, errno);
        if (::fsync(fd.get()) != 0)
            return Fail("cannot flush directory", path, errno);
        return Status();
    }

    bool FilesInParallel() const override { return true; }

    Status Lock(const std::string& path, unsigned timeoutMs,
                std::unique_ptr<FileLock>* out) override {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const std::string dir = ParentDir(path);
        auto dirFd = std::make_unique<Fd>(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dirFd->get() < 0)
            return Fail("cannot open store directory", dir, errno);
        Status s =
            Retry([&] { return ::flock(dirFd->get(), LOCK_EX | LOCK_NB) == 0; }, path, deadline);
        if (!s.ok())
            return s;
        for (;;) {
            auto file =
                std::make_unique<Fd>(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
            if (file->get() < 0)
                return Fail("cannot open lock file", path, errno);
            struct flock range = {};
            range.l_type = F_WRLCK;
            range.l_whence = SEEK_SET;
            range.l_start = 0;
            range.l_len = 1;
            s = Retry([&] { return ::fcntl(file->get(), F_OFD_SETLK, &range) == 0; }, path,
                      deadline);
            if (!s.ok())
                return s;
            // A lock file deleted or replaced meanwhile locks nothing: take the new one.
            if (StillNamed(file->get(), path)) {
                *out = std::make_unique<PosixLock>(std::move(dirFd), std::move(file));
                return Status();
            }
        }
    }
};

} // namespace

FileSystem& DefaultFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

} // namespace mailstore
