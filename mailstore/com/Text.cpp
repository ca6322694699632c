#include "Text.h"

#include <objbase.h>

#include <cstring>

namespace mailstore::com {
namespace {

std::wstring Widen(std::string_view text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    // Text longer than an int cannot be converted in one call; the store never
    // holds such a header.
    const int inLen = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), inLen, nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), inLen, wide.data(), n);
    return wide;
}

// Code pages for which WideCharToMultiByte refuses a default character.
bool TakesDefaultChar(UINT codePage) {
    if (codePage == CP_ACP) {
        codePage = GetACP();
    }
    return codePage != CP_UTF8 && codePage != CP_UTF7;
}

std::string Narrow(const wchar_t* wide, int len, UINT codePage) {
    if (len <= 0) {
        return {};
    }
    const bool withDefault = TakesDefaultChar(codePage);
    const DWORD flags = withDefault ? WC_NO_BEST_FIT_CHARS : 0;
    const char* defaultChar = withDefault ? "?" : nullptr;
    const int n = WideCharToMultiByte(codePage, flags, wide, len, nullptr, 0, defaultChar, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide, len, out.data(), n, defaultChar, nullptr);
    return out;
}

// Plain ASCII is the same bytes in UTF-8 and in every ANSI code page, and it is
// most of what a folder's records hold: no conversion needed.
bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string Utf8ToCodePage(std::string_view utf8, UINT codePage, size_t maxBytes) {
    if ((codePage == CP_ACP || codePage == CP_UTF8) && utf8.size() <= maxBytes && IsAscii(utf8)) {
        return std::string(utf8);
    }
    const std::wstring wide = Widen(utf8, CP_UTF8);
    std::string whole = Narrow(wide.data(), static_cast<int>(wide.size()), codePage);
    if (whole.size() <= maxBytes) {
        return whole;
    }
    // Too long: add whole characters (a surrogate pair is one) while they fit.
    std::string out;
    size_t i = 0;
    while (i < wide.size()) {
        size_t units = 1;
        if (IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1])) {
            units = 2;
        }
        std::string piece = Narrow(wide.data() + i, static_cast<int>(units), codePage);
        if (out.size() + piece.size() > maxBytes) {
            break;
        }
        out += piece;
        i += units;
    }
    return out;
}

std::string WideToCodePage(std::wstring_view text, UINT codePage) {
    return Narrow(text.data(), static_cast<int>(text.size()), codePage);
}

std::string CodePageToUtf8(std::string_view text, UINT codePage) {
    const std::wstring wide = Widen(text, codePage);
    return Narrow(wide.data(), static_cast<int>(wide.size()), CP_UTF8);
}

LPSTR TaskStringDup(std::string_view text) {
    auto* copy = static_cast<LPSTR>(CoTaskMemAlloc(text.size() + 1));
    if (copy) {
        if (!text.empty()) {
            std::memcpy(copy, text.data(), text.size());
        }
        copy[text.size()] = '\0';
    }
    return copy;
}

std::string_view CodePageText(std::string_view utf8, std::string* scratch) {
    if (IsAscii(utf8)) {
        return utf8;
    }
    *scratch = Utf8ToCodePage(utf8);
    return *scratch;
}

} // namespace mailstore::com
