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

} // namespace mailstore::detail
