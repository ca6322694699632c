#include "SafeNames.h"

#include "Charsets.h"

namespace mailformat {

namespace {

std::string TrimEnd(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

// Cuts at a character boundary at most maxBytes in.
std::string CutUtf8(const std::string& s, size_t maxBytes) {
    if (s.size() <= maxBytes)
        return s;
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    return s.substr(0, cut);
}

// Marks that change the direction text is shown in: they can make
// "exe.pdf" look like "fdp.exe".
bool IsDirectionMark(std::string_view s, size_t i, size_t len) {
    if (len == 2)
        return static_cast<unsigned char>(s[i]) == 0xD8 &&
               static_cast<unsigned char>(s[i + 1]) == 0x9C; // U+061C
    if (len != 3 || static_cast<unsigned char>(s[i]) != 0xE2)
        return false;
    const unsigned char b1 = static_cast<unsigned char>(s[i + 1]);
    const unsigned char b2 = static_cast<unsigned char>(s[i + 2]);
    if (b1 == 0x80)
        return b2 == 0x8E || b2 == 0x8F || (b2 >= 0xAA && b2 <= 0xAE); // U+200E-F, U+202A-E
    return b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9;                     // U+2066-9
}

} // namespace

bool IsReservedDeviceName(std::string_view name) {
    std::string base(name.substr(0, name.find('.')));
    // Windows drops blanks at the end of the part it compares ("con .txt").
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"})
        if (base == device)
            return true;
    if (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0)
        return false;
    const std::string_view number = std::string_view(base).substr(3);
    // A digit, or a superscript one, two or three, which Windows counts as digits here.
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xc2\xb9" ||
           number == "\xc2\xb2" || number == "\xc2\xb3";
}

std::string SafeFileName(std::string_view text, size_t maxBytes, std::string_view fallback) {
    const std::string utf8 = mailstore::BytesToUtf8(text);
    std::string_view last(utf8);
    const size_t sep = last.find_last_of("/\\");
    if (sep != std::string_view::npos)
        last = last.substr(sep + 1);
    std::string s;
    for (size_t i = 0; i < last.size();) {
        const size_t len = mailstore::Utf8SequenceAt(last, i);
        const size_t step = len == 0 ? 1 : len;
        char put = last[i];
        if (len == 0 || IsDirectionMark(last, i, len)) {
            i += step;
            continue;
        }
        if (mailstore::IsControlAt(last, i))
            put = ' ';
        else if (std::string_view("<>:\"/\\|?*").find(put) != std::string_view::npos)
            put = '_';
        if (put == ' ' && (s.empty() || s.back() == ' ')) {
            i += step;
            continue;
        }
        if (put != last[i] || len == 1)
            s.push_back(put);
        else
            s.append(last.substr(i, len));
        i += step;
    }
    s = TrimEnd(s);
    if (s.size() > maxBytes) {
        // Keep a short extension: it tells what opens the file.
        const size_t dot = s.rfind('.');
        std::string ext = dot != std::string::npos && s.size() - dot <= 16 ? s.substr(dot) : "";
        if (ext.size() >= maxBytes)
            ext.clear();
        s = TrimEnd(CutUtf8(s.substr(0, s.size() - ext.size()), maxBytes - ext.size())) + ext;
    }
    while (!s.empty() && s[0] == '.')
        s[0] = '_';
    if (s.empty())
        s = std::string(fallback);
    if (IsReservedDeviceName(s))
        s = "_" + s;
    return s;
}

} // namespace mailformat
