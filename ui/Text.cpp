#include "Text.h"

#include <windows.h>

namespace ui {

// One conversion call: a code page never needs more UTF-16 units than bytes.
std::wstring FromAnsi(std::string_view text) {
    if (text.empty())
        return {};
    const int bytes = static_cast<int>(text.size());
    std::wstring result(text.size(), L'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, result.data(), bytes);
    result.resize(static_cast<size_t>(units > 0 ? units : 0));
    return result;
}

std::string ToAnsi(std::wstring_view text) {
    if (text.empty())
        return {};
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                     0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(),
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

} // namespace ui
