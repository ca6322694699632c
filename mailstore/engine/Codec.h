// Little-endian encoding of the store's metadata and the CRC-32 that guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace mailstore::detail {

uint32_t Crc32(const void* data, size_t len, uint32_t crc = 0);
// A 64-bit checksum several times faster than CRC-32, for the snapshot, which is
// checked in full on every open.
uint64_t Checksum64(const void* data, size_t len);
inline uint32_t Crc32(std::string_view s) {
    return Crc32(s.data(), s.size());
}

class Encoder {
  public:
    explicit Encoder(std::string* out) : out_(out) {}
    void U8(uint8_t v) { out_->push_back(static_cast<char>(v)); }
    void U32(uint32_t v) {
        char b[4];
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        out_->append(b, 4);
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void Str(std::string_view s) {
        U32(static_cast<uint32_t>(s.size()));
        out_->append(s.data(), s.size());
    }

  private:
    std::string* out_;
};

// Reads what Encoder wrote; any read past the end sets failed() and yields zeros,
// so callers check once at the end.
class Decoder {
  public:
    explicit Decoder(std::string_view in, size_t pos = 0) : in_(in), pos_(pos) {}
    uint8_t U8() {
        if (!Need(1))
            return 0;
        return static_cast<uint8_t>(in_[pos_++]);
    }
    uint32_t U32() {
        if (!Need(4))
            return 0;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(static_cast<unsigned char>(in_[pos_ + i])) << (8 * i);
        pos_ += 4;
        return v;
    }
    uint64_t U64() {
        uint64_t lo = U32();
        uint64_t hi = U32();
        return lo | (hi << 32);
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    std::string_view Str() {
        uint32_t n = U32();
        if (!Need(n))
            return {};
        std::string_view s = in_.substr(pos_, n);
        pos_ += n;
        return s;
    }
    bool failed() const { return failed_; }
    size_t pos() const { return pos_; }
    size_t remaining() const { return in_.size() - pos_; }

  private:
    bool Need(size_t n) {
        if (failed_ || in_.size() - pos_ < n) {
            failed_ = true;
            return false;
        }
        return true;
    }
    std::string_view in_;
    size_t pos_;
    bool failed_ = false;
};

// Loads from unaligned little-endian bytes; memcpy becomes a single move on
// the little-endian machines the store runs on.
inline bool LittleEndianHost() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

inline uint32_t LoadU32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if (!LittleEndianHost())
        v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}

inline uint64_t LoadU64(const char* p) {
    return static_cast<uint64_t>(LoadU32(p)) | static_cast<uint64_t>(LoadU32(p + 4)) << 32;
}

} // namespace mailstore::detail
