// Reading a store: the snapshot, then the journal records after it, into the
// state a Store works on; and making a new store.
#pragma once

#include "Journal.h"
#include "State.h"
#include "StoreFiles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mailstore::detail {

struct Loaded {
    State state;
    uint64_t generation = 0;
    uint64_t journalEnd = 0;
    bool journalStale = false; // journal missing or older than the snapshot
    bool torn = false;
    uint64_t journalRecords = 0;
    std::vector<uint64_t> freedFiles; // freed by records since the snapshot
};

// Applies journal records (file bytes from offset base on) to state. Without
// events, a run of deletions from one folder (another writer deleting in
// batches) is applied at once: one pass over the folder, not one per record.
Status ReplayRecords(std::string_view data, uint64_t base, const std::string& journalPath,
                     State* state, std::vector<ChangeEvent>* events, std::vector<uint64_t>* freed,
                     detail::ScanResult* scan);
Status LoadStore(FileSystem& fs, const std::string& dir, Loaded* out,
                 const State* diffBase = nullptr, std::vector<ChangeEvent>* events = nullptr);
// Whether a directory without a snapshot holds only what a creation cut short
// leaves: no message files and a journal (if any) that never got a record.
bool UnfinishedCreation(FileSystem& fs, const std::string& dir, const Survey& v);
// Open of a directory without a snapshot.
Status NoSnapshot(FileSystem& fs, const std::string& dir);
// A new store, only in a missing or empty directory (or over a creation cut short).
Status CreateStore(FileSystem& fs, const std::string& dir, unsigned lockTimeoutMs);

} // namespace mailstore::detail
