#include "SourceStream.h"

#include "Module.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

namespace mailstore::com {
namespace {
constexpr size_t kCopyPiece = 64 * 1024;
}

SourceStream::SourceStream(std::unique_ptr<SourceReader> reader) : reader_(std::move(reader)) {
    ObjectCreated();
}

SourceStream::~SourceStream() {
    ObjectDestroyed();
}

HRESULT SourceStream::Create(std::unique_ptr<SourceReader> reader, IStream** out) {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    if (!reader) {
        return E_INVALIDARG;
    }
    auto* stream = new (std::nothrow) SourceStream(std::move(reader));
    if (!stream) {
        return E_OUTOFMEMORY;
    }
    *out = stream;
    return S_OK;
}

STDMETHODIMP SourceStream::QueryInterface(REFIID riid, void** ppv) {
    return HandOut(static_cast<IStream*>(this), riid,
                   {IID_IUnknown, IID_ISequentialStream, IID_IStream}, ppv);
}

HRESULT SourceStream::ReadSome(void* buf, size_t len, size_t* got) {
    *got = 0;
    const uint64_t size = reader_->Size();
    if (position_ >= size || len == 0) {
        return S_OK;
    }
    len = static_cast<size_t>(std::min<uint64_t>(len, size - position_));
    auto* bytes = static_cast<char*>(buf);
    while (*got < len) {
        size_t n = 0;
        if (!reader_->ReadAt(position_, bytes + *got, len - *got, &n)) {
            return STG_E_READFAULT;
        }
        if (n == 0) {
            break; // the source is shorter than announced
        }
        *got += n;
        position_ += n;
    }
    return S_OK;
}

STDMETHODIMP SourceStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) {
        *pcbRead = 0;
    }
    if (!pv) {
        return STG_E_INVALIDPOINTER;
    }
    size_t got = 0;
    const HRESULT hr = ReadSome(pv, cb, &got);
    if (pcbRead) {
        *pcbRead = static_cast<ULONG>(got);
    }
    return hr;
}

STDMETHODIMP SourceStream::Write(const void*, ULONG, ULONG* pcbWritten) {
    if (pcbWritten) {
        *pcbWritten = 0;
    }
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP SourceStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
    int64_t base = 0;
    switch (origin) {
    case STREAM_SEEK_SET:
        break;
    case STREAM_SEEK_CUR:
        base = static_cast<int64_t>(position_);
        break;
    case STREAM_SEEK_END:
        base = static_cast<int64_t>(reader_->Size());
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    // Checked before adding: an overflowing sum is undefined, not merely wrong.
    // `base` is never negative.
    if (move.QuadPart > std::numeric_limits<int64_t>::max() - base || base + move.QuadPart < 0) {
        return STG_E_INVALIDFUNCTION;
    }
    position_ = static_cast<uint64_t>(base + move.QuadPart);
    if (newPosition) {
        newPosition->QuadPart = position_;
    }
    return S_OK;
}

STDMETHODIMP SourceStream::SetSize(ULARGE_INTEGER) {
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP SourceStream::CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                  ULARGE_INTEGER* pcbWritten) {
    if (pcbRead) {
        pcbRead->QuadPart = 0;
    }
    if (pcbWritten) {
        pcbWritten->QuadPart = 0;
    }
    if (!target) {
        return STG_E_INVALIDPOINTER;
    }
    try {
        std::vector<char> piece(kCopyPiece);
        uint64_t left = cb.QuadPart;
        uint64_t read = 0;
        uint64_t written = 0;
        HRESULT hr = S_OK;
        while (left > 0) {
            size_t got = 0;
            const HRESULT readHr = ReadSome(
                piece.data(), static_cast<size_t>(std::min<uint64_t>(left, kCopyPiece)), &got);
            if (got == 0) {
                hr = readHr;
                break;
            }
            // Bytes read before a failure moved the position: they are passed on
            // and counted, so the counts tell where the stream stands.
            read += got;
            left -= got;
            ULONG put = 0;
            hr = target->Write(piece.data(), static_cast<ULONG>(got), &put);
            written += put;
            if (SUCCEEDED(hr) && FAILED(readHr)) {
                hr = readHr;
            }
            if (FAILED(hr)) {
                break;
            }
            if (put < got) {
                hr = STG_E_MEDIUMFULL;
                break;
            }
        }
        if (pcbRead) {
            pcbRead->QuadPart = read;
        }
        if (pcbWritten) {
            pcbWritten->QuadPart = written;
        }
        return FAILED(hr) ? hr : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// Nothing is ever changed, so there is nothing to commit or revert.
STDMETHODIMP SourceStream::Commit(DWORD) {
    return S_OK;
}
STDMETHODIMP SourceStream::Revert() {
    return S_OK;
}

STDMETHODIMP SourceStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP SourceStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return STG_E_INVALIDFUNCTION;
}

STDMETHODIMP SourceStream::Stat(STATSTG* stat, DWORD flags) {
    if (!stat) {
        return STG_E_INVALIDPOINTER;
    }
    if (flags != STATFLAG_DEFAULT && flags != STATFLAG_NONAME) {
        return STG_E_INVALIDFLAG;
    }
    *stat = STATSTG{};
    // A source has no name; a null name is valid for both flags.
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = reader_->Size();
    stat->grfMode = STGM_READ | STGM_SHARE_DENY_WRITE;
    return S_OK;
}

STDMETHODIMP SourceStream::Clone(IStream** out) {
    if (out) {
        *out = nullptr;
    }
    return E_NOTIMPL;
}

} // namespace mailstore::com
