// Just enough of the Windows and COM headers for the server's stream and text
// code to build natively, so libFuzzer can run it. Text conversion follows the
// system's documented rules for UTF-8 and code page 1252 (the ANSI code page
// here); nothing else is provided.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef int32_t HRESULT;
typedef int BOOL;
typedef unsigned UINT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t WCHAR; // holds UTF-16 units here, as on Windows
typedef WCHAR* LPWSTR;
typedef void* HANDLE;
typedef HANDLE HINSTANCE;
typedef HANDLE HWND;
typedef char CHAR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
#define WM_USER 0x0400u

#define TRUE 1
#define FALSE 0

typedef union {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    int64_t QuadPart;
} LARGE_INTEGER;
typedef union {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    uint64_t QuadPart;
} ULARGE_INTEGER;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct GUID {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;
inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT name
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define SHIM_HR(x) static_cast<HRESULT>(static_cast<uint32_t>(x))
#define S_OK SHIM_HR(0)
#define S_FALSE SHIM_HR(1)
#define E_NOTIMPL SHIM_HR(0x80004001)
#define E_NOINTERFACE SHIM_HR(0x80004002)
#define E_POINTER SHIM_HR(0x80004003)
#define E_FAIL SHIM_HR(0x80004005)
#define E_UNEXPECTED SHIM_HR(0x8000FFFF)
#define E_OUTOFMEMORY SHIM_HR(0x8007000E)
#define E_INVALIDARG SHIM_HR(0x80070057)
#define STG_E_INVALIDFUNCTION SHIM_HR(0x80030001)
#define STG_E_ACCESSDENIED SHIM_HR(0x80030005)
#define STG_E_INVALIDPOINTER SHIM_HR(0x80030009)
#define STG_E_WRITEFAULT SHIM_HR(0x8003001D)
#define STG_E_READFAULT SHIM_HR(0x8003001E)
#define STG_E_MEDIUMFULL SHIM_HR(0x80030070)
#define STG_E_INVALIDFLAG SHIM_HR(0x800300FF)

enum { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };
enum { STGTY_STREAM = 2 };
#define STGM_READ 0x0u
#define STGM_SHARE_DENY_WRITE 0x20u

struct STATSTG {
    LPWSTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime, ctime, atime;
    DWORD grfMode, grfLocksSupported;
    GUID clsid;
    DWORD grfStateBits, reserved;
};

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};
struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER newSize) = 0;
    virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                           ULARGE_INTEGER* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT Clone(IStream** out) = 0;
};
extern const IID IID_IUnknown, IID_ISequentialStream, IID_IStream;

#define CP_ACP 0u
#define CP_UTF7 65000u
#define CP_UTF8 65001u
#define WC_NO_BEST_FIT_CHARS 0x400u
#define IS_HIGH_SURROGATE(w) ((static_cast<uint32_t>(w) & 0xFC00u) == 0xD800u)
#define IS_LOW_SURROGATE(w) ((static_cast<uint32_t>(w) & 0xFC00u) == 0xDC00u)

UINT GetACP();
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR in, int inLen, WCHAR* out, int outLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* in, int inLen, LPSTR out,
                        int outLen, LPCSTR defaultChar, BOOL* usedDefault);
void* CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(void* p);
