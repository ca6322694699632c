#include "Text.h"

namespace ui {

// One conversion call: a code page never needs more UTF-16 units than bytes.
std::wstring FromAnsi(std::string_view text, UINT codePage) {
    if (text.empty())
        return {};
    const int bytes = static_cast<int>(text.size());
    std::wstring result(text.size(), L'\0');
    const int units = MultiByteToWideChar(codePage, 0, text.data(), bytes, result.data(), bytes);
    result.resize(static_cast<size_t>(units > 0 ? units : 0));
    return result;
}

std::string ToAnsi(std::wstring_view text, UINT codePage) {
    if (text.empty())
        return {};
    int length = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        length, nullptr, nullptr);
    return result;
}

bool FitsAnsi(std::wstring_view text) {
    if (text.empty() || GetACP() == CP_UTF8)
        return true; // every character has a UTF-8 form
    BOOL usedDefault = FALSE;
    // No best fit: an accented letter must not pass as the plain one.
    int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                            static_cast<int>(text.size()), nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}

size_t WholeChars(std::string_view text, UINT codePage) {
    if (codePage == CP_ACP)
        codePage = GetACP();
    if (codePage == CP_UTF8) {
        // Back over at most three continuation bytes to the sequence's first.
        size_t start = text.size();
        for (int back = 0; back < 4 && start > 0; ++back) {
            const auto byte = static_cast<unsigned char>(text[--start]);
            if ((byte & 0xC0) == 0x80)
                continue;
            const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            return text.size() - start < length ? start : text.size();
        }
        return text.size(); // no sequence start near the end: malformed, kept as it is
    }
    CPINFO info{};
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize < 2)
        return text.size();
    // Lead bytes are known only from the start: a trail byte may look like one.
    size_t at = 0;
    while (at < text.size()) {
        const size_t length = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[at])) ? 2 : 1;
        if (at + length > text.size())
            return at;
        at += length;
    }
    return text.size();
}

void LoadRichEdit() {
    struct Module {
        HMODULE handle = LoadLibraryW(L"riched20.dll");
        ~Module() {
            if (handle)
                FreeLibrary(handle);
        }
    };
    static const Module richEdit;
}

} // namespace ui
