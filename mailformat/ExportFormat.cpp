#include "ExportFormat.h"

#include "Calendar.h"
#include "Charsets.h"

#include <cstdio>

namespace mailstore {

namespace {

std::string TrimEnd(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

std::string Lower(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

std::string TwoDigits(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

} // namespace

bool IsReservedDeviceName(std::string_view name) {
    std::string base = Lower(name.substr(0, name.find('.')));
    // Windows drops blanks at the end of the part it compares ("con .txt").
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
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

// No separators or characters Windows refuses, no control characters, no
// leading dot (hidden, or "." and ".."), no trailing dot or blank, no device name.
namespace {
// One pass over the name: direction controls dropped, other controls a single
// blank, reserved characters '_'.
std::string CleanOnce(std::string_view text) {
    std::string s;
    for (size_t i = 0; i < text.size(); ++i) {
        if (const size_t direction = DirectionControlAt(text, i)) {
            i += direction - 1;
            continue;
        }
        const char ch = text[i];
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool control = IsControlAt(text, i);
        char put = ch;
        if (control && c >= 0x80)
            ++i; // U+0080..U+009F: a control character in two bytes
        if (control)
            put = ' ';
        else if (std::string_view("<>:\"/\\|?*").find(ch) != std::string_view::npos)
            put = '_';
        if (put == ' ' && (s.empty() || s.back() == ' '))
            continue;
        s.push_back(put);
    }
    return s;
}
} // namespace

std::string SafeName(std::string_view text, size_t maxBytes, std::string_view fallback) {
    // In text that is not UTF-8, dropping a direction control can join the bytes
    // around it into a new control: clean again until nothing changes.
    std::string s = CleanOnce(text);
    for (std::string again = CleanOnce(s); again != s; again = CleanOnce(s))
        s = std::move(again);
    s = TrimEnd(CutUtf8(TrimEnd(s), maxBytes));
    if (!s.empty() && s[0] == '.')
        s[0] = '_';
    if (s.empty())
        s = fallback;
    // The mark goes within the cap too.
    if (IsReservedDeviceName(s))
        s = "_" + TrimEnd(CutUtf8(s, maxBytes > 0 ? maxBytes - 1 : 0));
    return s;
}

std::string EmlBase(uint64_t fileTime, std::string_view subject) {
    std::string stamp = "undated";
    if (fileTime) {
        const CivilTime t = ToCivil(fileTime);
        stamp = std::to_string(t.year) + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + " " +
                TwoDigits(t.hour) + "-" + TwoDigits(t.minute) + "-" + TwoDigits(t.second);
    }
    return stamp + " " + SafeName(subject, 100, "no subject");
}

std::string MboxSeparator(uint64_t fileTime) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const CivilTime t = ToCivil(fileTime ? fileTime : 116444736000000000ull);
    char buf[64];
    std::snprintf(buf, sizeof buf, "From - %s %s %2d %02d:%02d:%02d %d\n", kDays[t.weekday],
                  kMonths[t.month - 1], t.day, t.hour, t.minute, t.second, t.year);
    return buf;
}

void NameClaims::Take(std::string_view name) {
    taken_.insert(Lower(name));
}

std::string NameClaims::Claim(const std::string& base, const std::string& ext,
                              const std::vector<std::string>& others) {
    for (unsigned n = 1;; ++n) {
        const std::string stem = n == 1 ? base : base + " (" + std::to_string(n) + ")";
        bool free = !taken_.count(Lower(stem + ext));
        for (const std::string& o : others)
            free = free && !taken_.count(Lower(stem + o));
        if (!free)
            continue;
        Take(stem + ext);
        for (const std::string& o : others)
            Take(stem + o);
        return stem + ext;
    }
}

void MboxQuoter::Feed(std::string_view in, std::string* out) {
    static constexpr std::string_view kFrom = "From ";
    for (char c : in) {
        if (!atLineStart_) {
            out->push_back(c);
            atLineStart_ = c == '\n';
            continue;
        }
        pending_.push_back(c);
        const size_t gt = pending_.find_first_not_of('>');
        if (gt == std::string::npos)
            continue;
        const std::string_view rest = std::string_view(pending_).substr(gt);
        if (kFrom.substr(0, rest.size()) == rest) {
            if (rest.size() == kFrom.size()) {
                out->push_back('>');
                Flush(out);
            }
            continue;
        }
        Flush(out);
        atLineStart_ = c == '\n';
    }
}

void MboxQuoter::Flush(std::string* out) {
    out->append(pending_);
    pending_.clear();
    atLineStart_ = false;
}

std::string MboxEntry::Begin(uint64_t fileTime) {
    quoter_ = MboxQuoter();
    endedWithNewline_ = true;
    return MboxSeparator(fileTime);
}

void MboxEntry::Feed(std::string_view piece, std::string* out) {
    quoter_.Feed(piece, out);
    if (!piece.empty())
        endedWithNewline_ = piece.back() == '\n';
}

bool MboxEntry::End(std::string* out) {
    quoter_.Flush(out);
    // Every message ends with a line break and a blank line; mbox cannot keep
    // a last line without its break.
    out->append(endedWithNewline_ ? "\n" : "\n\n");
    return !endedWithNewline_;
}

} // namespace mailstore
