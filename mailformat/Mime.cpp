#include "Mime.h"

#include "AsciiText.h"
#include "Charsets.h"
#include "HtmlText.h"
#include "MessageParser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>

namespace mailformat {

namespace {

using mailstore::HeaderField;
using mailstore::ascii::Base64Value;
using mailstore::ascii::EqualsNoCase;
using mailstore::ascii::HexValue;
using mailstore::ascii::IsSpace;
using mailstore::ascii::Lower;
using mailstore::ascii::Trim;

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = Lower(c);
    return out;
}

// ---- Parameters ---------------------------------------------------------------------

struct Params {
    std::string value;                         // the field's value before the first ';', trimmed
    std::map<std::string, std::string> byName; // lower-case names, raw values (unquoted)
};

Params ReadParams(std::string_view field) {
    Params p;
    size_t i = 0;
    auto readToken = [&](std::string* out, bool stopAtEquals) {
        while (i < field.size() && IsSpace(field[i]))
            ++i;
        if (i < field.size() && field[i] == '"') {
            ++i;
            while (i < field.size() && field[i] != '"') {
                if (field[i] == '\\' && i + 1 < field.size())
                    ++i;
                out->push_back(field[i++]);
            }
            if (i < field.size())
                ++i;
            while (i < field.size() && field[i] != ';' && !(stopAtEquals && field[i] == '='))
                ++i; // junk after the quotes
            return;
        }
        while (i < field.size() && field[i] != ';' && !(stopAtEquals && field[i] == '='))
            out->push_back(field[i++]);
        *out = std::string(Trim(*out));
    };
    size_t semi = field.find(';');
    p.value = std::string(Trim(field.substr(0, semi)));
    if (semi == std::string_view::npos)
        return p;
    i = semi + 1;
    while (i < field.size()) {
        std::string name;
        readToken(&name, true);
        std::string value;
        if (i < field.size() && field[i] == '=') {
            ++i;
            readToken(&value, false);
        }
        if (!name.empty() && p.byName.size() < 64)
            p.byName.emplace(LowerCopy(name), value);
        if (i < field.size() && field[i] == ';')
            ++i;
    }
    return p;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// RFC 2231: name*=charset'lang'%xx, or name*0, name*1*... continuations; else
// the plain value with any RFC 2047 words decoded.
std::string ParamValue(const Params& p, std::string_view wanted) {
    const std::string key = LowerCopy(wanted);
    auto extended = p.byName.find(key + "*");
    std::string charset;
    std::string bytes;
    bool found = false;
    if (extended != p.byName.end()) {
        std::string_view v = extended->second;
        size_t q1 = v.find('\'');
        size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) {
            charset = std::string(v.substr(0, q1));
            v = v.substr(q2 + 1);
        }
        bytes = PercentDecode(v);
        found = true;
    } else {
        for (int n = 0; n < 64; ++n) {
            const std::string base = key + "*" + std::to_string(n);
            auto plain = p.byName.find(base);
            auto encoded = p.byName.find(base + "*");
            if (encoded != p.byName.end()) {
                std::string_view v = encoded->second;
                if (n == 0) {
                    size_t q1 = v.find('\'');
                    size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
                    if (q2 != std::string_view::npos) {
                        charset = std::string(v.substr(0, q1));
                        v = v.substr(q2 + 1);
                    }
                }
                bytes += PercentDecode(v);
            } else if (plain != p.byName.end()) {
                bytes += plain->second;
            } else {
                break;
            }
            found = true;
        }
    }
    if (found) {
        std::string out;
        if (charset.empty() || !mailstore::CharsetToUtf8(charset, bytes, &out))
            out = mailstore::DecodeHeaderText(bytes);
        return out;
    }
    auto plain = p.byName.find(key);
    return plain == p.byName.end() ? std::string() : mailstore::DecodeHeaderText(plain->second);
}

// ---- The part tree --------------------------------------------------------------------

class Parser {
  public:
    Parser(std::string_view source, MimeTree& tree) : source_(source), tree_(tree) {}

    // Reads the part whose header block starts at `start` and ends its body at `end`.
    void ReadPart(size_t start, size_t end, int parent, int depth, bool isMessage,
                  bool digestChild) {
        if (tree_.parts.size() >= kMaxParts || depth > kMaxDepth) {
            tree_.capped = true;
            return;
        }
        const int index = static_cast<int>(tree_.parts.size());
        tree_.parts.emplace_back();
        if (parent >= 0)
            tree_.parts[static_cast<size_t>(parent)].children.push_back(index);
        MimePart part;
        part.parent = parent;
        part.depth = depth;
        part.isMessage = isMessage;
        if (digestChild) {
            part.type = "message";
            part.subtype = "rfc822";
        }
        size_t bodyOffset = 0;
        std::string_view text = source_.substr(start, end - start);
        std::vector<HeaderField> fields = mailstore::SplitHeaderFields(text, &bodyOffset);
        ReadFields(fields, part);
        part.bodyStart = start + bodyOffset;
        part.bodyEnd = end;
        tree_.parts[static_cast<size_t>(index)] = std::move(part);

        MimePart& self = tree_.parts[static_cast<size_t>(index)];
        if (self.type == "multipart" && !self.boundary.empty()) {
            const bool digest = self.subtype == "digest";
            const std::string boundary = self.boundary;
            ReadMultipart(index, boundary, self.bodyStart, end, depth, digest);
        } else if (self.Is("message", "rfc822") || self.Is("message", "global")) {
            const size_t from = self.bodyStart;
            ReadPart(from, end, index, depth + 1, true, false);
        }
    }

  private:
    void ReadFields(const std::vector<HeaderField>& fields, MimePart& part) {
        bool haveType = false;
        std::string dispositionName, typeName;
        for (const HeaderField& f : fields) {
            if (!haveType && EqualsNoCase(f.name, "Content-Type")) {
                haveType = true;
                Params p = ReadParams(f.value);
                size_t slash = p.value.find('/');
                if (slash != std::string::npos && slash > 0 && slash + 1 < p.value.size()) {
                    part.type = LowerCopy(Trim(std::string_view(p.value).substr(0, slash)));
                    part.subtype = LowerCopy(Trim(std::string_view(p.value).substr(slash + 1)));
                }
                auto it = p.byName.find("charset");
                if (it != p.byName.end())
                    part.charset = it->second;
                it = p.byName.find("boundary");
                if (it != p.byName.end())
                    part.boundary = it->second.substr(0, 200);
                it = p.byName.find("format");
                part.flowed = it != p.byName.end() && EqualsNoCase(it->second, "flowed");
                it = p.byName.find("delsp");
                part.delSp = it != p.byName.end() && EqualsNoCase(it->second, "yes");
                typeName = ParamValue(p, "name");
            } else if (EqualsNoCase(f.name, "Content-Transfer-Encoding")) {
                part.encoding = LowerCopy(Trim(f.value));
            } else if (EqualsNoCase(f.name, "Content-Disposition")) {
                Params p = ReadParams(f.value);
                part.attachment = EqualsNoCase(p.value, "attachment");
                dispositionName = ParamValue(p, "filename");
            } else if (part.isMessage) {
                ReadEnvelopeField(f, part.envelope);
            }
        }
        part.name = !dispositionName.empty() ? dispositionName : typeName;
    }

    static void ReadEnvelopeField(const HeaderField& f, Envelope& e) {
        if (e.from.empty() && EqualsNoCase(f.name, "From"))
            e.from = mailstore::FormatAddresses(f.value);
        else if (e.to.empty() && EqualsNoCase(f.name, "To"))
            e.to = mailstore::FormatAddresses(f.value);
        else if (e.cc.empty() && EqualsNoCase(f.name, "Cc"))
            e.cc = mailstore::FormatAddresses(f.value);
        else if (e.subject.empty() && EqualsNoCase(f.name, "Subject"))
            e.subject = mailstore::DecodeHeaderText(f.value);
        else if (e.date == 0 && EqualsNoCase(f.name, "Date"))
            mailstore::ParseMailDate(f.value, &e.date);
    }

    // Where the next delimiter line "--boundary" starts at or after `from`
    // (npos when none); *close tells the closing one, *next where the line ends.
    size_t FindDelimiter(const std::string& delimiter, size_t from, size_t end, bool* close,
                         size_t* next) const {
        while (from < end) {
            size_t at = source_.find(delimiter, from);
            if (at == std::string_view::npos || at + delimiter.size() > end)
                return std::string_view::npos;
            from = at + 1;
            if (at != 0 && source_[at - 1] != '\n')
                continue;
            size_t after = at + delimiter.size();
            *close = after + 1 < end && source_[after] == '-' && source_[after + 1] == '-';
            if (*close)
                after += 2;
            size_t lineEnd = after;
            while (lineEnd < end && (source_[lineEnd] == ' ' || source_[lineEnd] == '\t' ||
                                     source_[lineEnd] == '\r'))
                ++lineEnd;
            if (lineEnd < end && source_[lineEnd] != '\n' && !*close)
                continue; // a longer boundary that starts with this one
            *next = lineEnd < end ? lineEnd + 1 : end;
            return at;
        }
        return std::string_view::npos;
    }

    // The line end before a delimiter belongs to it, not to the part.
    size_t PartEndBefore(size_t delimiterAt, size_t partStart) const {
        size_t e = delimiterAt;
        if (e > partStart && source_[e - 1] == '\n')
            --e;
        if (e > partStart && source_[e - 1] == '\r')
            --e;
        return e;
    }

    void ReadMultipart(int index, const std::string& boundary, size_t bodyStart, size_t end,
                       int depth, bool digest) {
        const std::string delimiter = "--" + boundary;
        bool close = false;
        size_t next = 0;
        size_t at = FindDelimiter(delimiter, bodyStart, end, &close, &next);
        while (at != std::string_view::npos && !close) {
            const size_t partStart = next;
            bool nextClose = false;
            size_t after = 0;
            size_t following = FindDelimiter(delimiter, partStart, end, &nextClose, &after);
            // A missing closing delimiter: the part runs to the end.
            const size_t partEnd =
                following == std::string_view::npos ? end : PartEndBefore(following, partStart);
            ReadPart(partStart, std::max(partStart, partEnd), index, depth + 1, false, digest);
            if (tree_.capped)
                return;
            at = following;
            close = nextClose;
            next = after;
        }
        if (at == std::string_view::npos &&
            tree_.parts[static_cast<size_t>(index)].children.empty()) {
            // No delimiter at all: the body is shown as text.
            MimePart& self = tree_.parts[static_cast<size_t>(index)];
            self.type = "text";
            self.subtype = "plain";
        }
    }

    std::string_view source_;
    MimeTree& tree_;
};

} // namespace

MimeTree ParseMime(std::string_view source) {
    MimeTree tree;
    Parser(source, tree).ReadPart(0, source.size(), -1, 0, true, false);
    return tree;
}

std::string HeaderParameter(std::string_view fieldValue, std::string_view wanted) {
    return ParamValue(ReadParams(fieldValue), wanted);
}

// ---- Transfer decoding -----------------------------------------------------------------

namespace {

template <typename Sink> void Base64(std::string_view in, Sink&& sink) {
    uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        if (c == '=')
            bits = 0; // padding ends a quantum; a following one starts anew
        int v = Base64Value(c);
        if (v < 0)
            continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            sink(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
}

template <typename Sink> void QuotedPrintable(std::string_view in, Sink&& sink) {
    size_t i = 0;
    while (i < in.size()) {
        char c = in[i];
        if (c == '=') {
            if (i + 2 < in.size() && HexValue(in[i + 1]) >= 0 && HexValue(in[i + 2]) >= 0) {
                sink(static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2])));
                i += 3;
                continue;
            }
            // A soft line break: "=" then blanks up to the line end.
            size_t j = i + 1;
            while (j < in.size() && (in[j] == ' ' || in[j] == '\t'))
                ++j;
            if (j < in.size() && in[j] == '\r')
                ++j;
            if (j >= in.size() || in[j] == '\n') {
                i = j + 1;
                continue;
            }
            sink(c);
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t') {
            // Blanks at a line's end were added in transport.
            size_t j = i;
            while (j < in.size() && (in[j] == ' ' || in[j] == '\t'))
                ++j;
            if (j < in.size() && (in[j] == '\r' || in[j] == '\n')) {
                i = j;
                continue;
            }
        }
        sink(c);
        ++i;
    }
}

} // namespace

std::string DecodeTransfer(std::string_view body, std::string_view encoding) {
    std::string out;
    if (EqualsNoCase(encoding, "base64")) {
        out.reserve(body.size() / 4 * 3 + 3);
        Base64(body, [&out](char c) { out.push_back(c); });
    } else if (EqualsNoCase(encoding, "quoted-printable")) {
        out.reserve(body.size());
        QuotedPrintable(body, [&out](char c) { out.push_back(c); });
    } else {
        out.assign(body);
    }
    return out;
}

uint64_t DecodedSize(std::string_view body, std::string_view encoding) {
    uint64_t n = 0;
    if (EqualsNoCase(encoding, "base64")) {
        // As Base64 counts: each run of digits up to a '=' gives 6 bits a digit.
        static const auto kDigit = [] {
            std::array<uint8_t, 256> t{};
            for (int c = 0; c < 256; ++c)
                t[static_cast<size_t>(c)] = Base64Value(static_cast<char>(c)) >= 0;
            return t;
        }();
        uint64_t run = 0;
        for (char c : body) {
            if (c == '=') {
                n += run * 6 / 8;
                run = 0;
            }
            run += kDigit[static_cast<unsigned char>(c)];
        }
        n += run * 6 / 8;
    } else if (EqualsNoCase(encoding, "quoted-printable"))
        QuotedPrintable(body, [&n](char) { ++n; });
    else
        n = body.size();
    return n;
}

// ---- Text ---------------------------------------------------------------------------------

std::string JoinFlowed(std::string_view text, bool delSp) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        if (!line.empty() && line.front() == ' ')
            line.remove_prefix(1); // space-stuffed
        const bool signature = line == "-- ";
        const bool soft =
            !signature && !line.empty() && line.back() == ' ' && nl != std::string_view::npos;
        if (soft && delSp)
            line.remove_suffix(1);
        out.append(line.data(), line.size());
        if (!soft && nl != std::string_view::npos)
            out.push_back('\n');
    }
    return out;
}

namespace {

// "\r\n" and lone "\r" become "\n"; NULs and other controls but tab go.
std::string CleanLines(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '\r') {
            if (i + 1 < in.size() && in[i + 1] == '\n')
                continue;
            c = '\n';
        }
        unsigned char b = static_cast<unsigned char>(c);
        if ((b < 32 && c != '\n' && c != '\t') || b == 127)
            continue;
        out.push_back(c);
    }
    return out;
}

} // namespace

std::string PartText(std::string_view source, const MimePart& part, size_t maxEncoded) {
    std::string_view body = source.substr(part.bodyStart, part.bodyEnd - part.bodyStart);
    if (body.size() > maxEncoded)
        body = body.substr(0, maxEncoded);
    const std::string bytes = DecodeTransfer(body, part.encoding);
    std::string text;
    if (part.charset.empty() || !mailstore::CharsetToUtf8(part.charset, bytes, &text))
        text = mailstore::BytesToUtf8(bytes);
    text = CleanLines(text);
    if (part.subtype == "html")
        return HtmlToText(text);
    if (part.flowed)
        return JoinFlowed(text, part.delSp);
    return text;
}

// ---- What the pane shows ------------------------------------------------------------------

namespace {

class Renderer {
  public:
    Renderer(std::string_view source, const MimeTree& tree, DateFormatter dateText, size_t maxText)
        : source_(source), tree_(tree), dateText_(dateText), maxText_(maxText) {}

    Reading Run() {
        if (!tree_.parts.empty())
            Part(0);
        if (reading_.text.size() > maxText_) {
            size_t cut = maxText_;
            while (cut > 0 && (static_cast<unsigned char>(reading_.text[cut]) & 0xC0) == 0x80)
                --cut;
            reading_.text.resize(cut);
            reading_.textCut = true;
        }
        return std::move(reading_);
    }

  private:
    const MimePart& At(int i) const { return tree_.parts[static_cast<size_t>(i)]; }

    void Text(std::string_view t) {
        if (reading_.text.size() <= maxText_)
            reading_.text.append(t.data(), t.size());
    }

    void Envelope(const MimePart& p) {
        const mailformat::Envelope& e = p.envelope;
        auto line = [this](const char* label, const std::string& value) {
            if (value.empty())
                return;
            Text(label);
            Text(value);
            Text("\n");
        };
        line("From: ", e.from);
        line("To: ", e.to);
        line("Cc: ", e.cc);
        if (e.date != 0 && dateText_)
            line("Date: ", dateText_(e.date));
        line("Subject: ", e.subject);
        Text("\n");
    }

    void Attach(int i) {
        const MimePart& p = At(i);
        std::string_view body = source_.substr(p.bodyStart, p.bodyEnd - p.bodyStart);
        reading_.attachments.push_back({i, p.name, p.ContentType(), DecodedSize(body, p.encoding)});
    }

    bool IsText(const MimePart& p) const {
        return p.type == "text" && (p.subtype == "plain" || p.subtype == "html" ||
                                    p.subtype == "enriched" || p.subtype == "rfc822-headers");
    }

    void Body(const MimePart& p) {
        // Twice the shown text's cap of encoded bytes is more than it can fill.
        std::string t = PartText(source_, p, maxText_ * 4 + 16);
        while (!t.empty() && t.back() == '\n')
            t.pop_back();
        if (!reading_.text.empty() && reading_.text.back() != '\n')
            Text("\n");
        Text(t);
        Text("\n");
    }

    // The alternative to show: the last plain text, else the last HTML, else
    // the last one at all (the order is plainest first).
    int Preferred(const MimePart& p) const {
        int plain = -1, html = -1;
        for (int c : p.children) {
            if (At(c).Is("text", "plain") && !At(c).attachment)
                plain = c;
            else if (At(c).Is("text", "html") && !At(c).attachment)
                html = c;
        }
        if (plain >= 0)
            return plain;
        if (html >= 0)
            return html;
        return p.children.empty() ? -1 : p.children.back();
    }

    void Part(int i) {
        const MimePart& p = At(i);
        if (p.isMessage) {
            if (p.parent >= 0)
                Text("\n---------- Forwarded message ----------\n");
            Envelope(p);
            MessageContent(i);
            return;
        }
        MessageContent(i);
    }

    void MessageContent(int i) {
        const MimePart& p = At(i);
        if (p.type == "multipart") {
            if (p.subtype == "alternative") {
                int chosen = Preferred(p);
                if (chosen >= 0)
                    Part(chosen);
                return;
            }
            for (int c : p.children)
                Part(c);
            return;
        }
        if (p.Is("message", "rfc822") || p.Is("message", "global")) {
            // Shown inline; an attached one can be saved as well.
            if (p.attachment)
                Attach(i);
            for (int c : p.children)
                Part(c);
            return;
        }
        if (IsText(p) && !p.attachment) {
            Body(p);
            return;
        }
        Attach(i);
    }

    std::string_view source_;
    const MimeTree& tree_;
    DateFormatter dateText_;
    size_t maxText_;
    Reading reading_;
};

} // namespace

Reading Render(std::string_view source, const MimeTree& tree, DateFormatter dateText,
               size_t maxText) {
    return Renderer(source, tree, dateText, maxText).Run();
}

} // namespace mailformat
