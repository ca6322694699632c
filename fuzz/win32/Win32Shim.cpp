#include "Win32Shim.h"

#include <cstdlib>
#include <string>

const IID IID_IUnknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ISequentialStream = {
    0x0c733a30, 0x2a1c, 0x11ce, {0xad, 0xe5, 0, 0xaa, 0, 0x44, 0x77, 0x3d}};
const IID IID_IStream = {0x0000000c, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

// 0x80..0x9F of code page 1252; the five it leaves undefined map to the C1 code.
const uint16_t k1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsUtf8(UINT cp) {
    return cp == CP_UTF8;
}

// One code point of UTF-8 at s[i]; U+FFFD for each maximal bad subpart.
uint32_t DecodeUtf8(const unsigned char* s, size_t n, size_t* i) {
    const unsigned char c = s[*i];
    size_t len = c < 0x80                 ? 1
                 : c >= 0xC2 && c <= 0xDF ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 0;
    if (len == 0) {
        ++*i;
        return 0xFFFD;
    }
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        if (*i + k >= n || (s[*i + k] & 0xC0) != 0x80) {
            *i += k;
            return 0xFFFD;
        }
        const unsigned char b = s[*i + k];
        if (k == 1 && ((c == 0xE0 && b < 0xA0) || (c == 0xED && b > 0x9F) ||
                       (c == 0xF0 && b < 0x90) || (c == 0xF4 && b > 0x8F))) {
            *i += 1;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    *i += len;
    return cp;
}

template <class Put> void EncodeUtf8(uint32_t cp, Put&& put) {
    if (cp < 0x80) {
        put(static_cast<char>(cp));
    } else if (cp < 0x800) {
        put(static_cast<char>(0xC0 | (cp >> 6)));
        put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        put(static_cast<char>(0xE0 | (cp >> 12)));
        put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        put(static_cast<char>(0xF0 | (cp >> 18)));
        put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Counts or stores: the system's two-call pattern. Returns 0 when out is too small.
struct Sink {
    WCHAR* wout = nullptr;
    char* out = nullptr;
    int cap = 0;
    int n = 0;
    bool overflow = false;
    void Put(uint32_t unit) {
        if (cap > 0) {
            if (n >= cap) {
                overflow = true;
                return;
            }
            if (wout)
                wout[n] = static_cast<WCHAR>(unit);
            else
                out[n] = static_cast<char>(unit);
        }
        ++n;
    }
    int Result() const { return overflow ? 0 : n; }
};

} // namespace

UINT GetACP() {
    return 1252;
}

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR in, int inLen, WCHAR* out, int outLen) {
    if (codePage == CP_ACP)
        codePage = GetACP();
    if (!in || inLen < 0 || (codePage != CP_UTF8 && codePage != 1252))
        return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(in);
    Sink sink{out, nullptr, outLen};
    for (size_t i = 0; i < static_cast<size_t>(inLen);) {
        if (IsUtf8(codePage)) {
            uint32_t cp = DecodeUtf8(s, static_cast<size_t>(inLen), &i);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                sink.Put(0xD800 | (cp >> 10));
                sink.Put(0xDC00 | (cp & 0x3FF));
            } else {
                sink.Put(cp);
            }
        } else {
            const unsigned char c = s[i++];
            sink.Put(c >= 0x80 && c < 0xA0 ? k1252[c - 0x80] : c);
        }
    }
    return sink.Result();
}

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* in, int inLen, LPSTR out, int outLen,
                        LPCSTR defaultChar, BOOL* usedDefault) {
    if (codePage == CP_ACP)
        codePage = GetACP();
    if (!in || inLen < 0 || (codePage != CP_UTF8 && codePage != 1252) ||
        (IsUtf8(codePage) && (defaultChar || usedDefault)))
        return 0;
    Sink sink{nullptr, out, outLen};
    for (int i = 0; i < inLen; ++i) {
        uint32_t u = static_cast<uint32_t>(in[i]) & 0xFFFF;
        if (IS_HIGH_SURROGATE(u) && i + 1 < inLen && IS_LOW_SURROGATE(in[i + 1])) {
            u = 0x10000 + ((u - 0xD800) << 10) +
                ((static_cast<uint32_t>(in[++i]) & 0xFFFF) - 0xDC00);
        } else if (IS_HIGH_SURROGATE(u) || IS_LOW_SURROGATE(u)) {
            u = 0xFFFD;
        }
        if (IsUtf8(codePage)) {
            EncodeUtf8(u, [&](char c) { sink.Put(static_cast<unsigned char>(c)); });
            continue;
        }
        int byte = u < 0x80 || (u >= 0xA0 && u < 0x100) ? static_cast<int>(u) : -1;
        for (int k = 0; k < 32 && byte < 0; ++k)
            if (k1252[k] == u)
                byte = 0x80 + k;
        if (byte < 0) {
            byte = defaultChar ? static_cast<unsigned char>(defaultChar[0]) : '?';
            if (usedDefault)
                *usedDefault = TRUE;
        }
        sink.Put(static_cast<uint32_t>(byte));
    }
    return sink.Result();
}

void* CoTaskMemAlloc(size_t bytes) {
    return std::malloc(bytes ? bytes : 1);
}

void CoTaskMemFree(void* p) {
    std::free(p);
}

namespace mailstore::com {
void ObjectCreated() {}
void ObjectDestroyed() {}
} // namespace mailstore::com
