#include "Codec.h"

namespace mailstore::detail {

namespace {

struct CrcTable {
    uint32_t t[8][256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i) {
            for (int s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
        }
    }
};

const CrcTable& Table() {
    static const CrcTable table;
    return table;
}

} // namespace

uint32_t Crc32(const void* data, size_t len, uint32_t crc) {
    const CrcTable& tb = Table();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    // Eight bytes a step: the journal and snapshot are checked on every open.
    while (len >= 8) {
        uint32_t lo = crc ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = tb.t[7][lo & 0xFF] ^ tb.t[6][(lo >> 8) & 0xFF] ^ tb.t[5][(lo >> 16) & 0xFF] ^
              tb.t[4][lo >> 24] ^ tb.t[3][p[4]] ^ tb.t[2][p[5]] ^ tb.t[1][p[6]] ^ tb.t[0][p[7]];
        p += 8;
        len -= 8;
    }
    while (len-- > 0)
        crc = tb.t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

namespace {
constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kP3 = 0x165667B19E3779F9ull;

inline uint64_t Rotl(uint64_t v, int r) {
    return (v << r) | (v >> (64 - r));
}
inline uint64_t Round(uint64_t acc, uint64_t word) {
    return Rotl(acc + word * kP2, 31) * kP1;
}
} // namespace

uint64_t Checksum64(const void* data, size_t len) {
    const char* p = static_cast<const char*>(data);
    // Four independent lanes keep the multiplier busy.
    uint64_t a = kP1 + kP2, b = kP2, c = 0, d = 0 - kP1;
    size_t i = 0;
    for (; i + 32 <= len; i += 32) {
        a = Round(a, LoadU64(p + i));
        b = Round(b, LoadU64(p + i + 8));
        c = Round(c, LoadU64(p + i + 16));
        d = Round(d, LoadU64(p + i + 24));
    }
    uint64_t h = Rotl(a, 1) + Rotl(b, 7) + Rotl(c, 12) + Rotl(d, 18) + static_cast<uint64_t>(len);
    for (; i + 8 <= len; i += 8)
        h = Rotl(h ^ Round(0, LoadU64(p + i)), 27) * kP1 + kP3;
    for (; i < len; ++i)
        h = Rotl(h ^ (static_cast<uint64_t>(static_cast<unsigned char>(p[i])) * kP3), 11) * kP1;
    h ^= h >> 33;
    h *= kP2;
    h ^= h >> 29;
    h *= kP3;
    h ^= h >> 32;
    return h;
}

} // namespace mailstore::detail
