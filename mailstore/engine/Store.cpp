#include "Store.h"

#include "Charsets.h"
#include "Codec.h"
#include "MessageParser.h"
#include "StoreWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <unordered_set>

namespace mailstore {

using namespace detail;

namespace {

class FileMessageReader : public MessageReader {
  public:
    FileMessageReader(std::unique_ptr<File> file, uint64_t size)
        : file_(std::move(file)), size_(size) {}
    uint64_t Size() const override { return size_; }
    Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        *got = 0;
        if (offset >= size_)
            return Status();
        if (len > size_ - offset)
            len = static_cast<size_t>(size_ - offset);
        return file_->ReadAt(offset, buf, len, got);
    }

  private:
    std::unique_ptr<File> file_;
    uint64_t size_;
};

} // namespace

Status ValidateFolderName(std::string_view name) {
    return ValidateName(name);
}

// ---- Store ---------------------------------------------------------------------------

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;

Status Store::Open(const std::string& dir, const OpenOptions& options,
                   std::unique_ptr<Store>* out) {
    if (dir.empty())
        return Status(ErrorCode::InvalidArgument, "no store directory given");
    auto impl = std::make_unique<Impl>(dir, options);
    FileSystem& fs = *impl->fs;
    const std::string snapPath = impl->Path(kSnapshotName);
    if (!fs.Exists(snapPath)) {
        Status s =
            options.create ? CreateStore(fs, dir, options.lockTimeoutMs) : NoSnapshot(fs, dir);
        if (!s.ok())
            return s;
    }

    // Open under the lock when it can be had, so crash leftovers can be cleaned;
    // a store another process keeps busy still opens, just without that.
    std::unique_ptr<FileLock> lock;
    Status lockStatus = fs.Lock(impl->Path(kLockName), options.lockTimeoutMs, &lock);
    if (!lockStatus.ok() && lockStatus.code() != ErrorCode::Busy && !fs.Exists(snapPath))
        return NoSnapshot(fs, dir);
    Loaded loaded;
    Status s = LoadStore(fs, dir, &loaded);
    if (!s.ok())
        return s;
    impl->Adopt(std::move(loaded));
    if (lock)
        impl->TidyAtOpen();
    out->reset(new Store(std::move(impl)));
    return Status();
}

const std::string& Store::Directory() const {
    return impl_->dir;
}

Status Store::GetChildren(FolderId parent, std::vector<FolderId>* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(parent, &f);
    if (!s.ok())
        return s;
    out->assign(f->children.begin(), f->children.end());
    return Status();
}

Status Store::NextChild(FolderId parent, FolderId after, FolderId* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(parent, &f);
    if (!s.ok())
        return s;
    auto next = f->children.upper_bound(after);
    *out = next == f->children.end() ? 0 : *next;
    return Status();
}

Status Store::GetFolder(FolderId folder, FolderInfo* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(folder, &f);
    if (!s.ok())
        return s;
    out->id = f->id;
    out->parent = f->parent;
    out->name = f->name;
    out->type = f->type;
    out->subFolderCount = static_cast<uint32_t>(f->children.size());
    out->messageCount = static_cast<uint32_t>(f->messages.size());
    out->unreadCount = f->unread;
    return Status();
}

Status Store::FindChild(FolderId parent, std::string_view name, FolderId* out) const {
    const FolderRec* p;
    Status s = impl_->NeedFolder(parent, &p);
    if (!s.ok())
        return s;
    const FolderRec* c = impl_->state.ChildByName(parent, name);
    if (c == nullptr)
        return Status(ErrorCode::UnknownFolder, "no folder named \"" + std::string(name) + "\"");
    *out = c->id;
    return Status();
}

Status Store::FindFolderByPath(std::string_view path, FolderId* out) const {
    FolderId cur = kRootFolder;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        if (!part.empty()) {
            Status s = FindChild(cur, part, &cur);
            if (!s.ok())
                return s;
        }
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    if (cur == kRootFolder)
        return Status(ErrorCode::InvalidArgument, "no folder named");
    *out = cur;
    return Status();
}

Status Store::GetMessageIds(FolderId folder, std::vector<MessageId>* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(folder, &f);
    if (!s.ok())
        return s;
    out->clear();
    out->reserve(f->messages.size());
    for (const MessageRec& m : f->messages)
        out->push_back(m.id);
    return Status();
}

Status Store::GetMessageInfo(FolderId folder, MessageId message, MessageInfo* out) const {
    const MessageRec* m;
    Status s = impl_->NeedMessage(folder, message, &m);
    if (!s.ok())
        return s;
    out->id = m->id;
    out->folder = folder;
    out->state = m->state;
    out->priority = m->priority;
    out->received = m->received;
    out->sent = m->sent;
    out->size = m->size;
    out->subject.assign(m->subject);
    out->to.assign(m->to);
    out->from.assign(m->from);
    return Status();
}

Status Store::OpenMessageSource(FolderId folder, MessageId message,
                                std::unique_ptr<MessageReader>* out) const {
    const MessageRec* m;
    Status s = impl_->NeedMessage(folder, message, &m);
    if (!s.ok())
        return s;
    std::unique_ptr<File> file;
    uint64_t size = 0;
    bool missing = false;
    std::string rel;
    s = OpenMessageFile(*impl_->fs, impl_->dir, m->fileNo, &file, &size, &missing, &rel);
    if (!s.ok())
        return s;
    *out = std::make_unique<FileMessageReader>(std::move(file), m->size);
    return Status();
}

// ---- Folder changes ---------------------------------------------------------------------

Status Store::CreateFolder(FolderId parent, std::string_view name, FolderId* newId) {
    Status s = ValidateName(name);
    if (!s.ok())
        return s;
    std::unique_ptr<FileLock> lock;
    const FolderRec* p;
    s = impl_->BeginOn(parent, &lock, &p);
    if (s.ok())
        s = CheckNameFree(impl_->state, parent, name);
    if (!s.ok())
        return s;
    if (impl_->state.nextFolderId == 0xFFFFFFFFu)
        return Status(ErrorCode::InvalidArgument, "no folder ids left");
    Op op;
    op.type = OpType::CreateFolder;
    op.folder = impl_->state.nextFolderId;
    op.parent = parent;
    op.name = std::string(name);
    s = impl_->CommitOps({op});
    if (s.ok() && newId != nullptr)
        *newId = op.folder;
    return s;
}

namespace {
Status CheckChangeable(const FolderRec* f, const char* what) {
    if (f->id == kRootFolder)
        return Status(ErrorCode::InvalidArgument, std::string("the root folder cannot be ") + what);
    if (f->type != kFolderNormal)
        return Status(ErrorCode::SpecialFolder,
                      "\"" + f->name + "\" is a special folder and cannot be " + what);
    return Status();
}
} // namespace

Status Store::RenameFolder(FolderId folder, std::string_view newName) {
    Status s = ValidateName(newName);
    if (!s.ok())
        return s;
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = CheckChangeable(f, "renamed");
    if (!s.ok())
        return s;
    if (f->name == newName)
        return Status();
    s = CheckNameFree(impl_->state, f->parent, newName);
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::RenameFolder;
    op.folder = folder;
    op.name = std::string(newName);
    return impl_->CommitOps({op});
}

Status Store::MoveFolder(FolderId folder, FolderId newParent) {
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    const FolderRec* p;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = impl_->NeedFolder(newParent, &p);
    if (s.ok())
        s = CheckChangeable(f, "moved");
    if (!s.ok())
        return s;
    if (impl_->state.IsAncestorOrSelf(folder, newParent))
        return Status(ErrorCode::IntoOwnSubtree,
                      "a folder cannot move into itself or one of its sub-folders");
    if (f->parent == newParent)
        return Status();
    s = CheckNameFree(impl_->state, newParent, f->name);
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::MoveFolder;
    op.folder = folder;
    op.parent = newParent;
    return impl_->CommitOps({op});
}

Status Store::DeleteFolder(FolderId folder) {
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = CheckChangeable(f, "deleted");
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::DeleteFolder;
    op.folder = folder;
    return impl_->CommitOps({op});
}

// ---- Message changes --------------------------------------------------------------------

namespace {
// Whether `count` new messages can go into the folder `to`.
Status CheckRoom(const Store::Impl& impl, FolderId to, size_t count) {
    if (to == kRootFolder)
        return Status(ErrorCode::InvalidArgument, "messages cannot be stored in the root folder");
    if (uint64_t(impl.state.nextMessageId) + count > 0xFFFFFFFFull)
        return Status(ErrorCode::InvalidArgument, "no message ids left");
    return Status();
}

// Writes the files of op's new messages as one batch, then commits op, which
// adds them; bytesOf(i, &bytes) gives the i-th message's source.
Status AddInBatch(Store::Impl& impl, Op op,
                  const std::function<Status(size_t, std::string_view*)>& bytesOf,
                  std::vector<MessageId>* newIds) {
    Store::Impl::NewFiles files;
    std::vector<detail::IntentFile> planned;
    planned.reserve(op.messages.size());
    for (const NewMessage& m : op.messages)
        planned.push_back({m.rec.size, m.rec.checksum});
    Status s = impl.BeginBatch(std::move(planned), &files);
    if (!s.ok())
        return s;
    for (size_t i = 0; i < op.messages.size(); ++i) {
        NewMessage& m = op.messages[i];
        m.rec.id = impl.state.nextMessageId + static_cast<MessageId>(i);
        std::string_view bytes;
        s = bytesOf(i, &bytes);
        if (s.ok())
            s = impl.WriteBatchFile(bytes, &files, &m.rec.fileNo);
        if (!s.ok()) {
            impl.Abandon(&files);
            return s;
        }
    }
    return impl.CommitNewMessages(std::move(op), &files, newIds);
}
} // namespace

namespace {
// The best guess at when a message arrived, for sources that do not say.
uint64_t ReceivedTime(const ParsedHeaders& h, const ImportItem& item,
                      const std::function<uint64_t()>& now) {
    for (uint64_t t :
         {h.received, item.delivered.value_or(0), h.sent, item.fileModified.value_or(0)}) {
        if (t != 0)
            return t;
    }
    return now();
}
} // namespace

Status Store::ImportMessage(FolderId folder, std::string_view source, MessageId* newId,
                            std::optional<uint32_t> state) {
    ImportItem item;
    item.source = source;
    item.state = state;
    std::vector<MessageId> ids;
    Status s = ImportMessages(folder, {item}, &ids);
    if (s.ok() && newId != nullptr)
        *newId = ids.front();
    return s;
}

Status Store::ImportMessages(FolderId folder, const std::vector<ImportItem>& items,
                             std::vector<MessageId>* newIds) {
    // Parse before taking the lock: it is the slow part and needs no store state.
    Op op;
    op.type = OpType::AddMessages;
    op.folder = folder;
    op.messages.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const ImportItem& item = items[i];
        if (item.source.empty())
            return Status(ErrorCode::InvalidArgument, "an empty message cannot be imported");
        if (item.source.size() > kMaxMessageSize)
            return Status(ErrorCode::TooLarge, "a message of 4 GiB or more cannot be stored");
        if (item.state && (*item.state & ~kKnownStateBits) != 0)
            return Status(ErrorCode::InvalidArgument, "unknown message state bits");
        ParsedHeaders h = ParseHeaders(item.source);
        NewMessage& m = op.messages[i];
        m.rec.state = item.state ? *item.state : kStateUnread;
        m.rec.priority = h.priority;
        m.rec.size = static_cast<uint32_t>(item.source.size());
        m.rec.sent = h.sent;
        m.rec.checksum = detail::Checksum64(item.source.data(), item.source.size());
        m.rec.received = item.received ? *item.received : ReceivedTime(h, item, impl_->opts.clock);
        m.subject = std::move(h.subject);
        m.to = std::move(h.to);
        m.from = std::move(h.from);
    }
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = CheckRoom(*impl_, folder, items.size());
    if (!s.ok())
        return s;
    if (items.empty())
        return NoNewIds(newIds);
    return AddInBatch(
        *impl_, std::move(op),
        [&items](size_t i, std::string_view* bytes) {
            *bytes = items[i].source;
            return Status();
        },
        newIds);
}

namespace {
// What copying and moving check first, and hold while they change the store.
struct Transfer {
    std::vector<MessageId> ids; // without repeats
    std::unique_ptr<FileLock> lock;
    const FolderRec* src = nullptr;
};

Status BeginTransfer(Store::Impl& impl, FolderId from, FolderId to,
                     const std::vector<MessageId>& ids, Transfer* t) {
    t->ids = Unique(ids);
    const FolderRec* dst;
    Status s = impl.BeginOn(from, &t->lock, &t->src);
    if (s.ok())
        s = impl.NeedFolder(to, &dst);
    if (s.ok())
        s = impl.NeedMessages(*t->src, t->ids);
    if (s.ok())
        s = CheckRoom(impl, to, t->ids.size());
    return s;
}
} // namespace

Status Store::CopyMessages(FolderId from, FolderId to, const std::vector<MessageId>& idsIn,
                           std::vector<MessageId>* newIds) {
    Transfer t;
    Status s = BeginTransfer(*impl_, from, to, idsIn, &t);
    if (!s.ok())
        return s;
    if (t.ids.empty())
        return NoNewIds(newIds);
    Op op;
    op.type = OpType::AddMessages;
    op.folder = to;
    for (MessageId id : t.ids) {
        const MessageRec& m = *t.src->Find(id);
        NewMessage n;
        n.rec = m;
        n.subject.assign(m.subject);
        n.to.assign(m.to);
        n.from.assign(m.from);
        op.messages.push_back(std::move(n));
    }
    std::string bytes;
    return AddInBatch(
        *impl_, std::move(op),
        [&](size_t i, std::string_view* out) {
            std::string rel;
            bool missing = false;
            const uint64_t fileNo = t.src->Find(t.ids[i])->fileNo;
            Status read = ReadMessageFile(*impl_->fs, impl_->dir, fileNo, &bytes, &missing, &rel);
            *out = bytes;
            return read;
        },
        newIds);
}

Status Store::MoveMessages(FolderId from, FolderId to, const std::vector<MessageId>& idsIn,
                           std::vector<MessageId>* newIds) {
    Transfer t;
    Status s = BeginTransfer(*impl_, from, to, idsIn, &t);
    if (!s.ok())
        return s;
    if (from == to)
        return Status(ErrorCode::InvalidArgument, "source and target are the same folder");
    if (t.ids.empty())
        return NoNewIds(newIds);
    Op op;
    op.type = OpType::MoveMessages;
    op.folder = from;
    op.parent = to;
    op.ids = t.ids;
    for (size_t i = 0; i < t.ids.size(); ++i)
        op.newIds.push_back(impl_->state.nextMessageId + static_cast<MessageId>(i));
    std::vector<MessageId> ids2 = op.newIds;
    s = impl_->CommitOps({std::move(op)});
    if (s.ok() && newIds)
        *newIds = std::move(ids2);
    return s;
}

Status Store::DeleteMessages(FolderId folder, const std::vector<MessageId>& idsIn) {
    const std::vector<MessageId> ids = Unique(idsIn);
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOnMessages(folder, ids, &lock, &f);
    if (!s.ok() || ids.empty())
        return s;
    Op op;
    op.type = OpType::DeleteMessages;
    op.folder = folder;
    op.ids = ids;
    return impl_->CommitOps({std::move(op)});
}

namespace {
Status SetBits(Store::Impl& impl, FolderId folder, const std::vector<MessageId>& idsIn,
               uint32_t mask, bool on) {
    const std::vector<MessageId> ids = Unique(idsIn);
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl.BeginOnMessages(folder, ids, &lock, &f);
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::SetState;
    op.folder = folder;
    op.mask = mask;
    op.value = on ? mask : 0;
    // Only messages that change are recorded, so a repeated mark costs nothing.
    for (MessageId id : ids) {
        if (((f->Find(id)->state & mask) != 0) != on)
            op.ids.push_back(id);
    }
    if (op.ids.empty())
        return Status();
    return impl.CommitOps({std::move(op)});
}
} // namespace

Status Store::MarkRead(FolderId folder, const std::vector<MessageId>& ids, bool read) {
    return SetBits(*impl_, folder, ids, kStateUnread, !read);
}

Status Store::SetFlagged(FolderId folder, const std::vector<MessageId>& ids, bool flagged) {
    return SetBits(*impl_, folder, ids, kStateFlagged, flagged);
}

Status Store::MarkAllRead(FolderId folder, bool read) {
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (!s.ok())
        return s;
    bool any = false;
    for (const MessageRec& m : f->messages) {
        if (((m.state & kStateUnread) != 0) == read) {
            any = true;
            break;
        }
    }
    if (!any)
        return Status();
    Op op;
    op.type = OpType::SetStateAll;
    op.folder = folder;
    op.mask = kStateUnread;
    op.value = read ? 0 : kStateUnread;
    return impl_->CommitOps({std::move(op)});
}

Status Store::Compact() {
    std::unique_ptr<FileLock> lock;
    Status s = impl_->Begin(&lock);
    if (!s.ok())
        return s;
    return impl_->CompactLocked();
}

Status Store::Refresh(bool* changed) {
    return impl_->CatchUp(changed);
}

std::vector<ChangeEvent> Store::TakeEvents() {
    std::vector<ChangeEvent> out;
    out.swap(impl_->events);
    return out;
}

bool Store::HasEvents() const {
    return !impl_->events.empty();
}

std::vector<LetGoFile> Store::TakeLetGoFiles() {
    std::vector<LetGoFile> out;
    out.swap(impl_->letGo);
    return out;
}

Status Store::ForgetLetGoFiles(const std::vector<uint64_t>& files, unsigned timeoutMs) {
    if (files.empty())
        return Status();
    std::unique_ptr<FileLock> lock;
    Status s = impl_->Begin(&lock, timeoutMs);
    if (!s.ok())
        return s;
    std::vector<uint64_t> still; // a compaction forgets them all
    for (uint64_t no : files) {
        if (impl_->state.Freed(no) != nullptr)
            still.push_back(no);
    }
    if (still.empty())
        return Status();
    Op op;
    op.type = OpType::ForgetFiles;
    op.files = std::move(still);
    return impl_->CommitOps({std::move(op)});
}

const std::vector<std::string>& Store::SetAsideFiles() const {
    return impl_->setAside;
}

} // namespace mailstore