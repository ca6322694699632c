// Framing of the journal file: a header naming the snapshot generation it
// continues, then records of [magic, length, payload crc, header crc] + payload.
// Each record is one committed transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore::detail {

constexpr size_t kJournalHeaderSize = 24;
constexpr size_t kRecordHeaderSize = 16;
// No transaction comes near this; a larger length is damage, not a big record.
constexpr uint32_t kMaxRecordPayload = 256u << 20;

std::string EncodeJournalHeader(uint64_t generation);
// False when the bytes are not a journal header.
bool DecodeJournalHeader(std::string_view bytes, uint64_t* generation);

void AppendRecord(std::string_view payload, std::string* out);

struct ScannedRecord {
    uint64_t offset = 0; // of the record header, from the start of the file
    std::string_view payload;
};

struct ScanResult {
    std::vector<ScannedRecord> records;
    uint64_t validEnd = 0; // just past the last good record
    bool torn = false;     // bytes after validEnd that no good record follows
    bool damaged = false;  // a bad record with a good one after it
    uint64_t damageOffset = 0;
};

// Scans records in data, which holds the file from offset `base` on. A bad record
// followed by nothing good and shorter than its length word is a torn tail (a
// write cut short); a bad record with a good one after it, or with all the bytes
// its length word asks for, is damage.
ScanResult ScanRecords(std::string_view data, uint64_t base);

// What a writer is about to do, made durable before it creates a batch's message
// files: those files with the size and checksum of the bytes each is to hold,
// and where the journal stood. A journal that still ends there says the batch is
// not in it, but a backup restored over a store that committed the batch says so
// too, about the very same bytes: so the intent tells which files are the
// batch's, never that they may go (see ResolveIntent). Emptied once the commit
// is in.
struct IntentFile {
    uint64_t size = 0;
    uint64_t checksum = 0; // Checksum64 of the bytes; 0 when the writer did not know it
};

struct Intent {
    uint64_t generation = 0; // of the snapshot the journal continues
    uint64_t journalEnd = 0; // where the batch's record was to go
    uint64_t lastSeq = 0;    // the last committed change before it
    uint64_t first = 0;      // the batch's file numbers: first, first + 1, ...
    uint64_t count = 0;
    // One per number; empty in intents written before they held contents, which
    // then prove nothing about any file.
    std::vector<IntentFile> files;
    // What the batch meant to write under `no`, or null.
    const IntentFile* For(uint64_t no) const {
        return no >= first && no - first < files.size() ? &files[no - first] : nullptr;
    }
};

std::string EncodeIntent(const Intent& intent);
// False for anything but a whole, intact intent (an emptied file included).
bool DecodeIntent(std::string_view bytes, Intent* intent);

} // namespace mailstore::detail
