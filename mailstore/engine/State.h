// The store's metadata in memory, the logical changes the journal records, and
// the snapshot encoding. Replay at open, own commits and changes picked up from
// other processes all go through State::Apply, so they cannot disagree.
#pragma once

#include "Status.h"
#include "StoreTypes.h"

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace mailstore::detail {

// Owns the text of message props. Views handed out stay valid while the pool
// lives: chunks are never reallocated.
class TextPool {
  public:
    std::string_view Add(std::string_view s);
    // Add, keeping one copy of equal texts: senders and recipients repeat.
    std::string_view Intern(std::string_view s);

  private:
    std::deque<std::string> chunks_;
    std::unordered_set<std::string_view> interned_;
};

struct MessageRec {
    MessageId id = 0;
    uint32_t state = 0;
    uint32_t priority = 3;
    uint32_t size = 0;
    uint64_t fileNo = 0; // the source is messages/<fileNo as 16 hex digits>.eml
    uint64_t received = 0;
    uint64_t sent = 0;
    uint64_t checksum = 0; // Checksum64 of the source; 0 in records older than checksums
    std::string_view subject;
    std::string_view to;
    std::string_view from;
};

struct FolderRec {
    FolderId id = 0;
    FolderId parent = 0;
    int32_t type = kFolderNormal;
    std::string name;
    std::set<FolderId> children;
    std::vector<MessageRec> messages; // ascending id
    uint32_t unread = 0;

    const MessageRec* Find(MessageId id) const;
    MessageRec* Find(MessageId id);
};

// File numbers stay below this, so a counter never wraps however many files
// come: a file named past it (never one of the store's) gets a fresh number.
constexpr uint64_t kFileNoLimit = uint64_t(1) << 48;

// What a committed delete let go, so a file found later under that number can be
// told from another that came there since.
struct FreedFile {
    uint32_t size = 0;
    uint64_t checksum = 0; // 0 in records older than checksums
};

enum class OpType : uint8_t {
    CreateFolder = 1, // folder, parent, type, name
    RenameFolder,     // folder, name
    MoveFolder,       // folder, parent
    DeleteFolder,     // folder (with its sub-tree and messages)
    AddMessages,      // folder, messages
    DeleteMessages,   // folder, ids
    MoveMessages,     // folder -> target, pairs (ids[i] becomes newIds[i])
    SetState,         // folder, ids, mask, value
    SetStateAll,      // folder, mask, value
    // files: what committed deletes let go that is gone now; their records
    // are forgotten, so a file put back under such a number later is kept.
    // (10 is taken by the journal's second form of AddMessages.)
    ForgetFiles = 11,
};

struct NewMessage {
    MessageRec rec;
    // A change made here owns its texts. One read back from the journal leaves
    // them empty and has rec's views point into the record, which outlives its
    // replay: no heap copy of three texts per message at every open.
    std::string subject, to, from;
    std::string_view Subject() const { return subject.empty() ? rec.subject : subject; }
    std::string_view To() const { return to.empty() ? rec.to : to; }
    std::string_view From() const { return from.empty() ? rec.from : from; }
};

struct Op {
    OpType type = OpType::CreateFolder;
    FolderId folder = 0;
    FolderId parent = 0; // CreateFolder, MoveFolder; target for MoveMessages
    int32_t folderType = kFolderNormal;
    std::string name;
    std::vector<MessageId> ids;
    std::vector<MessageId> newIds;
    std::vector<NewMessage> messages;
    std::vector<uint64_t> files; // ForgetFiles
    uint32_t mask = 0;
    uint32_t value = 0;
};

struct Transaction {
    uint64_t seq = 0;
    std::vector<Op> ops;
};

class State {
  public:
    State();

    // A new store: the root and the five special folders.
    static State Initial();

    const FolderRec* Folder(FolderId id) const;
    bool IsAncestorOrSelf(FolderId ancestor, FolderId folder) const;
    const FolderRec* ChildByName(FolderId parent, std::string_view name) const;

    // Applies one committed change. Fails (changing nothing) when the change does
    // not fit the state, which for a journal record means damage. Files no longer
    // referenced are added to *freedFiles.
    Status Apply(const Op& op, std::vector<ChangeEvent>* events, std::vector<uint64_t>* freedFiles);
    Status Apply(const Transaction& tx, std::vector<ChangeEvent>* events,
                 std::vector<uint64_t>* freedFiles);

    // The snapshot form (RecordCodec.cpp, beside the journal's).
    void EncodeSnapshot(uint64_t generation, std::string* out) const;
    // Parses a snapshot; on damage returns Corrupt naming fileName and an offset.
    static Status DecodeSnapshot(std::unique_ptr<char[]> buffer, size_t size,
                                 const std::string& fileName, uint64_t* generation, State* out);

    // Events that turn `before` into `after`, for changes whose records were
    // folded into a snapshot before this process saw them.
    static void Diff(const State& before, const State& after, std::vector<ChangeEvent>* events);

    // The record of a file a change applied with freedFiles let go; null when none did.
    const FreedFile* Freed(uint64_t fileNo) const;
    void ForgetFreed() { freed_.clear(); }
    // Every record of a let-go file not forgotten yet, by file number.
    const std::unordered_map<uint64_t, FreedFile>& FreedFiles() const { return freed_; }

    const std::map<FolderId, FolderRec>& folders() const { return folders_; }
    uint32_t nextFolderId = 1;
    uint32_t nextMessageId = 1;
    uint64_t nextFileNo = 1;
    uint64_t lastSeq = 0;

  private:
    // One per kind of change, for Apply; each checks first and changes nothing on failure.
    Status ApplyCreateFolder(const Op& op, std::vector<ChangeEvent>* events);
    Status ApplyRenameFolder(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events);
    Status ApplyMoveFolder(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events);
    Status ApplyDeleteFolder(const Op& op, const FolderRec& f, std::vector<ChangeEvent>* events,
                             std::vector<uint64_t>* freedFiles);
    Status ApplyAddMessages(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events);
    Status ApplyDeleteMessages(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events,
                               std::vector<uint64_t>* freedFiles);
    Status ApplyMoveMessages(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events);
    Status ApplySetState(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events);
    void CountsEvent(FolderId folder, bool unreadChanged, std::vector<ChangeEvent>* events);
    void Free(const MessageRec& m, std::vector<uint64_t>* freedFiles);
    std::map<FolderId, FolderRec> folders_;
    std::unordered_map<uint64_t, FreedFile> freed_;
    std::shared_ptr<TextPool> text_;
};

} // namespace mailstore::detail
