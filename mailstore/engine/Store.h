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

#include "Calendar.h"
#include "FileSystem.h"
#include "Status.h"
#include "StoreTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore {

// InvalidName for a name no folder may have (what a create or rename checks first).
Status ValidateFolderName(std::string_view name);

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
    Status GetMessageInfo(FolderId folder, MessageId message, MessageInfo* out) const;
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

    // Hands over the files committed deletes let go that wait for removal
    // (see OpenOptions::removeLetGoFilesLater), for a LetGoRemover.
    std::vector<LetGoFile> TakeLetGoFiles();
    // Records durably that these let-go files are gone, so their records no
    // longer let a file under one of the numbers be removed. Waits at most
    // timeoutMs for another writer; Busy then, and nothing changed.
    Status ForgetLetGoFiles(const std::vector<uint64_t>& files, unsigned timeoutMs);

    class Impl;

  private:
    explicit Store(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace mailstore
