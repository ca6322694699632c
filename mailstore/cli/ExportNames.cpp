#include "ExportNames.h"

#include "Charsets.h"
#include "Support.h"

#include <cstdio>

namespace mailstore::cli {

namespace {

#ifdef _WIN32
constexpr char kInfoSeparator = '!'; // ':' cannot be in a Windows file name
#else
constexpr char kInfoSeparator = ':';
#endif

std::string TrimEnd(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

std::string TwoDigits(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

int64_t UnixSeconds(uint64_t fileTime) {
    return static_cast<int64_t>(fileTime / 10000000ull) - 11644473600ll;
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

// No separators or characters Windows refuses, no control characters, no
// leading dot (hidden, or "." and ".."), no trailing dot or blank, no device name.
std::string SafeName(const std::string& text, size_t maxBytes, const std::string& fallback) {
    std::string s;
    for (size_t i = 0; i < text.size(); ++i) {
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
    s = TrimEnd(CutUtf8(TrimEnd(s), maxBytes));
    if (!s.empty() && s[0] == '.')
        s[0] = '_';
    if (s.empty())
        s = fallback;
    if (IsReservedDeviceName(s))
        s = "_" + s;
    return s;
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

std::string EmlBase(const MessageInfo& m) {
    const uint64_t when = m.sent ? m.sent : m.received;
    std::string stamp = "undated";
    if (when) {
        const CivilTime t = ToCivil(when);
        stamp = std::to_string(t.year) + "-" + TwoDigits(t.month) + "-" + TwoDigits(t.day) + " " +
                TwoDigits(t.hour) + "-" + TwoDigits(t.minute) + "-" + TwoDigits(t.second);
    }
    return stamp + " " + SafeName(m.subject, 100, "no subject");
}

std::string MboxSeparator(const MessageInfo& m) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const uint64_t when = m.received ? m.received : m.sent;
    const CivilTime t = ToCivil(when ? when : 116444736000000000ull);
    char buf[64];
    std::snprintf(buf, sizeof buf, "From - %s %s %2d %02d:%02d:%02d %d\n", kDays[t.weekday],
                  kMonths[t.month - 1], t.day, t.hour, t.minute, t.second, t.year);
    return buf;
}

std::string MaildirName(const MessageInfo& m, size_t seq) {
    const uint64_t when = m.received ? m.received : m.sent;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%lld.M%06zuI%u.mailstore",
                  static_cast<long long>(UnixSeconds(when)), seq, static_cast<unsigned>(m.id));
    std::string name = buf;
    name += kInfoSeparator;
    name += "2,";
    if (m.state & kStateFlagged)
        name += 'F';
    if (!(m.state & kStateUnread))
        name += 'S';
    return name;
}

} // namespace mailstore::cli
