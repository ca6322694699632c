// The Win32 file system. Files are opened with full sharing so a reader never
// blocks a writer's rename or delete; sharing violations that other processes
// (or the system's scanners) cause for a moment are retried a bounded number of
// times.
#include "FileSystem.h"

#include <windows.h>

#include <mutex>
#include <string>

namespace mailstore {

namespace {

constexpr int kRetries = 50;
constexpr DWORD kRetryPauseMs = 20;

std::wstring Wide(const std::string& utf8) {
    std::string p = utf8;
    for (char& c : p) {
        if (c == '/')
            c = '\\';
    }
    if (p.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, p.data(), static_cast<int>(p.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, p.data(), static_cast<int>(p.size()), w.data(), n);
    return w;
}

std::string Narrow(const wchar_t* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(static_cast<size_t>(n - 1));
    return s;
}

Status Fail(const std::string& what, const std::string& path, DWORD err) {
    return Status(ErrorCode::Io, what + " " + path + ": Windows error " + std::to_string(err));
}

bool Transient(DWORD err) {
    return err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION;
}

class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr)
            CloseHandle(h_);
    }
    HANDLE get() const { return h_; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h) {
        Handle old(h_);
        h_ = h;
    }

  private:
    HANDLE h_;
};

class FindHandle {
  public:
    explicit FindHandle(HANDLE h) : h_(h) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (h_ != INVALID_HANDLE_VALUE)
            FindClose(h_);
    }
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

// Reads and writes go through the file position rather than an OVERLAPPED
// offset: under Wine an OVERLAPPED costs a round trip to the server per call,
// while seeking is local. The position is tracked so sequential calls never
// seek, and a lock keeps a seek and its transfer together.
class Win32File : public File {
  public:
    Win32File(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}

    Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        std::lock_guard<std::mutex> hold(mutex_);
        *got = 0;
        if (!SeekTo(offset))
            return Fail("cannot read", path_, GetLastError());
        size_t done = 0;
        while (done < len) {
            DWORD n = 0;
            if (!ReadFile(h_.get(), static_cast<char*>(buf) + done, Chunk(len - done), &n,
                          nullptr)) {
                DWORD err = GetLastError();
                known_ = false;
                if (err == ERROR_HANDLE_EOF)
                    break;
                return Fail("cannot read", path_, err);
            }
            pos_ += n;
            if (n == 0)
                break;
            done += n;
        }
        *got = done;
        return Status();
    }

    Status WriteAt(uint64_t offset, const void* buf, size_t len) override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!SeekTo(offset))
            return Fail("cannot write", path_, GetLastError());
        size_t done = 0;
        while (done < len) {
            DWORD n = 0;
            if (!WriteFile(h_.get(), static_cast<const char*>(buf) + done, Chunk(len - done), &n,
                           nullptr)) {
                known_ = false;
                return Fail("cannot write", path_, GetLastError());
            }
            pos_ += n;
            done += n;
        }
        return Status();
    }

    Status Flush() override {
        if (!FlushFileBuffers(h_.get()))
            return Fail("cannot flush", path_, GetLastError());
        return Status();
    }

    Status Size(uint64_t* size) override {
        LARGE_INTEGER li;
        if (!GetFileSizeEx(h_.get(), &li))
            return Fail("cannot query", path_, GetLastError());
        *size = static_cast<uint64_t>(li.QuadPart);
        return Status();
    }

    Status Truncate(uint64_t size) override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!SeekTo(size) || !SetEndOfFile(h_.get()))
            return Fail("cannot truncate", path_, GetLastError());
        return Status();
    }

  private:
    static DWORD Chunk(size_t left) {
        return static_cast<DWORD>(left > (1u << 30) ? (1u << 30) : left);
    }

    bool SeekTo(uint64_t offset) {
        if (known_ && pos_ == offset)
            return true;
        LARGE_INTEGER li;
        li.QuadPart = static_cast<LONGLONG>(offset);
        known_ = SetFilePointerEx(h_.get(), li, nullptr, FILE_BEGIN) != FALSE;
        pos_ = offset;
        return known_;
    }

    Handle h_;
    std::string path_;
    std::mutex mutex_;
    uint64_t pos_ = 0;  // where the handle's position is, when known_
    bool known_ = true; // a new handle starts at 0
};

class Win32Lock : public FileLock {
  public:
    explicit Win32Lock(HANDLE h) : h_(h) {}
    ~Win32Lock() override {
        OVERLAPPED o = {};
        UnlockFileEx(h_.get(), 0, 1, 0, &o);
    }

  private:
    Handle h_;
};

class Win32FileSystem : public FileSystem {
  public:
    Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out,
                bool* missing) override {
        DWORD access = GENERIC_READ;
        DWORD disposition = OPEN_EXISTING;
        switch (mode) {
        case OpenMode::Read:
            break;
        case OpenMode::ReadWrite:
            access |= GENERIC_WRITE;
            break;
        case OpenMode::CreateNew:
            access |= GENERIC_WRITE;
            disposition = CREATE_NEW;
            break;
        case OpenMode::CreateAlways:
            access |= GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case OpenMode::OpenAlways:
            access |= GENERIC_WRITE;
            disposition = OPEN_ALWAYS;
            break;
        }
        const std::wstring w = Wide(path);
        if (missing != nullptr)
            *missing = false;
        for (int attempt = 0;; ++attempt) {
            HANDLE h = CreateFileW(w.c_str(), access,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                *out = std::make_unique<Win32File>(h, path);
                return Status();
            }
            DWORD err = GetLastError();
            if (Transient(err) && attempt < kRetries) {
                Sleep(kRetryPauseMs);
                continue;
            }
            if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS ||
                (mode == OpenMode::CreateNew && err == ERROR_ACCESS_DENIED)) {
                // A name whose file is deleted but still open elsewhere cannot be
                // created again: for the caller that is a taken name.
                return Status(ErrorCode::AlreadyExists, path + " already exists");
            }
            if (missing != nullptr)
                *missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
            return Fail("cannot open", path, err);
        }
    }

    Status Rename(const std::string& from, const std::string& to) override {
        const std::wstring wf = Wide(from), wt = Wide(to);
        for (int attempt = 0;; ++attempt) {
            if (MoveFileExW(wf.c_str(), wt.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return Status();
            DWORD err = GetLastError();
            // A target another handle holds open refuses to be replaced for a moment.
            if ((Transient(err) || err == ERROR_ACCESS_DENIED) && attempt < kRetries) {
                Sleep(kRetryPauseMs);
                continue;
            }
            return Fail("cannot rename " + from + " to", to, err);
        }
    }

    Status Remove(const std::string& path) override {
        const std::wstring w = Wide(path);
        for (int attempt = 0;; ++attempt) {
            if (DeleteFileW(w.c_str()))
                return Status();
            DWORD err = GetLastError();
            if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
                return Status();
            if (Transient(err) && attempt < kRetries) {
                Sleep(kRetryPauseMs);
                continue;
            }
            return Fail("cannot remove", path, err);
        }
    }

    bool Exists(const std::string& path) override {
        return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    Status CreateDir(const std::string& path) override {
        if (!CreateDirectoryW(Wide(path).c_str(), nullptr)) {
            DWORD err = GetLastError();
            if (err != ERROR_ALREADY_EXISTS)
                return Fail("cannot create directory", path, err);
        }
        return Status();
    }

    Status ListDir(const std::string& path, std::vector<std::string>* names) override {
        names->clear();
        WIN32_FIND_DATAW data;
        FindHandle h(FindFirstFileW((Wide(path) + L"\\*").c_str(), &data));
        if (h.get() == INVALID_HANDLE_VALUE)
            return Fail("cannot list", path, GetLastError());
        do {
            std::string name = Narrow(data.cFileName);
            if (name != "." && name != "..")
                names->push_back(std::move(name));
        } while (FindNextFileW(h.get(), &data));
        return Status();
    }

    // Renames are written through and the file system journals its directories.
    Status SyncDir(const std::string&) override { return Status(); }

    bool FilesInParallel() const override { return true; }

    // The lock file is opened without delete sharing, so while it is held nobody
    // can delete or replace it; a process that does not honour sharing (a native
    // one beside Wine) is caught by checking that the path still names it.
    Status Lock(const std::string& path, unsigned timeoutMs,
                std::unique_ptr<FileLock>* out) override {
        const std::wstring w = Wide(path);
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        for (;;) {
            Handle file(INVALID_HANDLE_VALUE);
            Status s = OpenLockFile(w, path, &file);
            if (!s.ok())
                return s;
            DWORD pause = 1;
            for (;;) {
                OVERLAPPED o = {};
                if (LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                               1, 0, &o))
                    break;
                DWORD err = GetLastError();
                if (err != ERROR_LOCK_VIOLATION && err != ERROR_IO_PENDING)
                    return Fail("cannot lock", path, err);
                if (GetTickCount64() >= deadline)
                    return Status(ErrorCode::Busy,
                                  "the store is busy: another process holds " + path);
                Sleep(pause);
                pause = pause < 20 ? pause * 2 : 20;
            }
            if (StillNamed(file.get(), w)) {
                *out = std::make_unique<Win32Lock>(file.release());
                return Status();
            }
            OVERLAPPED o = {};
            UnlockFileEx(file.get(), 0, 1, 0, &o);
        }
    }

  private:
    static Status OpenLockFile(const std::wstring& w, const std::string& path, Handle* out) {
        for (int attempt = 0;; ++attempt) {
            HANDLE h = CreateFileW(w.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                out->reset(h);
                return Status();
            }
            DWORD err = GetLastError();
            // A deleter that holds the file open for a moment shows as a sharing violation.
            if ((!Transient(err) && err != ERROR_ACCESS_DENIED) || attempt >= kRetries)
                return Fail("cannot open lock file", path, err);
            Sleep(kRetryPauseMs);
        }
    }

    static bool StillNamed(HANDLE locked, const std::wstring& w) {
        Handle now(CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        BY_HANDLE_FILE_INFORMATION a, b;
        return now.get() != INVALID_HANDLE_VALUE && GetFileInformationByHandle(locked, &a) &&
               GetFileInformationByHandle(now.get(), &b) &&
               a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    }
};

} // namespace

FileSystem& DefaultFileSystem() {
    static Win32FileSystem fs;
    return fs;
}

} // namespace mailstore
