#include "MessageParser.h"

#include "AsciiText.h"
#include "Charsets.h"
#include "Calendar.h"

#include <cctype>
#include <vector>

namespace mailstore {

using ascii::Base64Value;
using ascii::EqualsNoCase;
using ascii::HexValue;
using ascii::IsSpace;
using ascii::Lower;
using ascii::Trim;

namespace {

// Header sections beyond this are not looked at: no real header block is larger,
// and it bounds the work a hostile message can cause.
constexpr size_t kMaxHeaderBytes = 1u << 20;

using Field = HeaderField;

// Where the body starts when the header block was cut at the cap: past the
// next blank line, or nowhere.
size_t BodyAfterCap(std::string_view source, size_t from) {
    for (size_t nl = source.find('\n', from); nl != std::string_view::npos;
         nl = source.find('\n', nl + 1)) {
        size_t next = nl + 1;
        if (next < source.size() && source[next] == '\r')
            ++next;
        if (next < source.size() && source[next] == '\n')
            return next + 1;
    }
    return source.size();
}

} // namespace

std::vector<HeaderField> SplitHeaderFields(std::string_view source, size_t* bodyStart) {
    std::vector<Field> fields;
    size_t pos = 0;
    bool sawBlank = false;
    const size_t end = source.size() < kMaxHeaderBytes ? source.size() : kMaxHeaderBytes;
    bool haveField = false;
    while (pos < end) {
        size_t nl = source.find('\n', pos);
        size_t lineEnd = (nl == std::string_view::npos || nl > end) ? end : nl;
        std::string_view line = source.substr(pos, lineEnd - pos);
        pos = lineEnd + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty()) {
            sawBlank = true;
            break; // end of the header block
        }
        if (line.front() == ' ' || line.front() == '\t') {
            if (haveField)
                fields.back().value.append(line.data(), line.size());
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            haveField = false; // garbage or an mbox "From " line
            continue;
        }
        std::string_view name = line.substr(0, colon);
        bool valid = true;
        for (char c : name) {
            if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127)
                valid = false;
        }
        if (!valid) {
            haveField = false;
            continue;
        }
        fields.push_back({std::string(name), std::string(line.substr(colon + 1))});
        haveField = true;
    }
    if (bodyStart) {
        if (sawBlank)
            *bodyStart = pos < source.size() ? pos : source.size();
        else
            *bodyStart = end < source.size() ? BodyAfterCap(source, end) : source.size();
    }
    return fields;
}

namespace {

bool DecodeBase64Word(std::string_view in, std::string* out) {
    uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        if (c == '=')
            break;
        int v = Base64Value(c);
        if (v < 0)
            return false;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out->push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return true;
}

void DecodeQ(std::string_view in, std::string* out) {
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '_') {
            out->push_back(' ');
        } else if (c == '=' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 &&
                   HexValue(in[i + 2]) >= 0) {
            out->push_back(static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2])));
            i += 2;
        } else {
            out->push_back(c);
        }
    }
}

struct EncodedWord {
    std::string charset;
    std::string bytes;
    size_t length = 0; // characters the word takes in the input
};

// Parses "=?charset?B|Q?text?=" at the start of s.
bool ParseEncodedWord(std::string_view s, EncodedWord* word) {
    if (s.size() < 8 || s[0] != '=' || s[1] != '?')
        return false;
    // Words are at most 75 characters; allowing more is lenient, and the bound
    // keeps a header full of "=?" from costing quadratic time.
    s = s.substr(0, 1024);
    size_t q1 = s.find('?', 2);
    if (q1 == std::string_view::npos || q1 == 2 || q1 + 2 >= s.size() || s[q1 + 2] != '?')
        return false;
    char enc = Lower(s[q1 + 1]);
    if (enc != 'b' && enc != 'q')
        return false;
    size_t textStart = q1 + 3;
    size_t close = s.find("?=", textStart);
    if (close == std::string_view::npos)
        return false;
    std::string_view text = s.substr(textStart, close - textStart);
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            return false;
    }
    word->charset.assign(s.substr(2, q1 - 2));
    word->bytes.clear();
    if (enc == 'b') {
        if (!DecodeBase64Word(text, &word->bytes))
            return false;
    } else {
        DecodeQ(text, &word->bytes);
    }
    word->length = close + 2;
    return true;
}

} // namespace

std::string DecodeHeaderText(std::string_view raw) {
    std::string out;
    std::string pendingCharset;
    std::string pendingBytes; // adjacent words in one charset are joined before decoding,
                              // so a character split across two words survives
    bool havePending = false;
    auto flushPending = [&]() {
        if (!havePending)
            return;
        if (!CharsetToUtf8(pendingCharset, pendingBytes, &out))
            out += BytesToUtf8(pendingBytes);
        pendingBytes.clear();
        havePending = false;
    };
    size_t i = 0;
    std::string plain;
    while (i < raw.size()) {
        EncodedWord word;
        if (raw[i] == '=' && ParseEncodedWord(raw.substr(i), &word)) {
            // Blank space between two encoded words is not part of the text.
            bool onlySpace = true;
            for (char c : plain) {
                if (!IsSpace(c))
                    onlySpace = false;
            }
            if (!(havePending && onlySpace)) {
                flushPending();
                out += BytesToUtf8(plain);
            }
            plain.clear();
            if (havePending && !EqualsNoCase(word.charset, pendingCharset))
                flushPending();
            pendingCharset = word.charset;
            pendingBytes += word.bytes;
            havePending = true;
            i += word.length;
            continue;
        }
        plain.push_back(raw[i]);
        ++i;
    }
    flushPending();
    out += BytesToUtf8(plain);
    // Folding leaves tabs and runs of blanks; show them as single spaces.
    std::string clean;
    bool lastSpace = false;
    for (char c : out) {
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            continue;
        if (c == ' ') {
            if (lastSpace)
                continue;
            lastSpace = true;
        } else {
            lastSpace = false;
        }
        clean.push_back(c);
    }
    return std::string(Trim(clean));
}

namespace {

struct Mailbox {
    std::string phrase;  // display name as written (quotes removed), not yet decoded
    std::string address; // addr-spec
    std::string comment; // text of the last comment, for "addr (Name)"
};

// Appends the quoted string at s[at] (unquoted) to *out; returns where it ends.
size_t ReadQuoted(std::string_view s, size_t at, std::string* out) {
    size_t i = at + 1;
    while (i < s.size() && s[i] != '"') {
        if (s[i] == '\\' && i + 1 < s.size())
            ++i;
        out->push_back(s[i]);
        ++i;
    }
    return i + 1;
}

// Sets *out to the text of the (nested) comment at s[at]; returns where it ends.
size_t ReadComment(std::string_view s, size_t at, std::string* out) {
    int depth = 1;
    std::string comment;
    size_t i = at + 1;
    while (i < s.size() && depth > 0) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            comment.push_back(s[i + 1]);
            i += 2;
            continue;
        }
        if (s[i] == '(')
            ++depth;
        else if (s[i] == ')' && --depth == 0)
            break;
        comment.push_back(s[i]);
        ++i;
    }
    *out = std::string(Trim(comment));
    return i + 1;
}

// Splits an address list at top-level commas; groups ("Team: a, b;") give their
// members, and an empty group gives its name.
std::vector<Mailbox> ParseAddressList(std::string_view s) {
    std::vector<Mailbox> result;
    Mailbox cur;
    std::string text; // phrase or addr-spec text outside <>
    bool inAngle = false;
    bool sawAngle = false;
    bool groupHasMembers = false;
    std::string groupName;
    auto finish = [&]() {
        std::string t(Trim(text));
        if (sawAngle) {
            cur.phrase = t;
        } else {
            cur.address = t;
        }
        cur.address = std::string(Trim(cur.address));
        if (!cur.phrase.empty() || !cur.address.empty() || !cur.comment.empty()) {
            result.push_back(cur);
            groupHasMembers = true;
        }
        cur = Mailbox();
        text.clear();
        sawAngle = false;
        inAngle = false;
    };
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            i = ReadQuoted(s, i, inAngle ? &cur.address : &text);
            continue;
        }
        if (c == '(') {
            i = ReadComment(s, i, &cur.comment);
            continue;
        }
        if (inAngle) {
            if (c == '>')
                inAngle = false;
            else
                cur.address.push_back(c);
            ++i;
            continue;
        }
        if (c == '<') {
            inAngle = true;
            sawAngle = true;
            cur.address.clear();
        } else if (c == ',') {
            finish();
        } else if (c == ':' && !sawAngle) {
            groupName = std::string(Trim(text));
            text.clear();
            groupHasMembers = false;
        } else if (c == ';') {
            finish();
            if (!groupHasMembers && !groupName.empty()) {
                Mailbox group;
                group.phrase = groupName;
                result.push_back(group);
            }
            groupName.clear();
        } else {
            text.push_back(c);
        }
        ++i;
    }
    finish();
    return result;
}

std::string NameOf(const Mailbox& m) {
    std::string name = DecodeHeaderText(m.phrase);
    if (name.empty() && m.address.empty())
        name = DecodeHeaderText(m.comment);
    if (name.empty() && !m.address.empty() && !m.comment.empty())
        name = DecodeHeaderText(m.comment);
    if (name.empty())
        name = DecodeHeaderText(m.address);
    return name;
}

int MonthFromName(std::string_view t) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (t.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m) {
        if (Lower(t[0]) == kMonths[m][0] && Lower(t[1]) == kMonths[m][1] &&
            Lower(t[2]) == kMonths[m][2])
            return m + 1;
    }
    return 0;
}

bool AllDigits(std::string_view t) {
    if (t.empty())
        return false;
    for (char c : t) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int ToInt(std::string_view t) {
    int v = 0;
    for (char c : t) {
        if (v > 100000)
            return v;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Zone offset in minutes east of UTC.
bool ZoneOffset(std::string_view t, int* minutes) {
    if ((t[0] == '+' || t[0] == '-') && t.size() == 5 && AllDigits(t.substr(1))) {
        int hh = ToInt(t.substr(1, 2));
        int mm = ToInt(t.substr(3, 2));
        if (hh > 23 || mm > 59)
            return false;
        *minutes = (t[0] == '-' ? -1 : 1) * (hh * 60 + mm);
        return true;
    }
    static const struct {
        const char* name;
        int hours;
    } kZones[] = {{"ut", 0},   {"utc", 0},  {"gmt", 0},  {"z", 0},    {"est", -5}, {"edt", -4},
                  {"cst", -6}, {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}};
    for (const auto& z : kZones) {
        if (EqualsNoCase(t, z.name)) {
            *minutes = z.hours * 60;
            return true;
        }
    }
    return false;
}

} // namespace

std::string DisplayNames(std::string_view addressList, std::string_view separator) {
    std::string out;
    for (const Mailbox& m : ParseAddressList(addressList)) {
        std::string name = NameOf(m);
        if (name.empty())
            continue;
        if (!out.empty())
            out.append(separator.data(), separator.size());
        out += name;
    }
    return out;
}

std::string FormatAddresses(std::string_view addressList) {
    std::string out;
    for (const Mailbox& m : ParseAddressList(addressList)) {
        std::string name = DecodeHeaderText(m.phrase);
        if (name.empty())
            name = DecodeHeaderText(m.comment);
        std::string address = DecodeHeaderText(m.address);
        std::string one = name.empty()      ? address
                          : address.empty() ? name
                                            : name + " <" + address + ">";
        if (one.empty())
            continue;
        if (!out.empty())
            out += ", ";
        out += one;
    }
    return out;
}

namespace {
// The words of a date, without comments and commas; they point into *clean.
std::vector<std::string_view> DateTokens(std::string_view text, std::string* clean) {
    // Comments such as "(UTC)" carry nothing the numeric zone does not.
    int depth = 0;
    for (char c : text) {
        if (c == '(')
            ++depth;
        else if (c == ')' && depth > 0)
            --depth;
        else if (depth == 0)
            clean->push_back(c == ',' ? ' ' : c);
    }
    std::vector<std::string_view> tokens;
    std::string_view rest(*clean);
    while (!rest.empty()) {
        while (!rest.empty() && IsSpace(rest.front()))
            rest.remove_prefix(1);
        size_t n = 0;
        while (n < rest.size() && !IsSpace(rest[n]))
            ++n;
        if (n > 0)
            tokens.push_back(rest.substr(0, n));
        rest.remove_prefix(n);
    }
    return tokens;
}
} // namespace

bool ParseMailDate(std::string_view text, uint64_t* fileTime) {
    std::string clean;
    const std::vector<std::string_view> tokens = DateTokens(text, &clean);
    int day = 0, month = 0, year = -1, hour = -1, minute = 0, second = 0, zone = 0;
    bool haveZone = false;
    for (std::string_view t : tokens) {
        if (month == 0 && MonthFromName(t) != 0 && !AllDigits(t)) {
            if (t.size() == 3 || (t.size() > 3 && std::isalpha(static_cast<unsigned char>(t[3]))))
                month = MonthFromName(t);
            continue;
        }
        if (t.find(':') != std::string_view::npos && hour < 0) {
            int parts[3] = {0, 0, 0};
            int count = 0;
            size_t start = 0;
            while (count < 3) {
                size_t colon = t.find(':', start);
                std::string_view p =
                    t.substr(start, colon == std::string_view::npos ? std::string_view::npos
                                                                    : colon - start);
                if (!AllDigits(p) || p.size() > 2)
                    return false;
                parts[count++] = ToInt(p);
                if (colon == std::string_view::npos)
                    break;
                start = colon + 1;
            }
            if (count < 2)
                return false;
            hour = parts[0];
            minute = parts[1];
            second = parts[2];
            continue;
        }
        if (AllDigits(t)) {
            if (t.size() <= 2 && day == 0 && (year < 0 || month != 0)) {
                day = ToInt(t);
            } else if (year < 0) {
                year = ToInt(t);
                if (t.size() == 2)
                    year += year < 50 ? 2000 : 1900;
                else if (t.size() == 3)
                    year += 1900;
            }
            continue;
        }
        if (!haveZone && hour >= 0 && ZoneOffset(t, &zone)) {
            haveZone = true;
            continue;
        }
    }
    if (day < 1 || day > 31 || month == 0 || year < 1601 || year > 9999 || hour < 0 || hour > 23 ||
        minute > 59 || second > 60)
        return false;
    if (second == 60)
        second = 59;
    uint64_t t = FileTimeFromUtc(year, month, day, hour, minute, second);
    if (t == 0)
        return false;
    const int64_t shift = static_cast<int64_t>(zone) * 60 * 10000000;
    if (shift > 0 && t < static_cast<uint64_t>(shift))
        return false;
    *fileTime = static_cast<uint64_t>(static_cast<int64_t>(t) - shift);
    return true;
}

ParsedHeaders ParseHeaders(std::string_view source) {
    ParsedHeaders h;
    bool haveSubject = false, haveFrom = false, haveTo = false, haveDate = false;
    bool haveXPriority = false;
    bool haveReceived = false;
    std::string importance;
    for (const Field& f : SplitHeaderFields(source, nullptr)) {
        if (!haveSubject && EqualsNoCase(f.name, "Subject")) {
            h.subject = DecodeHeaderText(f.value);
            haveSubject = true;
        } else if (!haveFrom && EqualsNoCase(f.name, "From")) {
            h.from = DisplayNames(f.value, "; ");
            haveFrom = true;
        } else if (!haveTo && EqualsNoCase(f.name, "To")) {
            h.to = DisplayNames(f.value, "; ");
            haveTo = true;
        } else if (!haveDate && EqualsNoCase(f.name, "Date")) {
            haveDate = ParseMailDate(f.value, &h.sent);
        } else if (!haveReceived && EqualsNoCase(f.name, "Received")) {
            // The first Received: field is the newest; its date follows the last ';'.
            size_t semi = f.value.rfind(';');
            if (semi != std::string::npos)
                haveReceived =
                    ParseMailDate(std::string_view(f.value).substr(semi + 1), &h.received);
        } else if (!haveXPriority && EqualsNoCase(f.name, "X-Priority")) {
            std::string_view v = Trim(f.value);
            if (!v.empty() && v[0] >= '1' && v[0] <= '5') {
                int p = v[0] - '0';
                h.priority = p <= 2 ? 1 : (p == 3 ? 3 : 5);
                haveXPriority = true;
            }
        } else if (importance.empty() && EqualsNoCase(f.name, "Importance")) {
            importance = std::string(Trim(f.value));
        }
    }
    if (!haveXPriority) {
        if (EqualsNoCase(importance, "high"))
            h.priority = 1;
        else if (EqualsNoCase(importance, "low"))
            h.priority = 5;
    }
    return h;
}

} // namespace mailstore
