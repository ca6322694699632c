#include "RecordCodec.h"

#include "Codec.h"

#include <algorithm>
#include <cstdio>

namespace mailstore::detail {

namespace {

constexpr uint32_t kSnapshotMagic = 0x3153534D; // "MSS1"
// Version 2 adds each message's source checksum; version 1 snapshots still load.
constexpr uint32_t kSnapshotVersion = 2;
// Journal byte for an AddMessages change: the first form has no source checksums.
constexpr uint8_t kAddWithoutChecksums = 5;
constexpr uint8_t kAddWithChecksums = 10;

// The smallest encoded size of one element, to reject counts the bytes cannot hold
// before reserving memory for them.
constexpr size_t kMinEncodedMessage = 4 * 4 + 3 * 8 + 3 * 4;

Status Damaged(const std::string& what) {
    return Status(ErrorCode::Corrupt, what);
}

// One message record, as both journal records and the snapshot hold it.
void EncodeMessage(Encoder& e, const MessageRec& m, std::string_view subject, std::string_view to,
                   std::string_view from) {
    e.U32(m.id);
    e.U32(m.state);
    e.U32(m.priority);
    e.U32(m.size);
    e.U64(m.fileNo);
    e.U64(m.received);
    e.U64(m.sent);
    e.U64(m.checksum);
    e.Str(subject);
    e.Str(to);
    e.Str(from);
}

void EncodeIds(Encoder& e, const std::vector<MessageId>& ids) {
    e.U32(static_cast<uint32_t>(ids.size()));
    for (MessageId id : ids)
        e.U32(id);
}

bool DecodeIds(Decoder& d, std::vector<MessageId>* ids) {
    uint32_t n = d.U32();
    if (d.failed() || n > d.remaining() / 4)
        return false;
    ids->resize(n);
    for (MessageId& id : *ids)
        id = d.U32();
    return true;
}

} // namespace

// ---- Transactions --------------------------------------------------------------

void EncodeTransaction(const Transaction& tx, std::string* out) {
    Encoder e(out);
    e.U64(tx.seq);
    e.U32(static_cast<uint32_t>(tx.ops.size()));
    for (const Op& op : tx.ops) {
        e.U8(op.type == OpType::AddMessages ? kAddWithChecksums : static_cast<uint8_t>(op.type));
        e.U32(op.folder);
        switch (op.type) {
        case OpType::CreateFolder:
            e.U32(op.parent);
            e.I32(op.folderType);
            e.Str(op.name);
            break;
        case OpType::RenameFolder:
            e.Str(op.name);
            break;
        case OpType::MoveFolder:
            e.U32(op.parent);
            break;
        case OpType::DeleteFolder:
            break;
        case OpType::AddMessages:
            e.U32(static_cast<uint32_t>(op.messages.size()));
            for (const NewMessage& m : op.messages)
                EncodeMessage(e, m.rec, m.Subject(), m.To(), m.From());
            break;
        case OpType::DeleteMessages:
            EncodeIds(e, op.ids);
            break;
        case OpType::MoveMessages:
            e.U32(op.parent);
            e.U32(static_cast<uint32_t>(op.ids.size()));
            for (size_t i = 0; i < op.ids.size(); ++i) {
                e.U32(op.ids[i]);
                e.U32(op.newIds[i]);
            }
            break;
        case OpType::SetState:
            e.U32(op.mask);
            e.U32(op.value);
            EncodeIds(e, op.ids);
            break;
        case OpType::SetStateAll:
            e.U32(op.mask);
            e.U32(op.value);
            break;
        case OpType::ForgetFiles:
            e.U32(static_cast<uint32_t>(op.files.size()));
            for (uint64_t no : op.files)
                e.U64(no);
            break;
        }
    }
}

namespace {

// The messages of an addition; the first form of the record has no checksums.
bool DecodeAdded(Decoder& d, bool withChecksums, std::vector<NewMessage>* out) {
    uint32_t n = d.U32();
    if (d.failed() || n > d.remaining() / kMinEncodedMessage)
        return false;
    out->resize(n);
    for (NewMessage& m : *out) {
        m.rec.id = d.U32();
        m.rec.state = d.U32();
        m.rec.priority = d.U32();
        m.rec.size = d.U32();
        m.rec.fileNo = d.U64();
        m.rec.received = d.U64();
        m.rec.sent = d.U64();
        if (withChecksums)
            m.rec.checksum = d.U64();
        m.rec.subject = d.Str();
        m.rec.to = d.Str();
        m.rec.from = d.Str();
    }
    return true;
}

// A move's pairs of old and new ids.
bool DecodeMovedIds(Decoder& d, Op* op) {
    uint32_t n = d.U32();
    if (d.failed() || n > d.remaining() / 8)
        return false;
    op->ids.resize(n);
    op->newIds.resize(n);
    for (uint32_t k = 0; k < n; ++k) {
        op->ids[k] = d.U32();
        op->newIds[k] = d.U32();
    }
    return true;
}

} // namespace

bool DecodeTransaction(std::string_view payload, Transaction* tx) {
    Decoder d(payload);
    tx->seq = d.U64();
    uint32_t count = d.U32();
    if (d.failed() || count > d.remaining() / 5)
        return false;
    tx->ops.clear();
    tx->ops.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        Op op;
        uint8_t type = d.U8();
        op.folder = d.U32();
        switch (type) {
        case static_cast<uint8_t>(OpType::CreateFolder):
            op.parent = d.U32();
            op.folderType = d.I32();
            op.name = std::string(d.Str());
            break;
        case static_cast<uint8_t>(OpType::RenameFolder):
            op.name = std::string(d.Str());
            break;
        case static_cast<uint8_t>(OpType::MoveFolder):
            op.parent = d.U32();
            break;
        case static_cast<uint8_t>(OpType::DeleteFolder):
            break;
        case kAddWithoutChecksums:
        case kAddWithChecksums:
            if (!DecodeAdded(d, type == kAddWithChecksums, &op.messages))
                return false;
            break;
        case static_cast<uint8_t>(OpType::DeleteMessages):
            if (!DecodeIds(d, &op.ids))
                return false;
            break;
        case static_cast<uint8_t>(OpType::MoveMessages):
            op.parent = d.U32();
            if (!DecodeMovedIds(d, &op))
                return false;
            break;
        case static_cast<uint8_t>(OpType::SetState):
            op.mask = d.U32();
            op.value = d.U32();
            if (!DecodeIds(d, &op.ids))
                return false;
            break;
        case static_cast<uint8_t>(OpType::SetStateAll):
            op.mask = d.U32();
            op.value = d.U32();
            break;
        case static_cast<uint8_t>(OpType::ForgetFiles): {
            const uint32_t n = d.U32();
            if (d.failed() || n > d.remaining() / 8)
                return false;
            op.files.resize(n);
            for (uint64_t& no : op.files)
                no = d.U64();
            break;
        }
        default:
            return false;
        }
        if (d.failed())
            return false;
        op.type = type == kAddWithChecksums ? OpType::AddMessages : static_cast<OpType>(type);
        tx->ops.push_back(std::move(op));
    }
    return !d.failed() && d.remaining() == 0;
}

// ---- Snapshot ------------------------------------------------------------------

namespace {

// A folder's `count` message records of `fixed` bytes each (plus texts), read
// straight from the snapshot's bytes from *pos on: the bulk of every open.
// False, with *pos at the record, for a record that is cut short or does not fit.
bool ReadSnapshotMessages(std::string_view data, size_t fixed, uint32_t count, const State& s,
                          TextPool& text, FolderRec* f, size_t* pos) {
    const char* base = data.data();
    const size_t end = data.size();
    size_t at = *pos;
    MessageId last = 0;
    f->messages.reserve(count);
    for (uint32_t k = 0; k < count; ++k) {
        *pos = at;
        if (end - at < fixed)
            return false;
        MessageRec& m = f->messages.emplace_back();
        m.id = LoadU32(base + at);
        m.state = LoadU32(base + at + 4);
        m.priority = LoadU32(base + at + 8);
        m.size = LoadU32(base + at + 12);
        m.fileNo = LoadU64(base + at + 16);
        m.received = LoadU64(base + at + 24);
        m.sent = LoadU64(base + at + 32);
        if (fixed >= 48)
            m.checksum = LoadU64(base + at + 40);
        at += fixed;
        std::string_view* texts[3] = {&m.subject, &m.to, &m.from};
        for (std::string_view* t : texts) {
            if (end - at < 4)
                return false;
            const uint32_t len = LoadU32(base + at);
            at += 4;
            if (end - at < len)
                return false;
            *t = data.substr(at, len);
            at += len;
        }
        m.subject = text.Add(m.subject);
        m.to = text.Intern(m.to);
        m.from = text.Intern(m.from);
        if (m.id <= last || m.id >= s.nextMessageId || m.fileNo >= s.nextFileNo ||
            (m.state & ~kKnownStateBits) != 0)
            return false;
        last = m.id;
        if (m.state & kStateUnread)
            ++f->unread;
    }
    *pos = at;
    return true;
}

} // namespace

void State::EncodeSnapshot(uint64_t generation, std::string* out) const {
    out->clear();
    size_t estimate = 64;
    for (const auto& [id, f] : folders_) {
        estimate += 32 + f.name.size();
        for (const MessageRec& m : f.messages)
            estimate += 64 + m.subject.size() + m.to.size() + m.from.size();
    }
    out->reserve(estimate);
    Encoder e(out);
    e.U32(kSnapshotMagic);
    e.U32(kSnapshotVersion);
    e.U64(generation);
    e.U64(lastSeq);
    e.U32(nextFolderId);
    e.U32(nextMessageId);
    e.U64(nextFileNo);
    e.U32(static_cast<uint32_t>(folders_.size() - 1));
    for (const auto& [id, f] : folders_) {
        if (id == kRootFolder)
            continue;
        e.U32(f.id);
        e.U32(f.parent);
        e.I32(f.type);
        e.Str(f.name);
        e.U32(static_cast<uint32_t>(f.messages.size()));
        for (const MessageRec& m : f.messages)
            EncodeMessage(e, m, m.subject, m.to, m.from);
    }
    e.U64(Checksum64(out->data(), out->size()));
}

Status State::DecodeSnapshot(std::unique_ptr<char[]> buffer, size_t size,
                             const std::string& fileName, uint64_t* generation, State* out) {
    auto bad = [&](size_t offset, const char* what) {
        return Damaged(fileName + ": " + what + " at offset " + std::to_string(offset));
    };
    if (size < 52)
        return bad(0, "file too short");
    const size_t bodyLen = size - 8;
    if (Checksum64(buffer.get(), bodyLen) != LoadU64(buffer.get() + bodyLen))
        return Damaged(fileName + ": damaged somewhere from offset 0 to offset " +
                       std::to_string(bodyLen) + " (its checksum does not match)");
    State s;
    // The texts are copied out, so the buffer goes when the records are read.
    const std::string_view data(buffer.get(), bodyLen);
    Decoder d(data);
    if (d.U32() != kSnapshotMagic)
        return bad(0, "not a store snapshot");
    const uint32_t version = d.U32();
    if (version != 1 && version != kSnapshotVersion)
        return bad(4, "unknown snapshot version");
    const size_t fixed = version == 1 ? 40 : 48;
    *generation = d.U64();
    s.lastSeq = d.U64();
    s.nextFolderId = d.U32();
    s.nextMessageId = d.U32();
    s.nextFileNo = d.U64();
    if (s.nextFileNo > kFileNoLimit)
        return bad(32, "file counter out of range");
    uint32_t folderCount = d.U32();
    if (d.failed() || folderCount > d.remaining() / 20)
        return bad(d.pos(), "bad folder count");
    for (uint32_t i = 0; i < folderCount; ++i) {
        size_t at = d.pos();
        FolderRec f;
        f.id = d.U32();
        f.parent = d.U32();
        f.type = d.I32();
        f.name = std::string(d.Str());
        uint32_t n = d.U32();
        if (d.failed() || f.id == kRootFolder || s.folders_.count(f.id) != 0 || f.name.empty() ||
            n > d.remaining() / kMinEncodedMessage || f.id >= s.nextFolderId)
            return bad(at, "bad folder record");
        size_t pos = d.pos();
        if (!ReadSnapshotMessages(data, fixed, n, s, *s.text_, &f, &pos))
            return bad(pos, "bad message record");
        d = Decoder(data, pos);
        s.folders_.emplace(f.id, std::move(f));
    }
    if (d.remaining() != 0)
        return bad(d.pos(), "trailing bytes");
    for (auto& [id, f] : s.folders_) {
        if (id == kRootFolder)
            continue;
        auto p = s.folders_.find(f.parent);
        if (p == s.folders_.end())
            return bad(0, "folder with an unknown parent");
        p->second.children.insert(id);
    }
    for (const auto& [id, f] : s.folders_) {
        if (id != kRootFolder && !s.IsAncestorOrSelf(kRootFolder, id))
            return bad(0, "folder tree has a cycle");
    }
    *out = std::move(s);
    return Status();
}

} // namespace mailstore::detail
