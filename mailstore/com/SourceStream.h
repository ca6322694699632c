// A read-only IStream over a message source that is read in pieces, so a
// source of any size is never held in memory whole.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "RefCounted.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace mailstore::com {

// Random access to the bytes of one message source.
class SourceReader {
  public:
    virtual ~SourceReader() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to `len` bytes at `offset` into `buf`; false on an I/O failure.
    virtual bool ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) = 0;
};

class SourceStream final : public RefCounted<IStream> {
  public:
    // The new stream holds one reference.
    static HRESULT Create(std::unique_ptr<SourceReader> reader, IStream** out);

    SourceStream(const SourceStream&) = delete;
    SourceStream& operator=(const SourceStream&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;

    // ISequentialStream
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;

    // IStream
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER newSize) override;
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                        ULARGE_INTEGER* pcbWritten) override;
    STDMETHODIMP Commit(DWORD flags) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override;
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
    STDMETHODIMP Clone(IStream** out) override;

  private:
    explicit SourceStream(std::unique_ptr<SourceReader> reader);
    ~SourceStream();

    // Reads up to `len` bytes at the current position and advances it.
    HRESULT ReadSome(void* buf, size_t len, size_t* got);

    std::unique_ptr<SourceReader> reader_;
    uint64_t position_ = 0;
};

} // namespace mailstore::com
