// The server's message stream under any sequence of reads, seeks, copies and
// stat calls, over a source that may come in short pieces or fail: it answers
// as a plain model of a read-only stream does. Built natively over a shim of
// the few Windows types it uses.
#include "SourceStream.h"

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace mailstore::com;

namespace {
class Source : public SourceReader {
  public:
    Source(std::string bytes, size_t piece, uint64_t failAt)
        : bytes_(std::move(bytes)), piece_(piece), failAt_(failAt) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        if (offset >= failAt_)
            return false;
        *got =
            offset >= bytes_.size() ? 0 : std::min<uint64_t>({len, piece_, bytes_.size() - offset});
        std::memcpy(buf, bytes_.data() + offset, *got);
        return true;
    }

  private:
    std::string bytes_;
    size_t piece_;
    uint64_t failAt_;
};

// A target for CopyTo that keeps what it is given, up to a limit.
class Sink final : public IStream {
  public:
    explicit Sink(size_t room) : room_(room) {}
    std::string bytes;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const void* pv, ULONG cb, ULONG* put) override {
        const size_t n = std::min<size_t>(cb, room_ - bytes.size());
        bytes.append(static_cast<const char*>(pv), n);
        *put = static_cast<ULONG>(n);
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }

  private:
    size_t room_;
};

struct Input {
    const uint8_t* p;
    size_t left;
    uint64_t Take(size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) {
            v <<= 8;
            if (left > 0) {
                v |= *p++;
                --left;
            }
        }
        return v;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const size_t length = in.Take(1) * 7;
    const size_t piece = 1 + in.Take(1) % 64;
    const uint8_t failByte = static_cast<uint8_t>(in.Take(1));
    const uint64_t failAt = failByte < 200 ? UINT64_MAX : failByte % 32 * 16;
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(i * 131 + 7);
    IStream* stream = nullptr;
    if (SourceStream::Create(std::make_unique<Source>(bytes, piece, failAt), &stream) != S_OK)
        std::abort();
    uint64_t pos = 0;
    for (int step = 0; step < 32 && in.left > 0; ++step) {
        switch (in.Take(1) % 4) {
        case 0: { // read
            const ULONG cb = static_cast<ULONG>(in.Take(2));
            std::string buf(cb, '\0');
            ULONG got = 0;
            const HRESULT hr = stream->Read(buf.data(), cb, &got);
            const uint64_t want = pos >= length ? 0 : std::min<uint64_t>(cb, length - pos);
            if (hr == S_OK &&
                (got != want || (got > 0 && buf.compare(0, got, bytes, pos, got) != 0)))
                std::abort();
            if (hr != S_OK && (failAt == UINT64_MAX || hr != STG_E_READFAULT))
                std::abort();
            pos += got;
            break;
        }
        case 1: { // seek
            LARGE_INTEGER move;
            move.QuadPart = static_cast<int64_t>(in.Take(8));
            const DWORD origin = static_cast<DWORD>(in.Take(1) % 4);
            const __int128 base = origin == 0 ? 0 : origin == 1 ? pos : length;
            const __int128 target = base + move.QuadPart;
            const bool ok = origin < 3 && target >= 0 && target <= INT64_MAX;
            ULARGE_INTEGER now{};
            const HRESULT hr = stream->Seek(move, origin, &now);
            if ((hr == S_OK) != ok || (ok && now.QuadPart != static_cast<uint64_t>(target)))
                std::abort();
            if (ok)
                pos = static_cast<uint64_t>(target);
            break;
        }
        case 2: { // copy
            Sink sink(static_cast<size_t>(in.Take(2)));
            ULARGE_INTEGER cb, read{}, written{};
            cb.QuadPart = in.Take(3);
            const HRESULT hr = stream->CopyTo(&sink, cb, &read, &written);
            if (written.QuadPart != sink.bytes.size() || read.QuadPart < written.QuadPart ||
                sink.bytes.compare(0, std::string::npos, bytes, std::min<uint64_t>(pos, length),
                                   sink.bytes.size()) != 0)
                std::abort();
            if (hr == S_OK && failAt == UINT64_MAX &&
                read.QuadPart !=
                    (pos >= length ? 0 : std::min<uint64_t>(cb.QuadPart, length - pos)))
                std::abort();
            pos += read.QuadPart;
            break;
        }
        default: { // stat
            STATSTG st;
            if (stream->Stat(&st, STATFLAG_NONAME) != S_OK || st.cbSize.QuadPart != length)
                std::abort();
        }
        }
    }
    ULONG put = 1;
    if (stream->Write("x", 1, &put) != STG_E_ACCESSDENIED || put != 0)
        std::abort();
    stream->Release();
    return 0;
}
