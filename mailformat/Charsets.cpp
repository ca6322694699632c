#include "Charsets.h"

#include <cctype>

namespace mailstore {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

std::string Normalise(std::string_view name) {
    std::string n;
    for (char c : name) {
        if (c == '*') // RFC 2231 language tag
            break;
        n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    while (!n.empty() && (n.back() == ' ' || n.back() == '\t'))
        n.pop_back();
    if (n == "utf8")
        return "utf-8";
    if (n == "ascii" || n == "us_ascii" || n == "ansi_x3.4-1968" || n == "iso646-us")
        return "us-ascii";
    if (n == "latin1" || n == "l1" || n == "iso8859-1" || n == "iso_8859-1" || n == "iso88591")
        return "iso-8859-1";
    if (n == "koi8r")
        return "koi8-r";
    if (n.rfind("iso8859-", 0) == 0)
        return "iso-8859-" + n.substr(8);
    if (n.rfind("iso_8859-", 0) == 0)
        return "iso-8859-" + n.substr(9);
    if (n.rfind("cp125", 0) == 0 && n.size() == 6)
        return "windows-" + n.substr(2);
    if (n.rfind("win-125", 0) == 0 && n.size() == 8)
        return "windows-" + n.substr(4);
    if (n == "latin2")
        return "iso-8859-2";
    if (n == "latin-9" || n == "latin9")
        return "iso-8859-15";
    return n;
}

// Decodes UTF-8, replacing each maximal invalid subpart with U+FFFD.
void DecodeUtf8(std::string_view in, std::string* out) {
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            out->push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        int len = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            AppendUtf8(kReplacement, out);
            ++i;
            continue;
        }
        int k = 1;
        for (; k < len && i + k < n; ++k) {
            unsigned char cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendUtf8(kReplacement, out);
            i += (k > 1 && k < len) ? k : 1;
            continue;
        }
        AppendUtf8(cp, out);
        i += len;
    }
}

const uint16_t* FindTable(const std::string& name) {
    for (size_t i = 0; i < detail::kCharsetTableCount; ++i) {
        if (name == detail::kCharsetTables[i].name)
            return detail::kCharsetTables[i].upper;
    }
    return nullptr;
}

// ISO-2022-JP (RFC 1468): escape sequences switch between ASCII, JIS X 0201
// Roman and JIS X 0208; also the half-width katakana set some mailers use.
void DecodeIso2022Jp(std::string_view in, std::string* out) {
    enum class Set { Ascii, Roman, Jis, Kana } set = Set::Ascii;
    struct Escape {
        const char* bytes;
        Set set;
    };
    static const Escape kEscapes[] = {{"\x1b(B", Set::Ascii},
                                      {"\x1b(J", Set::Roman},
                                      {"\x1b$@", Set::Jis},
                                      {"\x1b$B", Set::Jis},
                                      {"\x1b(I", Set::Kana}};
    for (size_t i = 0; i < in.size();) {
        bool escaped = false;
        for (const Escape& e : kEscapes) {
            if (in.compare(i, 3, e.bytes) == 0) {
                set = e.set;
                i += 3;
                escaped = true;
                break;
            }
        }
        if (escaped)
            continue;
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c >= 0x80 || c == 0x1B) {
            AppendUtf8(kReplacement, out); // not of this charset, or an unknown set
            ++i;
        } else if (set == Set::Jis && c > 0x20 && c < 0x7F) {
            const unsigned char c2 = i + 1 < in.size() ? static_cast<unsigned char>(in[i + 1]) : 0;
            const uint16_t cp =
                c2 > 0x20 && c2 < 0x7F ? detail::kJisX0208[(c - 0x21) * 94 + (c2 - 0x21)] : 0;
            AppendUtf8(cp == 0 ? kReplacement : cp, out);
            i += c2 > 0x20 && c2 < 0x7F ? 2 : 1;
        } else if (set == Set::Kana && c > 0x20 && c < 0x60) {
            AppendUtf8(0xFF61 + (c - 0x21), out);
            ++i;
        } else if (set == Set::Roman && (c == 0x5C || c == 0x7E)) {
            AppendUtf8(c == 0x5C ? 0x00A5 : 0x203E, out);
            ++i;
        } else {
            out->push_back(static_cast<char>(c));
            ++i;
        }
    }
}

} // namespace

void AppendUtf8(uint32_t cp, std::string* out) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

size_t Utf8SequenceAt(std::string_view s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80)
        return 1;
    // The second byte's range carries the rules against overlong forms,
    // surrogates and code points past U+10FFFF.
    size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (s.size() - i < len)
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if (cc < (k == 1 ? low : 0x80) || cc > (k == 1 ? high : 0xBF))
            return 0;
    }
    return len;
}

std::string CutUtf8(const std::string& s, size_t maxBytes) {
    if (s.size() <= maxBytes)
        return s;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
        --end;
    return s.substr(0, end);
}

bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t len = Utf8SequenceAt(bytes, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

// Bytes of a direction mark, embedding, override or isolate at s[i] (0 for
// none): they make a name read differently from what it is ("gpj.exe" that is an .exe).
size_t DirectionControlAt(std::string_view s, size_t i) {
    const auto at = [&](size_t k) {
        return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u;
    };
    if (at(0) == 0xD8 && at(1) == 0x9C) // U+061C
        return 2;
    if (at(0) != 0xE2)
        return 0;
    const unsigned b1 = at(1), b2 = at(2);
    const bool marks = b1 == 0x80 && (b2 == 0x8E || b2 == 0x8F);  // U+200E, U+200F
    const bool embeds = b1 == 0x80 && b2 >= 0xAA && b2 <= 0xAE;   // U+202A..U+202E
    const bool isolates = b1 == 0x81 && b2 >= 0xA6 && b2 <= 0xA9; // U+2066..U+2069
    return marks || embeds || isolates ? 3 : 0;
}

bool IsControlAt(std::string_view s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    return c < 0x20 || c == 0x7F ||
           (c == 0xC2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0x80);
}

bool CharsetToUtf8(std::string_view charset, std::string_view bytes, std::string* out) {
    const std::string name = Normalise(charset);
    if (name == "utf-8") {
        DecodeUtf8(bytes, out);
        return true;
    }
    if (name == "iso-2022-jp" || name == "csiso2022jp") {
        DecodeIso2022Jp(bytes, out);
        return true;
    }
    if (name == "us-ascii") {
        for (char c : bytes) {
            unsigned char b = static_cast<unsigned char>(c);
            if (b < 0x80)
                out->push_back(c);
            else
                AppendUtf8(kReplacement, out);
        }
        return true;
    }
    const uint16_t* upper = nullptr;
    if (name != "iso-8859-1") {
        upper = FindTable(name);
        if (upper == nullptr)
            return false;
    }
    for (char c : bytes) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out->push_back(c);
        } else if (upper == nullptr) {
            AppendUtf8(b, out);
        } else {
            uint16_t cp = upper[b - 0x80];
            AppendUtf8(cp == 0 ? kReplacement : cp, out);
        }
    }
    return true;
}

std::string BytesToUtf8(std::string_view bytes) {
    // Japanese mail often sends ISO-2022-JP unencoded: seven bits, so it passes
    // for UTF-8, but its switch to the two-byte set says what it is.
    if (bytes.find("\x1b$B") != std::string_view::npos ||
        bytes.find("\x1b$@") != std::string_view::npos) {
        std::string out;
        DecodeIso2022Jp(bytes, &out);
        return out;
    }
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    CharsetToUtf8("windows-1252", bytes, &out);
    return out;
}

} // namespace mailstore
