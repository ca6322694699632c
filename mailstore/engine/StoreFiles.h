// The store directory's layout: the names of its files, where each message's
// source lives, and the file work every part of the store shares (whole reads,
// flushed writes, listing message files, setting files aside).
#pragma once

#include "FileSystem.h"
#include "Journal.h"
#include "State.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace mailstore::detail {

constexpr const char* kSnapshotName = "snapshot.bin";
constexpr const char* kJournalName = "journal.bin";
constexpr const char* kLockName = "lock";
constexpr const char* kIntentName = "intent.bin";
constexpr const char* kSetAsideDir = "set-aside";
constexpr uint64_t kMaxMessageSize = 0xFFFFFFFFull;
// The directory all message files are in.
constexpr const char* kMessagesDir = "messages";

// Where a message's source lives, relative to the store directory. Every path
// of a message file comes from here. Files go into sub-directories of 256
// numbers, grouped again by 256, so directories stay small (a lookup of a name
// that is not there yet scans the directory under some systems) and
// consecutive files fill one directory at a time.
std::string MessageFilePath(uint64_t fileNo);
// The sub-directory MessageFilePath puts the file in, and the one above it.
std::string MessageShardPath(uint64_t fileNo);
std::string MessageShardParent(uint64_t fileNo);
// Where stores written before the sub-directories keep the file.
std::string FlatMessageFilePath(uint64_t fileNo);
std::string MessageFileName(uint64_t fileNo);
// Parses "<16 hex>.eml"; false for any other name.
bool ParseMessageFileName(std::string_view name, uint64_t* fileNo);

// Parses a message file name in any letter case ("...2A.EML"); false for others.
bool ParseMessageFileNameAnyCase(std::string_view name, uint64_t* fileNo);

// A message file found on disk: in its sub-directory, or where stores kept
// every file before there were sub-directories.
struct FoundFile {
    uint64_t no = 0;
    bool flat = false;
    std::string Rel() const {
        return flat ? detail::FlatMessageFilePath(no) : detail::MessageFilePath(no);
    }
    std::string Path(const std::string& dir) const { return dir + "/" + Rel(); }
    bool operator<(const FoundFile& o) const { return no < o.no || (no == o.no && flat < o.flat); }
};

// What the store knows about message files no record accounts for.
struct Evidence {
    std::unordered_set<uint64_t> ours; // this process wrote them for a change that is not in
    const State* state = nullptr;      // its deletes since the snapshot say what they let go
};

enum class Fate { Remove, SetAside };

struct Survey {
    bool storeFiles = false;   // any of kStoreNames
    bool otherFiles = false;   // anything else
    bool messageFiles = false; // anything in messages/ or set-aside/
    std::string description;   // what is there, for a person
};

bool IsDirectory(FileSystem& fs, const std::string& path);
// What a read of one of the store's own files failed with, told plainly when
// a directory took its name.
Status StoreFileError(FileSystem& fs, const std::string& path, Status s);
// Like ReadWhole, into memory that is not cleared first: snapshots are large.
Status ReadWholeRaw(FileSystem& fs, const std::string& path, std::unique_ptr<char[]>* out,
                    size_t* size, bool* missing);
Status ReadWhole(FileSystem& fs, const std::string& path, std::string* out, bool* missing);
// Creates or empties the file at path, writes bytes and flushes them; the file
// is closed again on return.
Status WriteFlushedFile(FileSystem& fs, const std::string& path, std::string_view bytes);
// Writes a whole new file under a temporary name, flushes it and renames it over
// path, so readers see the old file or the new one, never a part.
Status ReplaceFile(FileSystem& fs, const std::string& dir, const std::string& name,
                   std::string_view bytes);
// Writes state as snapshot generation gen and an empty journal that continues
// it. *snapshotIn tells whether the new snapshot is in place: from then on the
// old journal is stale, its records being in the snapshot.
Status WriteGeneration(FileSystem& fs, const std::string& dir, const State& state, uint64_t gen,
                       bool* snapshotIn);
std::unordered_set<uint64_t> FilesInUse(const State& state);
std::string PathOfMessage(const std::string& dir, uint64_t fileNo);
// The message files present, by number; other names, and files in a
// sub-directory their number does not go in, are left alone.
Status ListMessageFiles(FileSystem& fs, const std::string& dir, std::vector<FoundFile>* out);
// What lies under messages/ that is not where or as the store names it: a
// message file's name in other letter case or in another sub-directory
// (`numbered`, with the number it names), or a name the store never gives.
struct Stranger {
    std::string rel; // from the store directory
    bool numbered = false;
    uint64_t no = 0;
};
void ListStrangers(FileSystem& fs, const std::string& dir, std::vector<Stranger>* out);
// Whether message file `no` is there under the very name the store gives it
// (where names ignore letter case, Exists alone cannot tell).
bool NamedAsTheStoreNames(FileSystem& fs, const std::string& dir, uint64_t no);
// Opens message file `no` wherever it is; *rel says where (from the store directory).
Status OpenMessageFile(FileSystem& fs, const std::string& dir, uint64_t no,
                       std::unique_ptr<File>* out, uint64_t* size, bool* missing, std::string* rel);
// ReadWhole of message file `no`, wherever it is.
Status ReadMessageFile(FileSystem& fs, const std::string& dir, uint64_t no, std::string* out,
                       bool* missing, std::string* rel);
bool MessageFileExists(FileSystem& fs, const std::string& dir, uint64_t no);
Status RemoveMessageFile(FileSystem& fs, const std::string& dir, uint64_t no);
// Makes the sub-directory of file `no` exist durably.
Status MakeShardDir(FileSystem& fs, const std::string& dir, uint64_t no);
// The one rule for a message file no record accounts for, proven by the store's
// own records, never by file times or the clock: it is removed only when this
// process wrote it for a change that did not commit, or when it holds exactly
// what a committed delete let go. (A batch a crash cut short is proven by its
// intent, see ResolveIntent.) Anything else is kept, set aside.
Fate Decide(FileSystem& fs, const std::string& dir, const FoundFile& file, const Evidence& ev);
// A file under a number of a batch whose intent still holds. The intent cannot
// tell a batch a writer never finished from one a store committed before a
// backup of its journal and intent was restored over it: both leave the very
// bytes the intent names. So such a file is removed only when a committed
// message whose file is intact holds the same bytes (a copy's leftover: removing
// it loses nothing); every other is set aside.
class LeftoverJudge {
  public:
    LeftoverJudge(FileSystem& fs, const std::string& dir, const Intent& intent, const State& state)
        : fs_(fs), dir_(dir), intent_(intent), state_(state) {}
    // *why, when given, says what the file is and what the next open does with it.
    Fate Judge(const FoundFile& file, std::string* why);

  private:
    const MessageRec* SameBytes(uint64_t size, uint64_t checksum, FolderId* folder);

    FileSystem& fs_;
    const std::string& dir_;
    const Intent& intent_;
    const State& state_;
    bool indexed_ = false;
    std::unordered_multimap<uint64_t, std::pair<const MessageRec*, FolderId>> byChecksum_;
};

// Moves a message file into the set-aside folder under a name no other file
// there ever had: its own number, then the store's position (generation and
// journal end, which only grow), then a count. *where is the new path from the
// store directory.
Status SetAsideFile(FileSystem& fs, const std::string& dir, const FoundFile& file,
                    uint64_t generation, uint64_t journalEnd, std::string* where);
// The message number a set-aside file had; false for names the store did not give.
bool ParseSetAsideName(const std::string& name, uint64_t* no);
Survey SurveyDir(FileSystem& fs, const std::string& dir);

} // namespace mailstore::detail
