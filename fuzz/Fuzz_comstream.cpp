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
// The stream under test beside what it must hold: the bytes and the position.
struct Model {
    IStream* stream;
    std::string bytes;
    uint64_t failAt;
    uint64_t pos = 0;
    uint64_t Left(uint64_t want) const {
        return pos >= bytes.size() ? 0 : std::min<uint64_t>(want, bytes.size() - pos);
    }
};

void Read(Model& m, Input& in) {
    const ULONG cb = static_cast<ULONG>(in.Take(2));
    std::string buf(cb, '\0');
    ULONG got = 0;
    const HRESULT hr = m.stream->Read(buf.data(), cb, &got);
    if (hr == S_OK &&
        (got != m.Left(cb) || (got > 0 && buf.compare(0, got, m.bytes, m.pos, got) != 0)))
        std::abort();
    if (hr != S_OK && (m.failAt == UINT64_MAX || hr != STG_E_READFAULT))
        std::abort();
    m.pos += got;
}

void Seek(Model& m, Input& in) {
    LARGE_INTEGER move;
    move.QuadPart = static_cast<int64_t>(in.Take(8));
    const DWORD origin = static_cast<DWORD>(in.Take(1) % 4);
    const __int128 base = origin == 0 ? 0 : origin == 1 ? m.pos : m.bytes.size();
    const __int128 target = base + move.QuadPart;
    const bool ok = origin < 3 && target >= 0 && target <= INT64_MAX;
    ULARGE_INTEGER now{};
    const HRESULT hr = m.stream->Seek(move, origin, &now);
    if ((hr == S_OK) != ok || (ok && now.QuadPart != static_cast<uint64_t>(target)))
        std::abort();
    if (ok)
        m.pos = static_cast<uint64_t>(target);
}

void Copy(Model& m, Input& in) {
    Sink sink(static_cast<size_t>(in.Take(2)));
    ULARGE_INTEGER cb, read{}, written{};
    cb.QuadPart = in.Take(3);
    const HRESULT hr = m.stream->CopyTo(&sink, cb, &read, &written);
    const uint64_t from = std::min<uint64_t>(m.pos, m.bytes.size());
    if (written.QuadPart != sink.bytes.size() || read.QuadPart < written.QuadPart ||
        sink.bytes.compare(0, std::string::npos, m.bytes, from, sink.bytes.size()) != 0)
        std::abort();
    if (hr == S_OK && m.failAt == UINT64_MAX && read.QuadPart != m.Left(cb.QuadPart))
        std::abort();
    m.pos += read.QuadPart;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const size_t length = in.Take(1) * 7;
    const size_t piece = 1 + in.Take(1) % 64;
    const uint8_t failByte = static_cast<uint8_t>(in.Take(1));
    Model m{nullptr, std::string(length, '\0'), failByte < 200 ? UINT64_MAX : failByte % 32 * 16};
    for (size_t i = 0; i < length; ++i)
        m.bytes[i] = static_cast<char>(i * 131 + 7);
    if (SourceStream::Create(std::make_unique<Source>(m.bytes, piece, m.failAt), &m.stream) != S_OK)
        std::abort();
    for (int step = 0; step < 32 && in.left > 0; ++step) {
        const uint64_t op = in.Take(1) % 4;
        STATSTG st;
        if (op == 0)
            Read(m, in);
        else if (op == 1)
            Seek(m, in);
        else if (op == 2)
            Copy(m, in);
        else if (m.stream->Stat(&st, STATFLAG_NONAME) != S_OK || st.cbSize.QuadPart != length)
            std::abort();
    }
    ULONG put = 1;
    if (m.stream->Write("x", 1, &put) != STG_E_ACCESSDENIED || put != 0)
        std::abort();
    m.stream->Release();
    return 0;
}
