// The one door through which the engine touches files. Everything the store does
// on disk goes through here, so tests can crash or fail any single write or flush
// and the Windows build can use its own sharing and retry rules.
// Paths are UTF-8 and use '/' as the separator; implementations convert.
#pragma once

#include "Status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mailstore {

class File {
  public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    virtual ~File() = default;

    // Reads up to len bytes at offset; *got is less than len only at the end of file.
    virtual Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) = 0;
    // Writes all len bytes at offset (files opened for writing only).
    virtual Status WriteAt(uint64_t offset, const void* buf, size_t len) = 0;
    // Makes every write so far durable.
    virtual Status Flush() = 0;
    virtual Status Size(uint64_t* size) = 0;
    // Cuts or extends the file; durable only after Flush.
    virtual Status Truncate(uint64_t size) = 0;
};

// A held cross-process lock; released when destroyed.
class FileLock {
  public:
    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    virtual ~FileLock() = default;
};

enum class OpenMode {
    Read,         // existing file, read only
    ReadWrite,    // existing file
    CreateNew,    // fails with AlreadyExists if the name exists
    CreateAlways, // creates or empties
    OpenAlways,   // opens or creates, keeps content
};

class FileSystem {
  public:
    FileSystem() = default;
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;
    virtual ~FileSystem() = default;

    // Missing files give ErrorCode::NotAStore only from Store; here they give Io
    // with *missing set when the caller passed it.
    virtual Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out,
                        bool* missing = nullptr) = 0;
    // Replaces the target if it exists; durable once SyncDir of its directory returns.
    virtual Status Rename(const std::string& from, const std::string& to) = 0;
    virtual Status Remove(const std::string& path) = 0;
    virtual bool Exists(const std::string& path) = 0;
    // Creates one directory level; succeeds if it already exists.
    virtual Status CreateDir(const std::string& path) = 0;
    // Names (not paths) of the entries of a directory, without "." and "..".
    virtual Status ListDir(const std::string& path, std::vector<std::string>* names) = 0;
    // Makes creations, renames and removals in the directory durable.
    virtual Status SyncDir(const std::string& path) = 0;
    // Takes the exclusive lock on the file (created if needed), and makes sure the
    // path still names the locked file, so deleting or replacing it cannot let a
    // second writer in. Gives up with ErrorCode::Busy after timeoutMs milliseconds.
    virtual Status Lock(const std::string& path, unsigned timeoutMs,
                        std::unique_ptr<FileLock>* out) = 0;
    // Whether different files may be opened, read, flushed and closed from
    // several threads at once (each File by one thread at a time). Test file
    // systems that number their steps keep one thread, so steps stay in order.
    virtual bool FilesInParallel() const { return false; }
};

// The platform's real file system (POSIX or Win32, chosen at build time).
FileSystem& DefaultFileSystem();

// Calls work(i) for every i below count, on a few threads at once where the
// file system allows (work must then touch only item i's state): work on many
// files mostly waits for the disk, or under Wine for its server, not for the
// processor. Returns once every call has returned; an exception from work is
// thrown again then, on the caller's thread.
void RunInLanes(FileSystem& fs, size_t count, const std::function<void(size_t)>& work);

// Flushes and closes every file in *files (left empty), several at once where
// the file system allows. The first failure is returned, and only after every
// file is flushed or has failed.
Status FlushAndClose(FileSystem& fs, std::vector<std::unique_ptr<File>>* files);

// Opens an existing file for reading and gives its size; *missing as for Open.
Status OpenToRead(FileSystem& fs, const std::string& path, std::unique_ptr<File>* out,
                  uint64_t* size, bool* missing = nullptr);

} // namespace mailstore
