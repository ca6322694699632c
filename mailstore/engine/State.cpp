#include "State.h"

#include <algorithm>
#include <cstdio>

namespace mailstore::detail {

namespace {

constexpr size_t kTextChunk = 256 * 1024;

Status Damaged(const std::string& what) {
    return Status(ErrorCode::Corrupt, what);
}

} // namespace

std::string_view TextPool::Add(std::string_view s) {
    if (s.empty())
        return {};
    if (chunks_.empty() || chunks_.back().capacity() - chunks_.back().size() < s.size()) {
        chunks_.emplace_back();
        chunks_.back().reserve(std::max(kTextChunk, s.size()));
    }
    std::string& chunk = chunks_.back();
    size_t at = chunk.size();
    chunk.append(s.data(), s.size());
    return std::string_view(chunk.data() + at, s.size());
}

std::string_view TextPool::Intern(std::string_view s) {
    auto it = interned_.find(s);
    if (it != interned_.end())
        return *it;
    const std::string_view kept = Add(s);
    if (!kept.empty())
        interned_.insert(kept);
    return kept;
}

const MessageRec* FolderRec::Find(MessageId id) const {
    auto it = std::lower_bound(messages.begin(), messages.end(), id,
                               [](const MessageRec& m, MessageId v) { return m.id < v; });
    return (it != messages.end() && it->id == id) ? &*it : nullptr;
}

MessageRec* FolderRec::Find(MessageId id) {
    return const_cast<MessageRec*>(static_cast<const FolderRec*>(this)->Find(id));
}

// ---- State ---------------------------------------------------------------------

State::State() : text_(std::make_shared<TextPool>()) {
    FolderRec root;
    root.id = kRootFolder;
    root.parent = kRootFolder;
    folders_.emplace(kRootFolder, std::move(root));
}

State State::Initial() {
    State s;
    static const char* const kNames[] = {"Inbox", "Outbox", "Sent Items", "Deleted Items",
                                         "Drafts"};
    for (int32_t type = kFolderInbox; type <= kFolderDrafts; ++type) {
        FolderRec f;
        f.id = static_cast<FolderId>(type + 1);
        f.parent = kRootFolder;
        f.type = type;
        f.name = kNames[type];
        s.folders_[kRootFolder].children.insert(f.id);
        s.folders_.emplace(f.id, std::move(f));
    }
    s.nextFolderId = 6;
    return s;
}

const FolderRec* State::Folder(FolderId id) const {
    auto it = folders_.find(id);
    return it == folders_.end() ? nullptr : &it->second;
}

bool State::IsAncestorOrSelf(FolderId ancestor, FolderId folder) const {
    // Bounded by the folder count so a damaged parent chain cannot loop forever.
    for (size_t steps = 0; steps <= folders_.size(); ++steps) {
        if (folder == ancestor)
            return true;
        if (folder == kRootFolder)
            return false;
        const FolderRec* f = Folder(folder);
        if (f == nullptr)
            return false;
        folder = f->parent;
    }
    return false;
}

const FolderRec* State::ChildByName(FolderId parent, std::string_view name) const {
    const FolderRec* p = Folder(parent);
    if (p == nullptr)
        return nullptr;
    for (FolderId c : p->children) {
        const FolderRec* f = Folder(c);
        if (f != nullptr && f->name == name)
            return f;
    }
    return nullptr;
}

void State::CountsEvent(FolderId folder, bool unreadChanged, std::vector<ChangeEvent>* events) {
    if (events == nullptr)
        return;
    ChangeEvent e;
    e.kind = EventKind::FolderCountsChanged;
    e.folder = folder;
    e.unreadChanged = unreadChanged;
    events->push_back(e);
}

namespace {

void Push(std::vector<ChangeEvent>* events, const ChangeEvent& e) {
    if (events != nullptr)
        events->push_back(e);
}

ChangeEvent MakeEvent(EventKind kind, FolderId folder, MessageId message = 0) {
    ChangeEvent e;
    e.kind = kind;
    e.folder = folder;
    e.message = message;
    return e;
}

// The events of one message whose state bits in `diff` changed to `state`.
void StateEvents(std::vector<ChangeEvent>* events, FolderId folder, MessageId id, uint32_t diff,
                 uint32_t state) {
    if (diff & kStateUnread)
        Push(events, MakeEvent((state & kStateUnread) ? EventKind::MessageMarkedUnread
                                                      : EventKind::MessageMarkedRead,
                               folder, id));
    if (diff & kStateFlagged) {
        ChangeEvent e = MakeEvent(EventKind::MessageFlagChanged, folder, id);
        e.flagged = (state & kStateFlagged) != 0;
        Push(events, e);
    }
}

// Whether all ids are in f.
bool AllPresent(const FolderRec& f, const std::vector<MessageId>& ids) {
    for (MessageId id : ids) {
        if (f.Find(id) == nullptr)
            return false;
    }
    return true;
}

bool HasDuplicates(std::vector<MessageId> ids) {
    std::sort(ids.begin(), ids.end());
    return std::adjacent_find(ids.begin(), ids.end()) != ids.end();
}

// Removes the records with these ids (all present), calling gone(record) for
// each. One pass from the first of them, without hashing: a folder's records
// are in id order, and so are the ids once sorted.
template <typename Gone> void RemoveIds(FolderRec& f, std::vector<MessageId> ids, Gone gone) {
    if (ids.empty())
        return;
    std::sort(ids.begin(), ids.end());
    auto out = std::lower_bound(f.messages.begin(), f.messages.end(), ids.front(),
                                [](const MessageRec& m, MessageId v) { return m.id < v; });
    auto next = ids.begin();
    for (auto in = out; in != f.messages.end(); ++in) {
        if (next != ids.end() && in->id == *next) {
            gone(*in);
            ++next;
        } else {
            *out++ = *in;
        }
    }
    f.messages.erase(out, f.messages.end());
}

} // namespace

Status State::ApplyCreateFolder(const Op& op, std::vector<ChangeEvent>* events) {
    if (op.folder == kRootFolder || folders_.count(op.folder) != 0)
        return Damaged("folder id already in use");
    FolderRec* parent = folders_.count(op.parent) ? &folders_[op.parent] : nullptr;
    if (parent == nullptr)
        return Damaged("new folder under an unknown parent");
    if (op.name.empty() || ChildByName(op.parent, op.name) != nullptr)
        return Damaged("folder name empty or taken");
    if (op.folderType < kFolderNormal || op.folderType > kFolderDrafts)
        return Damaged("bad folder type");
    FolderRec f;
    f.id = op.folder;
    f.parent = op.parent;
    f.type = op.folderType;
    f.name = op.name;
    parent->children.insert(op.folder);
    folders_.emplace(op.folder, std::move(f));
    nextFolderId = std::max(nextFolderId, op.folder + 1);
    ChangeEvent e = MakeEvent(EventKind::FolderCreated, op.folder);
    e.newParent = op.parent;
    Push(events, e);
    return Status();
}

Status State::ApplyRenameFolder(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events) {
    if (op.folder == kRootFolder || op.name.empty())
        return Damaged("bad folder rename");
    const FolderRec* clash = ChildByName(f.parent, op.name);
    if (clash != nullptr && clash->id != op.folder)
        return Damaged("folder name taken");
    f.name = op.name;
    Push(events, MakeEvent(EventKind::FolderRenamed, op.folder));
    return Status();
}

Status State::ApplyMoveFolder(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events) {
    if (op.folder == kRootFolder || folders_.count(op.parent) == 0 ||
        IsAncestorOrSelf(op.folder, op.parent))
        return Damaged("bad folder move");
    const FolderRec* clash = ChildByName(op.parent, f.name);
    if (clash != nullptr && clash->id != op.folder)
        return Damaged("folder name taken");
    ChangeEvent e = MakeEvent(EventKind::FolderMoved, op.folder);
    e.oldParent = f.parent;
    e.newParent = op.parent;
    folders_[f.parent].children.erase(op.folder);
    folders_[op.parent].children.insert(op.folder);
    f.parent = op.parent;
    Push(events, e);
    return Status();
}

Status State::ApplyDeleteFolder(const Op& op, const FolderRec& f, std::vector<ChangeEvent>* events,
                                std::vector<uint64_t>* freedFiles) {
    if (op.folder == kRootFolder)
        return Damaged("root deleted");
    std::vector<FolderId> doomed{op.folder};
    for (size_t i = 0; i < doomed.size(); ++i) {
        for (FolderId c : folders_[doomed[i]].children)
            doomed.push_back(c);
        if (doomed.size() > folders_.size())
            return Damaged("folder tree has a cycle");
    }
    ChangeEvent e = MakeEvent(EventKind::FolderDeleted, op.folder);
    e.oldParent = f.parent;
    folders_[f.parent].children.erase(op.folder);
    for (FolderId id : doomed) {
        FolderRec& d = folders_[id];
        if (freedFiles != nullptr) {
            for (const MessageRec& m : d.messages)
                Free(m, freedFiles);
        }
        folders_.erase(id);
    }
    Push(events, e);
    return Status();
}

Status State::ApplyAddMessages(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events) {
    if (op.folder == kRootFolder)
        return Damaged("message in the root");
    MessageId last = f.messages.empty() ? 0 : f.messages.back().id;
    for (const NewMessage& m : op.messages) {
        if (m.rec.id <= last || (m.rec.state & ~kKnownStateBits) != 0)
            return Damaged("message ids out of order");
        if (m.rec.fileNo >= kFileNoLimit)
            return Damaged("message file number out of range");
        last = m.rec.id;
    }
    bool unreadChanged = false;
    for (const NewMessage& m : op.messages) {
        MessageRec r = m.rec;
        r.subject = text_->Add(m.Subject());
        r.to = text_->Intern(m.To());
        r.from = text_->Intern(m.From());
        f.messages.push_back(r);
        if (r.state & kStateUnread) {
            ++f.unread;
            unreadChanged = true;
        }
        nextMessageId = std::max(nextMessageId, r.id + 1);
        nextFileNo = std::max(nextFileNo, r.fileNo + 1);
        Push(events, MakeEvent(EventKind::MessageAdded, op.folder, r.id));
    }
    if (!op.messages.empty())
        CountsEvent(op.folder, unreadChanged, events);
    return Status();
}

Status State::ApplyDeleteMessages(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events,
                                  std::vector<uint64_t>* freedFiles) {
    if (!AllPresent(f, op.ids) || HasDuplicates(op.ids))
        return Damaged("deleting unknown messages");
    bool unreadChanged = false;
    RemoveIds(f, op.ids, [&](const MessageRec& m) {
        if (m.state & kStateUnread) {
            --f.unread;
            unreadChanged = true;
        }
        if (freedFiles != nullptr)
            Free(m, freedFiles);
    });
    for (MessageId id : op.ids)
        Push(events, MakeEvent(EventKind::MessageDeleted, op.folder, id));
    if (!op.ids.empty())
        CountsEvent(op.folder, unreadChanged, events);
    return Status();
}

Status State::ApplyMoveMessages(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events) {
    auto tit = folders_.find(op.parent);
    if (tit == folders_.end() || op.parent == op.folder || op.parent == kRootFolder ||
        op.ids.size() != op.newIds.size() || !AllPresent(f, op.ids) || HasDuplicates(op.ids))
        return Damaged("bad message move");
    FolderRec& t = tit->second;
    MessageId last = t.messages.empty() ? 0 : t.messages.back().id;
    for (MessageId id : op.newIds) {
        if (id <= last)
            return Damaged("message ids out of order");
        last = id;
    }
    std::vector<MessageRec> moving;
    moving.reserve(op.ids.size());
    for (MessageId id : op.ids)
        moving.push_back(*f.Find(id));
    RemoveIds(f, op.ids, [](const MessageRec&) {});
    bool unreadMoved = false;
    for (size_t i = 0; i < moving.size(); ++i) {
        MessageRec r = moving[i];
        if (r.state & kStateUnread) {
            --f.unread;
            ++t.unread;
            unreadMoved = true;
        }
        r.id = op.newIds[i];
        t.messages.push_back(r);
        nextMessageId = std::max(nextMessageId, r.id + 1);
    }
    for (MessageId id : op.ids)
        Push(events, MakeEvent(EventKind::MessageDeleted, op.folder, id));
    for (MessageId id : op.newIds)
        Push(events, MakeEvent(EventKind::MessageAdded, op.parent, id));
    if (!op.ids.empty()) {
        CountsEvent(op.folder, unreadMoved, events);
        CountsEvent(op.parent, unreadMoved, events);
    }
    return Status();
}

Status State::ApplySetState(const Op& op, FolderRec& f, std::vector<ChangeEvent>* events) {
    if ((op.mask & ~kKnownStateBits) != 0 || (op.value & ~op.mask) != 0)
        return Damaged("bad state change");
    if (op.type == OpType::SetState && !AllPresent(f, op.ids))
        return Damaged("marking unknown messages");
    bool unreadChanged = false;
    bool anyUnreadChange = false;
    auto change = [&](MessageRec& m) {
        uint32_t before = m.state;
        m.state = (m.state & ~op.mask) | op.value;
        uint32_t diff = before ^ m.state;
        if (diff & kStateUnread) {
            unreadChanged = true;
            anyUnreadChange = true;
            if (m.state & kStateUnread)
                ++f.unread;
            else
                --f.unread;
        }
        return diff;
    };
    if (op.type == OpType::SetState) {
        for (MessageId id : op.ids) {
            MessageRec& m = *f.Find(id);
            const uint32_t diff = change(m);
            StateEvents(events, op.folder, id, diff, m.state);
        }
    } else {
        bool anyFlag = false;
        for (MessageRec& m : f.messages) {
            if (change(m) & kStateFlagged)
                anyFlag = true;
        }
        if (anyUnreadChange) {
            ChangeEvent e = MakeEvent((op.value & kStateUnread) ? EventKind::MessageMarkedUnread
                                                                : EventKind::MessageMarkedRead,
                                      op.folder);
            e.allMessages = true;
            Push(events, e);
        }
        if (anyFlag) {
            ChangeEvent e = MakeEvent(EventKind::MessageFlagChanged, op.folder);
            e.allMessages = true;
            e.flagged = (op.value & kStateFlagged) != 0;
            Push(events, e);
        }
    }
    if (unreadChanged)
        CountsEvent(op.folder, true, events);
    return Status();
}
Status State::Apply(const Op& op, std::vector<ChangeEvent>* events,
                    std::vector<uint64_t>* freedFiles) {
    if (op.type == OpType::CreateFolder)
        return ApplyCreateFolder(op, events);
    if (op.type == OpType::ForgetFiles) {
        for (uint64_t no : op.files)
            freed_.erase(no); // a compaction may have forgotten it already
        return Status();
    }
    auto fit = folders_.find(op.folder);
    if (fit == folders_.end())
        return Damaged("change names an unknown folder");
    FolderRec& f = fit->second;
    switch (op.type) {
    case OpType::CreateFolder:
        break; // handled above
    case OpType::RenameFolder:
        return ApplyRenameFolder(op, f, events);
    case OpType::MoveFolder:
        return ApplyMoveFolder(op, f, events);
    case OpType::DeleteFolder:
        return ApplyDeleteFolder(op, f, events, freedFiles);
    case OpType::AddMessages:
        return ApplyAddMessages(op, f, events);
    case OpType::DeleteMessages:
        return ApplyDeleteMessages(op, f, events, freedFiles);
    case OpType::MoveMessages:
        return ApplyMoveMessages(op, f, events);
    case OpType::SetState:
    case OpType::SetStateAll:
        return ApplySetState(op, f, events);
    case OpType::ForgetFiles:
        break; // handled above
    }
    return Damaged("unknown change type");
}

void State::Free(const MessageRec& m, std::vector<uint64_t>* freedFiles) {
    freedFiles->push_back(m.fileNo);
    freed_[m.fileNo] = FreedFile{m.size, m.checksum};
}

const FreedFile* State::Freed(uint64_t fileNo) const {
    auto it = freed_.find(fileNo);
    return it == freed_.end() ? nullptr : &it->second;
}

Status State::Apply(const Transaction& tx, std::vector<ChangeEvent>* events,
                    std::vector<uint64_t>* freedFiles) {
    if (tx.seq != lastSeq + 1)
        return Damaged("change out of sequence");
    for (const Op& op : tx.ops) {
        Status s = Apply(op, events, freedFiles);
        if (!s.ok())
            return s;
    }
    lastSeq = tx.seq;
    return Status();
}

// ---- Diff ----------------------------------------------------------------------

void State::Diff(const State& before, const State& after, std::vector<ChangeEvent>* events) {
    for (const auto& [id, f] : before.folders_) {
        if (after.folders_.count(id) != 0)
            continue;
        // Only the top of a deleted sub-tree is reported, as for a local delete.
        if (after.folders_.count(f.parent) != 0) {
            ChangeEvent e = MakeEvent(EventKind::FolderDeleted, id);
            e.oldParent = f.parent;
            events->push_back(e);
        }
    }
    // New folders parents first.
    std::vector<std::pair<size_t, FolderId>> created;
    for (const auto& [id, f] : after.folders_) {
        if (before.folders_.count(id) != 0)
            continue;
        size_t depth = 0;
        for (FolderId p = f.parent; p != kRootFolder && depth <= after.folders_.size(); ++depth)
            p = after.folders_.at(p).parent;
        created.emplace_back(depth, id);
    }
    std::sort(created.begin(), created.end());
    for (const auto& c : created) {
        ChangeEvent e = MakeEvent(EventKind::FolderCreated, c.second);
        e.newParent = after.folders_.at(c.second).parent;
        events->push_back(e);
    }
    for (const auto& [id, f] : after.folders_) {
        auto b = before.folders_.find(id);
        if (b == before.folders_.end() || id == kRootFolder)
            continue;
        if (b->second.name != f.name)
            events->push_back(MakeEvent(EventKind::FolderRenamed, id));
        if (b->second.parent != f.parent) {
            ChangeEvent e = MakeEvent(EventKind::FolderMoved, id);
            e.oldParent = b->second.parent;
            e.newParent = f.parent;
            events->push_back(e);
        }
    }
    static const FolderRec kEmpty;
    for (const auto& [id, f] : after.folders_) {
        auto b = before.folders_.find(id);
        const FolderRec& old = b == before.folders_.end() ? kEmpty : b->second;
        size_t i = 0, j = 0;
        while (i < old.messages.size() || j < f.messages.size()) {
            if (j == f.messages.size() ||
                (i < old.messages.size() && old.messages[i].id < f.messages[j].id)) {
                events->push_back(MakeEvent(EventKind::MessageDeleted, id, old.messages[i].id));
                ++i;
            } else if (i == old.messages.size() || f.messages[j].id < old.messages[i].id) {
                events->push_back(MakeEvent(EventKind::MessageAdded, id, f.messages[j].id));
                ++j;
            } else {
                StateEvents(events, id, f.messages[j].id,
                            old.messages[i].state ^ f.messages[j].state, f.messages[j].state);
                ++i;
                ++j;
            }
        }
        if (old.messages.size() != f.messages.size() || old.unread != f.unread) {
            ChangeEvent e = MakeEvent(EventKind::FolderCountsChanged, id);
            e.unreadChanged = old.unread != f.unread;
            events->push_back(e);
        }
    }
}

} // namespace mailstore::detail
