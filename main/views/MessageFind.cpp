#include "main/views/MessageFind.h"
#include "ui/Text.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace message_find {

namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Lower case without accents: "Renée" and "RENEE" both become "renee".
std::wstring Fold(std::wstring_view text) {
    std::wstring lower(text);
    if (lower.empty())
        return lower;
    LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_LOWERCASE, text.data(),
                  static_cast<int>(text.size()), lower.data(), static_cast<int>(lower.size()),
                  nullptr, nullptr, 0);
    // Accented letters apart into letter and marks, then the marks dropped.
    const int length = static_cast<int>(lower.size());
    const int needed = FoldStringW(MAP_COMPOSITE, lower.data(), length, nullptr, 0);
    if (needed <= 0)
        return lower;
    std::wstring parts(static_cast<size_t>(needed), L'\0');
    if (FoldStringW(MAP_COMPOSITE, lower.data(), length, parts.data(), needed) != needed)
        return lower;
    std::vector<WORD> types(parts.size());
    if (!GetStringTypeW(CT_CTYPE3, parts.data(), needed, types.data()))
        return lower;
    std::wstring folded;
    folded.reserve(parts.size());
    for (size_t i = 0; i < parts.size(); ++i)
        if (!(types[i] & C3_NONSPACING))
            folded.push_back(parts[i]);
    return folded;
}

// Fold of each character up to U+017F (the Latin letters with accents most
// names use), asked of the system once; 0 where the fold is not one character.
const std::wstring& LatinFolds() {
    static const std::wstring table = [] {
        std::wstring folds(0x180, L'\0');
        for (wchar_t c = 0; c < 0x180; ++c) {
            const std::wstring one = Fold(std::wstring_view(&c, 1));
            folds[c] = one.size() == 1 ? one[0] : L'\0';
        }
        return folds;
    }();
    return table;
}

// Fold(ui::FromUtf8(utf8)) without the system's help when every character is in the
// table: the usual text beyond ASCII costs a table look-up a character.
bool QuickFold(std::string_view utf8, std::wstring& out) {
    const std::wstring& folds = LatinFolds();
    out.clear();
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            out.push_back(static_cast<wchar_t>(AsciiLower(static_cast<char>(byte))));
            continue;
        }
        // Two-byte sequences up to U+017F lead with C2 to C5.
        if (byte < 0xC2 || byte > 0xC5 || i + 1 >= utf8.size() ||
            (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) != 0x80)
            return false;
        const wchar_t c = static_cast<wchar_t>(((byte & 0x1F) << 6) |
                                               (static_cast<unsigned char>(utf8[++i]) & 0x3F));
        if (!folds[c])
            return false;
        out.push_back(folds[c]);
    }
    return true;
}

} // namespace

TextMatcher::TextMatcher(std::wstring_view needle) : wide_(Fold(needle)) {
    for (wchar_t c : wide_)
        ascii_ = ascii_ && c < 0x80;
    if (ascii_)
        for (wchar_t c : wide_)
            narrow_.push_back(static_cast<char>(c));
}

bool TextMatcher::Matches(std::string_view utf8) const {
    if (wide_.empty())
        return false;
    const bool plain = std::all_of(utf8.begin(), utf8.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    // Folded ASCII stays ASCII, so only texts beyond it can hold another needle;
    // those are folded whole, as an accented letter may match a plain one.
    if (!plain) {
        std::wstring folded;
        if (!QuickFold(utf8, folded))
            folded = Fold(ui::FromUtf8(utf8));
        return folded.find(wide_) != std::wstring::npos;
    }
    if (!ascii_)
        return false;
    if (utf8.size() < narrow_.size())
        return false;
    const char first = narrow_[0];
    const size_t last = utf8.size() - narrow_.size();
    for (size_t at = 0; at <= last; ++at) {
        if (AsciiLower(utf8[at]) != first)
            continue;
        size_t i = 1;
        while (i < narrow_.size() && AsciiLower(utf8[at + i]) == narrow_[i])
            ++i;
        if (i == narrow_.size())
            return true;
    }
    return false;
}

std::ptrdiff_t Next(const MessageRows& rows, std::wstring_view text, std::ptrdiff_t from,
                    bool forward) {
    const TextMatcher matcher(text);
    const auto count = static_cast<std::ptrdiff_t>(rows.Count());
    if (matcher.Empty() || count == 0)
        return -1;
    if (from < 0 || from >= count)
        from = forward ? count - 1 : 0; // so the first step lands on the first (last) row
    const std::ptrdiff_t step = forward ? 1 : count - 1;
    for (std::ptrdiff_t visited = 0, at = from; visited < count; ++visited) {
        at = (at + step) % count;
        const auto index = static_cast<size_t>(at);
        if (matcher.Matches(rows.Text(index, 0)) || matcher.Matches(rows.Text(index, 1)))
            return at;
    }
    return -1;
}

} // namespace message_find
