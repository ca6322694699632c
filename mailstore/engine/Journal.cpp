#include "Journal.h"

#include "Codec.h"

#include <utility>

namespace mailstore::detail {

namespace {

constexpr uint32_t kJournalMagic = 0x314A534D; // "MSJ1"
constexpr uint32_t kJournalVersion = 1;
constexpr uint32_t kRecordMagic = 0x524A534D;   // "MSJR"
constexpr uint32_t kIntentMagicV1 = 0x31494D4D; // "MMI1": no file contents
constexpr uint32_t kIntentMagic = 0x32494D4D;   // "MMI2"
constexpr size_t kIntentHead = 48;              // magic, spare, five numbers
constexpr size_t kIntentFileSize = 16;

// Length of a good record starting at data[pos], or 0.
size_t GoodRecordAt(std::string_view data, size_t pos) {
    if (data.size() - pos < kRecordHeaderSize)
        return 0;
    const char* h = data.data() + pos;
    if (LoadU32(h) != kRecordMagic)
        return 0;
    if (Crc32(h, 12) != LoadU32(h + 12))
        return 0;
    uint32_t len = LoadU32(h + 4);
    if (len > kMaxRecordPayload || data.size() - pos - kRecordHeaderSize < len)
        return 0;
    if (Crc32(h + kRecordHeaderSize, len) != LoadU32(h + 8))
        return 0;
    return kRecordHeaderSize + len;
}

} // namespace

std::string EncodeJournalHeader(uint64_t generation) {
    std::string out;
    Encoder e(&out);
    e.U32(kJournalMagic);
    e.U32(kJournalVersion);
    e.U64(generation);
    e.U32(0);
    e.U32(Crc32(out));
    return out;
}

bool DecodeJournalHeader(std::string_view bytes, uint64_t* generation) {
    if (bytes.size() < kJournalHeaderSize)
        return false;
    if (Crc32(bytes.data(), 20) != LoadU32(bytes.data() + 20))
        return false;
    Decoder d(bytes.substr(0, 20));
    if (d.U32() != kJournalMagic || d.U32() != kJournalVersion)
        return false;
    *generation = d.U64();
    return true;
}

void AppendRecord(std::string_view payload, std::string* out) {
    std::string header;
    Encoder e(&header);
    e.U32(kRecordMagic);
    e.U32(static_cast<uint32_t>(payload.size()));
    e.U32(Crc32(payload));
    e.U32(Crc32(header));
    out->append(header);
    out->append(payload.data(), payload.size());
}

ScanResult ScanRecords(std::string_view data, uint64_t base) {
    ScanResult r;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t len = GoodRecordAt(data, pos);
        if (len == 0)
            break;
        r.records.push_back(
            {base + pos, data.substr(pos + kRecordHeaderSize, len - kRecordHeaderSize)});
        pos += len;
    }
    r.validEnd = base + pos;
    if (pos == data.size())
        return r;
    // A write cut short leaves a record short. One whose every byte is there, by
    // its length word, was damaged after it was written.
    if (data.size() - pos >= kRecordHeaderSize) {
        const char* h = data.data() + pos;
        const uint64_t len = LoadU32(h + 4);
        const bool headerGood = LoadU32(h) == kRecordMagic && Crc32(h, 12) == LoadU32(h + 12);
        const uint64_t rest = data.size() - pos - kRecordHeaderSize;
        if (headerGood ? rest >= len : rest == len) {
            r.damaged = true;
            r.damageOffset = base + pos;
            return r;
        }
    }
    // Something bad at pos: damage if any good record starts later.
    for (size_t p = pos + 1; p + kRecordHeaderSize <= data.size(); ++p) {
        if (data[p] == 'M' && GoodRecordAt(data, p) != 0) {
            r.damaged = true;
            r.damageOffset = base + pos;
            return r;
        }
    }
    r.torn = true;
    return r;
}

std::string EncodeIntent(const Intent& intent) {
    std::string out;
    out.reserve(kIntentHead + intent.files.size() * kIntentFileSize + 8);
    Encoder e(&out);
    e.U32(kIntentMagic);
    e.U32(0);
    e.U64(intent.generation);
    e.U64(intent.journalEnd);
    e.U64(intent.lastSeq);
    e.U64(intent.first);
    e.U64(intent.files.size());
    for (const IntentFile& f : intent.files) {
        e.U64(f.size);
        e.U64(f.checksum);
    }
    e.U64(Checksum64(out.data(), out.size()));
    return out;
}

bool DecodeIntent(std::string_view bytes, Intent* intent) {
    if (bytes.size() < kIntentHead + 8 ||
        Checksum64(bytes.data(), bytes.size() - 8) != LoadU64(bytes.data() + bytes.size() - 8))
        return false;
    Decoder d(bytes.substr(0, bytes.size() - 8));
    const uint32_t magic = d.U32();
    d.U32();
    Intent in;
    in.generation = d.U64();
    in.journalEnd = d.U64();
    in.lastSeq = d.U64();
    in.first = d.U64();
    in.count = d.U64();
    if (d.failed())
        return false;
    if (magic == kIntentMagicV1) {
        if (d.remaining() != 0)
            return false;
    } else if (magic != kIntentMagic || d.remaining() % kIntentFileSize != 0 ||
               d.remaining() / kIntentFileSize != in.count) {
        return false;
    } else {
        in.files.resize(static_cast<size_t>(in.count));
        for (IntentFile& f : in.files) {
            f.size = d.U64();
            f.checksum = d.U64();
        }
    }
    if (d.failed())
        return false;
    *intent = std::move(in);
    return true;
}

} // namespace mailstore::detail
