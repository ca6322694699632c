// The mail store engine: folders, messages and their sources in one directory.
//
// On disk: an append-only checksummed journal of committed changes, a snapshot it
// is compacted into now and then, and one file per message source. Every change
// returns only after it is durable; a crash at any moment leaves every
// acknowledged change in place and nothing of the one in flight.
//
// Several processes may open one store. Changes are serialised by a file lock;
// Refresh() picks up what other processes committed and queues the same change
// events the process's own changes produce.
//
// A Store object is not thread-safe: use it from one thread at a time.
#pragma once

#include "FileSystem.h"
#include "Status.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore {

using FolderId = uint32_t;
using MessageId = uint32_t;

constexpr FolderId kRootFolder = 0;

// Message state bits.
constexpr uint32_t kStateUnread = 0x0002;
constexpr uint32_t kStateFlagged = 0x0800;
constexpr uint32_t kKnownStateBits = kStateUnread | kStateFlagged;

// Priorities.
constexpr uint32_t kPriorityHigh = 1;
constexpr uint32_t kPriorityNormal = 3;
constexpr uint32_t kPriorityLow = 5;

// Folder types: -1 for ordinary folders, 0..4 for the five special folders that
// every new store has at the top level.
constexpr int32_t kFolderNormal = -1;
constexpr int32_t kFolderInbox = 0;
constexpr int32_t kFolderOutbox = 1;
constexpr int32_t kFolderSent = 2;
constexpr int32_t kFolderDeleted = 3;
constexpr int32_t kFolderDrafts = 4;

constexpr size_t kMaxFolderNameBytes = 255;

// InvalidName for a name no folder may have (what a create or rename checks first).
Status ValidateFolderName(std::string_view name);

struct FolderInfo {
    FolderId id = 0;
    FolderId parent = 0;
    std::string name; // UTF-8; empty for the root
    int32_t type = kFolderNormal;
    uint32_t subFolderCount = 0; // direct sub-folders
    uint32_t messageCount = 0;
    uint32_t unreadCount = 0;
};

struct MessageInfo {
    MessageId id = 0;
    FolderId folder = 0;
    uint32_t state = 0;    // kStateUnread | kStateFlagged
    uint32_t priority = 3; // 1, 3 or 5
    uint64_t received = 0; // FILETIME: 100 ns ticks since 1601-01-01 UTC
    uint64_t sent = 0;     // FILETIME; 0 when the message had no usable Date
    uint32_t size = 0;     // bytes of source
    std::string subject;   // UTF-8, decoded
    std::string to;        // display names joined with "; "
    std::string from;      // display name, or the address when there is none
};

// Streams one message's source. Stays valid while the Store lives, even if the
// message is deleted or moved meanwhile.
class MessageReader {
  public:
    MessageReader() = default;
    MessageReader(const MessageReader&) = delete;
    MessageReader& operator=(const MessageReader&) = delete;
    virtual ~MessageReader() = default;

    virtual uint64_t Size() const = 0;
    // Reads up to len bytes at offset; *got < len only at the end.
    virtual Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) = 0;
};

enum class EventKind {
    FolderCreated,       // folder = new folder, newParent = its parent
    FolderRenamed,       // folder
    FolderMoved,         // folder, oldParent, newParent
    FolderDeleted,       // folder (sub-folders go with it, no events of their own), oldParent
    MessageAdded,        // folder, message
    MessageDeleted,      // folder, message (also the source side of a move)
    MessageMarkedRead,   // folder, message, or allMessages
    MessageMarkedUnread, // folder, message, or allMessages
    MessageFlagChanged,  // folder, message; flagged tells the new state
    FolderCountsChanged, // folder: message or unread count changed; unreadChanged says which
};

struct ChangeEvent {
    EventKind kind = EventKind::FolderCountsChanged;
    FolderId folder = 0;
    MessageId message = 0;
    FolderId oldParent = 0;
    FolderId newParent = 0;
    bool allMessages = false;   // mark-all form: no single message id
    bool unreadChanged = false; // FolderCountsChanged: the unread count changed
    bool flagged = false;       // MessageFlagChanged
};

const char* EventKindName(EventKind kind);

struct OpenOptions {
    bool create = false; // create a store in a missing or empty directory (never over store files)
    FileSystem* fs = nullptr;                // nullptr: DefaultFileSystem()
    unsigned lockTimeoutMs = 10000;          // how long a change waits for another writer
    std::function<uint64_t()> clock;         // FILETIME "now" for imports; default: system clock
    uint64_t compactJournalBytes = 8u << 20; // journal size after which a change compacts
    // Files a committed delete lets go wait for RemoveLetGoFiles instead of being
    // removed inside the change, so a big delete returns once it is durable. Any
    // left at close are removed by the next compaction, as after a crash.
    bool removeLetGoFilesLater = false;
};

struct ImportItem {
    std::string_view source;       // the message bytes, kept as given
    std::optional<uint32_t> state; // default: unread
    // Received time. Default, the first known of: the newest Received: date,
    // `delivered`, the Date: header, `fileModified`, now.
    std::optional<uint64_t> received;
    std::optional<uint64_t> delivered;    // when it reached the mailbox it comes from
    std::optional<uint64_t> fileModified; // last change of the file it was read from
};

// What `mailstore check` and Store::Check find.
struct CheckReport {
    bool ok = true;
    std::vector<std::string> problems; // one line each: file, offset, what
    uint64_t folders = 0;
    uint64_t messages = 0;
    uint64_t journalRecords = 0;
    uint64_t tornTailBytes = 0;        // a torn tail is dropped at open, not a problem
    uint64_t orphanFiles = 0;          // files in messages/ that no record references
    std::vector<std::string> setAside; // paths (from the store directory) of kept files
    // Message files no record names that the store will remove, and why (a
    // crash's leftover): not damage, but not a sound store either.
    std::vector<std::string> unaccounted;
    // Nothing to report: no damage, nothing set aside, every file accounted for.
    bool clean() const { return ok && setAside.empty() && unaccounted.empty(); }
};

// What Store::Recover did, one line per file or record.
struct RecoverReport {
    std::vector<std::string> actions;
    uint64_t recovered = 0; // message files brought back into a folder
};

class Store {
  public:
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store();

    // Opens (or with options.create, creates) the store in dir. A damaged journal
    // or snapshot fails with ErrorCode::Corrupt naming the file and byte offset.
    static Status Open(const std::string& dir, const OpenOptions& options,
                       std::unique_ptr<Store>* out);

    // Read-only consistency check of a store directory; reads every file.
    static Status Check(const std::string& dir, FileSystem* fs, CheckReport* report);

    // Brings every message file the records do not account for (set aside, or
    // left in messages/) back into the store, into the folder a record names or
    // else into "Recovered", drops records whose file is gone, and writes a fresh
    // snapshot and journal. Works on a store open refuses as damaged.
    static Status Recover(const std::string& dir, FileSystem* fs, RecoverReport* report);

    // Files this object moved aside (paths from the store directory) since it
    // was opened; nothing is ever deleted that a committed change did not let go.
    const std::vector<std::string>& SetAsideFiles() const;

    const std::string& Directory() const;

    // ---- Queries (on the state as of the last change or Refresh) ----------------

    // Direct children of a folder, ascending id. parent may be kRootFolder.
    Status GetChildren(FolderId parent, std::vector<FolderId>* out) const;
    // The first child of `parent` with an id above `after`, or 0 when there is
    // none; without copying the list, so walking a folder's children one by one
    // costs no more than walking them at once.
    Status NextChild(FolderId parent, FolderId after, FolderId* out) const;
    // Props of a folder; the root gives id 0, empty name, type -1.
    Status GetFolder(FolderId folder, FolderInfo* out) const;
    // A child by exact name.
    Status FindChild(FolderId parent, std::string_view name, FolderId* out) const;
    // Resolves "Inbox/Lists/Work" from the root, by exact names.
    Status FindFolderByPath(std::string_view path, FolderId* out) const;
    // The folder's messages in store order (ascending id).
    Status GetMessageIds(FolderId folder, std::vector<MessageId>* out) const;
    Status GetMessage(FolderId folder, MessageId message, MessageInfo* out) const;
    Status OpenMessageSource(FolderId folder, MessageId message,
                             std::unique_ptr<MessageReader>* out) const;

    // ---- Changes: validated first, durable on success, nothing changed on failure --

    Status CreateFolder(FolderId parent, std::string_view name, FolderId* newId);
    Status RenameFolder(FolderId folder, std::string_view newName);
    Status MoveFolder(FolderId folder, FolderId newParent);
    Status DeleteFolder(FolderId folder);

    Status ImportMessage(FolderId folder, std::string_view source, MessageId* newId,
                         std::optional<uint32_t> state = std::nullopt);
    // One durable commit for the whole batch; all or nothing.
    Status ImportMessages(FolderId folder, const std::vector<ImportItem>& items,
                          std::vector<MessageId>* newIds);
    // Copies or moves messages into target (new ids there, same order). All or nothing.
    Status CopyMessages(FolderId from, FolderId to, const std::vector<MessageId>& ids,
                        std::vector<MessageId>* newIds);
    Status MoveMessages(FolderId from, FolderId to, const std::vector<MessageId>& ids,
                        std::vector<MessageId>* newIds);
    Status DeleteMessages(FolderId folder, const std::vector<MessageId>& ids);
    Status MarkRead(FolderId folder, const std::vector<MessageId>& ids, bool read);
    Status MarkAllRead(FolderId folder, bool read);
    Status SetFlagged(FolderId folder, const std::vector<MessageId>& ids, bool flagged);

    // Folds the journal into a fresh snapshot and starts an empty journal.
    Status Compact();

    // ---- Other processes ---------------------------------------------------------

    // Picks up changes other processes committed. Cheap when nothing changed (one
    // size query and a few bytes read). *changed tells whether anything came in.
    Status Refresh(bool* changed = nullptr);
    // Events of own and others' changes in commit order, oldest first; empties the queue.
    std::vector<ChangeEvent> TakeEvents();
    bool HasEvents() const;

    // Removes up to `atMost` of the files committed deletes let go (see
    // OpenOptions::removeLetGoFilesLater) and returns how many still wait. Waits
    // for no other writer: while one holds the lock it removes nothing.
    size_t RemoveLetGoFiles(size_t atMost);

    class Impl;

  private:
    explicit Store(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// ---- Time helpers ----------------------------------------------------------------

// FILETIME of a UTC calendar time; 0 for dates before 1601.
uint64_t FileTimeFromUtc(int year, int month, int day, int hour, int minute, int second);
// The system clock as FILETIME.
uint64_t FileTimeNow();

} // namespace mailstore
