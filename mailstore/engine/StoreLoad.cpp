#include "StoreLoad.h"

#include "Journal.h"
#include "RecordCodec.h"

#include <algorithm>

namespace mailstore::detail {

namespace {

Status Unreadable(const std::string& journalPath, const detail::ScannedRecord& r) {
    return Status(ErrorCode::Corrupt,
                  journalPath + ": unreadable record at offset " + std::to_string(r.offset));
}

bool DeletesOnly(const Transaction& tx) {
    return tx.ops.size() == 1 && tx.ops[0].type == OpType::DeleteMessages;
}

// Extends a deletion from one folder by the records from `from` on that delete
// from that folder and nothing else, in sequence; returns the end of that run.
size_t DeleteRun(const std::vector<detail::ScannedRecord>& records, size_t from, uint64_t seq,
                 Op* merged) {
    size_t end = from;
    for (Transaction tx; end < records.size(); ++end, ++seq) {
        if (!detail::DecodeTransaction(records[end].payload, &tx) || tx.seq != seq + 1 ||
            !DeletesOnly(tx) || tx.ops[0].folder != merged->folder)
            break;
        merged->ids.insert(merged->ids.end(), tx.ops[0].ids.begin(), tx.ops[0].ids.end());
    }
    return end;
}

} // namespace

// Applies journal records (file bytes from offset base on) to state. Without
// events, a run of deletions from one folder (another writer deleting in
// batches) is applied at once: one pass over the folder, not one per record.
Status ReplayRecords(std::string_view data, uint64_t base, const std::string& journalPath,
                     State* state, std::vector<ChangeEvent>* events, std::vector<uint64_t>* freed,
                     detail::ScanResult* scan) {
    *scan = detail::ScanRecords(data, base);
    if (scan->damaged)
        return Status(ErrorCode::Corrupt, journalPath + ": damaged record at offset " +
                                              std::to_string(scan->damageOffset));
    const std::vector<detail::ScannedRecord>& records = scan->records;
    size_t singly = 0; // records before this are replayed one by one
    for (size_t i = 0; i < records.size(); ++i) {
        Transaction tx;
        if (!detail::DecodeTransaction(records[i].payload, &tx))
            return Unreadable(journalPath, records[i]);
        if (!events && i >= singly && DeletesOnly(tx) && tx.seq == state->lastSeq + 1) {
            Op merged = tx.ops[0];
            const size_t end = DeleteRun(records, i + 1, tx.seq, &merged);
            if (end > i + 1 && state->Apply(merged, nullptr, freed).ok()) {
                state->lastSeq += end - i;
                i = end - 1;
                continue;
            }
            // It does not fit (and changed nothing): record by record, so
            // the damage is named where it is.
            singly = end;
        }
        Status s = state->Apply(tx, events, freed);
        if (!s.ok())
            return Status(ErrorCode::Corrupt, journalPath + ": record at offset " +
                                                  std::to_string(records[i].offset) +
                                                  " does not fit: " + s.message());
    }
    return Status();
}

namespace {

// With diffBase, events turn diffBase into the snapshot's state, then follow the
// journal's records one by one.
Status LoadStoreOnce(FileSystem& fs, const std::string& dir, Loaded* out, const State* diffBase,
                     std::vector<ChangeEvent>* events, bool* raced) {
    const std::string snapPath = dir + "/" + kSnapshotName;
    const std::string journalPath = dir + "/" + kJournalName;
    std::unique_ptr<char[]> snap;
    size_t snapSize = 0;
    bool missing = false;
    Status s = ReadWholeRaw(fs, snapPath, &snap, &snapSize, &missing);
    if (!s.ok()) {
        if (missing)
            return Status(ErrorCode::NotAStore, dir + " holds no mail store");
        return StoreFileError(fs, snapPath, s);
    }
    s = State::DecodeSnapshot(std::move(snap), snapSize, snapPath, &out->generation, &out->state);
    if (!s.ok())
        return s;
    if (diffBase != nullptr)
        State::Diff(*diffBase, out->state, events);
    std::string journal;
    s = ReadWhole(fs, journalPath, &journal, &missing);
    if (!s.ok()) {
        // Made before the snapshot and only ever replaced whole: never missing by itself.
        if (missing)
            return Status(ErrorCode::Corrupt,
                          journalPath + ": missing at offset 0; the changes since the snapshot "
                                        "are gone with it");
        return StoreFileError(fs, journalPath, s);
    }
    uint64_t jgen = 0;
    if (!detail::DecodeJournalHeader(journal, &jgen))
        return Status(ErrorCode::Corrupt, journalPath + ": bad header at offset 0");
    if (jgen < out->generation) {
        out->journalStale = true; // its records are all in the snapshot already
        out->journalEnd = 0;
        return Status();
    }
    if (jgen > out->generation) {
        // Another process may have compacted between the two reads.
        *raced = true;
        return Status(ErrorCode::Corrupt,
                      journalPath + ": continues a snapshot that is missing (offset 8)");
    }
    detail::ScanResult scan;
    std::string_view body = std::string_view(journal).substr(detail::kJournalHeaderSize);
    s = ReplayRecords(body, detail::kJournalHeaderSize, journalPath, &out->state, events,
                      &out->freedFiles, &scan);
    if (!s.ok())
        return s;
    out->journalEnd = scan.validEnd;
    out->torn = scan.torn;
    out->journalRecords = scan.records.size();
    return Status();
}

} // namespace

Status LoadStore(FileSystem& fs, const std::string& dir, Loaded* out, const State* diffBase,
                 std::vector<ChangeEvent>* events) {
    for (int attempt = 0;; ++attempt) {
        bool raced = false;
        std::vector<ChangeEvent> attemptEvents;
        Loaded l;
        Status s = LoadStoreOnce(fs, dir, &l, diffBase, events ? &attemptEvents : nullptr, &raced);
        if (raced && attempt < 5)
            continue;
        if (s.ok()) {
            *out = std::move(l);
            if (events)
                events->insert(events->end(), attemptEvents.begin(), attemptEvents.end());
        }
        return s;
    }
}

// ---- Creating ------------------------------------------------------------------------

// Whether a directory without a snapshot holds only what a creation cut short
// leaves: no message files and a journal (if any) that never got a record.
bool UnfinishedCreation(FileSystem& fs, const std::string& dir, const Survey& v) {
    if (v.messageFiles)
        return false;
    std::string journal;
    bool missing = false;
    if (!ReadWhole(fs, dir + "/" + kJournalName, &journal, &missing).ok())
        return missing;
    uint64_t gen = 0;
    return journal.size() == detail::kJournalHeaderSize &&
           detail::DecodeJournalHeader(journal, &gen) && gen == 1;
}

namespace {

Status DamagedStore(const std::string& dir, const Survey& v) {
    return Status(ErrorCode::Corrupt, dir +
                                          " is a damaged store: snapshot.bin is missing, but it "
                                          "holds " +
                                          v.description +
                                          "; nothing was changed (mailstore check tells more)");
}

} // namespace

// Open of a directory without a snapshot.
Status NoSnapshot(FileSystem& fs, const std::string& dir) {
    const Survey v = SurveyDir(fs, dir);
    if (v.storeFiles && !UnfinishedCreation(fs, dir, v))
        return DamagedStore(dir, v);
    return Status(ErrorCode::NotAStore, dir + " holds no mail store");
}

// A new store, only in a missing or empty directory (or over a creation cut short).
Status CreateStore(FileSystem& fs, const std::string& dir, unsigned lockTimeoutMs) {
    Survey v = SurveyDir(fs, dir);
    if (v.storeFiles && !UnfinishedCreation(fs, dir, v))
        return DamagedStore(dir, v);
    if (v.otherFiles)
        return Status(ErrorCode::InvalidArgument,
                      dir + " is not empty: a new store is only made in an empty or new directory");
    Status s = fs.CreateDir(dir);
    if (s.ok())
        s = fs.CreateDir(dir + "/" + kMessagesDir);
    std::unique_ptr<FileLock> lock;
    if (s.ok())
        s = fs.Lock(dir + "/" + kLockName, lockTimeoutMs, &lock);
    if (!s.ok() || fs.Exists(dir + "/" + kSnapshotName))
        return s; // made by another process meanwhile
    v = SurveyDir(fs, dir);
    if (!UnfinishedCreation(fs, dir, v))
        return DamagedStore(dir, v);
    // Journal first: a snapshot is what marks the directory as a store.
    std::string snap;
    State::Initial().EncodeSnapshot(1, &snap);
    s = ReplaceFile(fs, dir, kJournalName, detail::EncodeJournalHeader(1));
    if (s.ok())
        s = ReplaceFile(fs, dir, kSnapshotName, snap);
    return s;
}

} // namespace mailstore::detail
