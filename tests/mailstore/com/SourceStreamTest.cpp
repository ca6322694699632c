#include "SourceStream.h"

#include <shlwapi.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <limits>

#include <algorithm>
#include <cstring>
#include <string>

using mailstore::com::SourceReader;
using mailstore::com::SourceStream;
using Microsoft::WRL::ComPtr;

namespace {

// Serves at most `piece` bytes per call, so every consumer must loop.
class MemoryReader final : public SourceReader {
  public:
    MemoryReader(std::string data, size_t piece, bool failing = false)
        : data_(std::move(data)), piece_(piece), failing_(failing) {}
    uint64_t Size() const override { return data_.size(); }
    bool ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        *got = 0;
        if (failing_) {
            return false;
        }
        if (offset < data_.size()) {
            *got = std::min({len, piece_, static_cast<size_t>(data_.size() - offset)});
            std::memcpy(buf, data_.data() + offset, *got);
        }
        return true;
    }

  private:
    std::string data_;
    size_t piece_;
    bool failing_;
};

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    }
    return s;
}

ComPtr<IStream> Open(const std::string& data, size_t piece = 1000, bool failing = false) {
    ComPtr<IStream> stream;
    EXPECT_EQ(SourceStream::Create(std::make_unique<MemoryReader>(data, piece, failing),
                                   stream.GetAddressOf()),
              S_OK);
    return stream;
}

std::string ReadAll(IStream* stream, ULONG chunk) {
    std::string out;
    std::string buf(chunk, '\0');
    for (;;) {
        ULONG got = 0;
        EXPECT_EQ(stream->Read(buf.data(), chunk, &got), S_OK);
        if (got == 0) {
            return out;
        }
        out.append(buf.data(), got);
    }
}

} // namespace

TEST(SourceStream, StatGivesTheSizeAndReadsReturnTheBytesInAnyChunking) {
    const std::string data = Pattern(10007);
    auto stream = Open(data);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, data.size());
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(ReadAll(stream.Get(), 7), data);
    // Reading at the end gives nothing and stays successful.
    char c = 0;
    ULONG got = 99;
    EXPECT_EQ(stream->Read(&c, 1, &got), S_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(stream->Stat(nullptr, STATFLAG_DEFAULT), STG_E_INVALIDPOINTER);
}

TEST(SourceStream, SeekMovesFromEachOriginAndRefusesNegativePositions) {
    const std::string data = Pattern(5000);
    auto stream = Open(data);
    ULARGE_INTEGER pos{};
    LARGE_INTEGER move{};
    move.QuadPart = 100;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_SET, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 100u);
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 200u);
    char buf[10];
    ULONG got = 0;
    ASSERT_EQ(stream->Read(buf, 10, &got), S_OK);
    EXPECT_EQ(std::string(buf, got), data.substr(200, 10));
    move.QuadPart = -10;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 4990u);
    EXPECT_EQ(ReadAll(stream.Get(), 3), data.substr(4990));

    move.QuadPart = -1;
    EXPECT_EQ(stream->Seek(move, STREAM_SEEK_SET, &pos), STG_E_INVALIDFUNCTION);
    move.QuadPart = 0;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 5000u); // unchanged by the refused seek
    EXPECT_EQ(stream->Seek(move, 7, &pos), STG_E_INVALIDFUNCTION);

    // Past the largest position: refused, the position kept.
    move.QuadPart = std::numeric_limits<LONGLONG>::max();
    EXPECT_EQ(stream->Seek(move, STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek(move, STREAM_SEEK_SET, &pos), S_OK);
    move.QuadPart = 1;
    EXPECT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &pos), STG_E_INVALIDFUNCTION);
    move.QuadPart = 0;
    ASSERT_EQ(stream->Seek(move, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max()));
}

TEST(SourceStream, CopyToMovesLargeSourcesInPieces) {
    const std::string data = Pattern(5 * 1024 * 1024 + 123);
    auto stream = Open(data, 40000);
    ComPtr<IStream> target;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, target.GetAddressOf()), S_OK);

    // A part first, then the rest: the position carries over.
    ULARGE_INTEGER part{};
    part.QuadPart = 1000;
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(stream->CopyTo(target.Get(), part, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 1000u);
    EXPECT_EQ(written.QuadPart, 1000u);
    ULARGE_INTEGER all{};
    all.QuadPart = ~0ull;
    ASSERT_EQ(stream->CopyTo(target.Get(), all, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, data.size() - 1000);
    EXPECT_EQ(written.QuadPart, data.size() - 1000);

    HGLOBAL memory = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(target.Get(), &memory), S_OK);
    STATSTG stat{};
    ASSERT_EQ(target->Stat(&stat, STATFLAG_NONAME), S_OK);
    ASSERT_EQ(stat.cbSize.QuadPart, data.size());
    const void* bytes = GlobalLock(memory);
    EXPECT_EQ(std::memcmp(bytes, data.data(), data.size()), 0);
    GlobalUnlock(memory);

    EXPECT_EQ(stream->CopyTo(nullptr, all, &read, &written), STG_E_INVALIDPOINTER);
}

TEST(SourceStream, RefusesEveryChangeAndOtherInterfaces) {
    auto stream = Open("abc");
    ULONG n = 5;
    EXPECT_EQ(stream->Write("x", 1, &n), STG_E_ACCESSDENIED);
    EXPECT_EQ(n, 0u);
    ULARGE_INTEGER size{};
    EXPECT_EQ(stream->SetSize(size), STG_E_ACCESSDENIED);
    ComPtr<IStream> clone;
    EXPECT_TRUE(FAILED(stream->Clone(clone.GetAddressOf())));
    EXPECT_EQ(clone, nullptr);
    EXPECT_EQ(stream->LockRegion(size, size, LOCK_WRITE), STG_E_INVALIDFUNCTION);
    ComPtr<IStorage> storage;
    EXPECT_EQ(stream.As(&storage), E_NOINTERFACE);
    ComPtr<ISequentialStream> sequential;
    EXPECT_EQ(stream.As(&sequential), S_OK);
    EXPECT_EQ(ReadAll(stream.Get(), 2), "abc");
}

TEST(SourceStream, ReportsAFailingSource) {
    auto stream = Open("abcdef", 1000, true);
    char buf[4];
    ULONG got = 9;
    EXPECT_EQ(stream->Read(buf, 4, &got), STG_E_READFAULT);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(stream->Read(nullptr, 4, &got), STG_E_INVALIDPOINTER);
}
