// The values the store's interface hands in and out: ids, folder and message
// props, change events, open options and the check and recover reports.
#pragma once

#include "FileSystem.h"
#include "Status.h"

#include <cstdint>
#include <functional>
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
    // Files a committed delete lets go wait for TakeLetGoFiles (and a
    // LetGoRemover) instead of being removed inside the change, so a big delete
    // returns once it is durable. Any left at close go at the next open.
    bool removeLetGoFilesLater = false;
};

// A message file a committed delete let go, waiting to be removed.
struct LetGoFile {
    uint64_t no = 0;
    uint32_t size = 0;
    uint64_t checksum = 0; // 0 in records older than checksums
    // Let go before this object opened the store (a session closed or killed
    // before its files went): removed only while it holds what was deleted.
    bool prove = false;
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
    // Files and folders among the message files that are not the store's (names
    // it never gives): never touched, but not a sound store either.
    std::vector<std::string> notTheStores;
    // Files that hold what committed deletes let go and wait to be removed:
    // the store is sound meanwhile.
    uint64_t waitingRemoval = 0;
    // Nothing to report: no damage, nothing set aside, every file accounted for.
    bool clean() const {
        return ok && setAside.empty() && unaccounted.empty() && notTheStores.empty();
    }
};

// What Store::Recover did, one line per file or record.
struct RecoverReport {
    std::vector<std::string> actions;
    uint64_t recovered = 0; // message files brought back into a folder
    // Files recover could not move where they belong, each with its line and
    // the error: they stay as they were, and the store is not sound yet.
    uint64_t failed = 0;
};

} // namespace mailstore
