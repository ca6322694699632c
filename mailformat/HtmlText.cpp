#include "HtmlText.h"

#include "Charsets.h"

#include <cctype>
#include <cstdint>

namespace mailformat {

namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

struct Entity {
    const char* name;
    uint32_t cp;
};

constexpr Entity kEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"laquo", 0xAB},   {"raquo", 0xBB},   {"bull", 0x2022},  {"middot", 0xB7},
    {"euro", 0x20AC},  {"pound", 0xA3},   {"yen", 0xA5},     {"cent", 0xA2},    {"sect", 0xA7},
    {"deg", 0xB0},     {"plusmn", 0xB1},  {"times", 0xD7},   {"divide", 0xF7},  {"shy", 0xAD},
    {"zwnj", 0x200C},  {"zwj", 0x200D},   {"auml", 0xE4},    {"ouml", 0xF6},    {"uuml", 0xFC},
    {"Auml", 0xC4},    {"Ouml", 0xD6},    {"Uuml", 0xDC},    {"szlig", 0xDF},   {"eacute", 0xE9},
    {"egrave", 0xE8},  {"aacute", 0xE1},  {"agrave", 0xE0},  {"ccedil", 0xE7},  {"ntilde", 0xF1},
    {"oslash", 0xF8},  {"aring", 0xE5},   {"iexcl", 0xA1},   {"iquest", 0xBF},  {"thinsp", 0x2009},
    {"ensp", 0x2002},  {"emsp", 0x2003},
};

// Decodes the entity at s[i] ('&'); returns the characters it takes, 0 if none.
size_t Entity(std::string_view s, size_t i, std::string* out) {
    // Names are short: looking further would make "&&&..." quadratic.
    size_t semi = s.substr(i + 1, 12).find(';');
    if (semi == std::string_view::npos)
        return 0;
    semi += i + 1;
    std::string_view name = s.substr(i + 1, semi - i - 1);
    if (name.size() >= 2 && name[0] == '#') {
        uint32_t cp = 0;
        bool hex = name[1] == 'x' || name[1] == 'X';
        std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty())
            return 0;
        for (char c : digits) {
            int v = -1;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            if (v < 0)
                return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
            if (cp > 0x10FFFF)
                cp = 0xFFFD;
        }
        if (cp == 0)
            cp = 0xFFFD;
        mailstore::AppendUtf8(cp, out);
        return semi - i + 1;
    }
    for (const auto& e : kEntities) {
        if (name == e.name) {
            mailstore::AppendUtf8(e.cp, out);
            return semi - i + 1;
        }
    }
    return 0;
}

bool NameIs(std::string_view name, std::initializer_list<const char*> names) {
    for (const char* n : names) {
        if (name == n)
            return true;
    }
    return false;
}

class Converter {
  public:
    explicit Converter(std::string_view html) : html_(html) {}

    std::string Run() {
        size_t i = 0;
        while (i < html_.size()) {
            char c = html_[i];
            if (c == '<') {
                i = Tag(i);
            } else if (c == '&') {
                std::string decoded;
                size_t used = Entity(html_, i, &decoded);
                if (used == 0) {
                    Char('&');
                    ++i;
                } else {
                    Word(decoded);
                    i += used;
                }
            } else {
                Char(c);
                ++i;
            }
        }
        while (!out_.empty() && (out_.back() == '\n' || out_.back() == ' '))
            out_.pop_back();
        return out_;
    }

  private:
    void Char(char c) {
        if (skipping_)
            return;
        if (pre_ == 0 && IsSpace(c)) {
            pendingSpace_ = true;
            return;
        }
        if (c == '\r')
            return;
        Flush();
        out_.push_back(c);
        if (c == '\n')
            newlines_ = 1;
        else
            newlines_ = 0;
    }

    void Word(const std::string& w) {
        if (skipping_)
            return;
        Flush();
        out_ += w;
        newlines_ = 0;
    }

    void Flush() {
        if (pendingSpace_ && !out_.empty() && newlines_ == 0)
            out_.push_back(' ');
        pendingSpace_ = false;
    }

    // Ends the line unless it is ended; `blank` asks for an empty line too.
    void Break(bool blank) {
        if (skipping_)
            return;
        pendingSpace_ = false;
        if (out_.empty())
            return;
        int wanted = blank ? 2 : 1;
        while (newlines_ < wanted) {
            out_.push_back('\n');
            ++newlines_;
        }
    }

    // Reads an attribute's value from the tag text.
    static std::string Attribute(std::string_view tag, std::string_view wanted) {
        size_t i = 0;
        while (i < tag.size()) {
            while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == '/'))
                ++i;
            size_t start = i;
            while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '=' && tag[i] != '/')
                ++i;
            std::string name(tag.substr(start, i - start));
            for (char& c : name)
                c = Lower(c);
            while (i < tag.size() && IsSpace(tag[i]))
                ++i;
            std::string value;
            if (i < tag.size() && tag[i] == '=') {
                ++i;
                while (i < tag.size() && IsSpace(tag[i]))
                    ++i;
                if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                    char q = tag[i++];
                    size_t close = tag.find(q, i);
                    if (close == std::string_view::npos)
                        close = tag.size();
                    value = std::string(tag.substr(i, close - i));
                    i = close + 1;
                } else {
                    size_t s = i;
                    while (i < tag.size() && !IsSpace(tag[i]))
                        ++i;
                    value = std::string(tag.substr(s, i - s));
                }
            }
            if (name == wanted) {
                std::string decoded;
                for (size_t k = 0; k < value.size();) {
                    size_t used = value[k] == '&' ? Entity(value, k, &decoded) : 0;
                    if (used == 0)
                        decoded.push_back(value[k++]);
                    else
                        k += used;
                }
                return decoded;
            }
            if (start == i && i < tag.size())
                ++i;
        }
        return {};
    }

    // Handles the markup at html_[at] ('<'); returns where the text goes on.
    size_t Tag(size_t at) {
        if (html_.compare(at, 4, "<!--") == 0) {
            size_t end = html_.find("-->", at + 4);
            return end == std::string_view::npos ? html_.size() : end + 3;
        }
        size_t close = html_.find('>', at + 1);
        if (close == std::string_view::npos) {
            return html_.size(); // a cut tag shows nothing
        }
        std::string_view inner = html_.substr(at + 1, close - at - 1);
        const bool end = !inner.empty() && inner[0] == '/';
        if (end)
            inner.remove_prefix(1);
        size_t n = 0;
        while (n < inner.size() && !IsSpace(inner[n]) && inner[n] != '/')
            ++n;
        std::string name(inner.substr(0, n));
        for (char& c : name)
            c = Lower(c);
        if (name.empty() || name[0] == '!' || name[0] == '?')
            return close + 1;
        if (!end && NameIs(name, {"style", "script", "head", "title", "template"})) {
            // Their contents are never text: skip to the matching end tag.
            const std::string endTag = "</" + name;
            size_t pos = close + 1;
            while (pos < html_.size()) {
                size_t lt = html_.find("</", pos);
                if (lt == std::string_view::npos)
                    return html_.size();
                bool match = lt + endTag.size() <= html_.size();
                for (size_t k = 0; match && k < endTag.size(); ++k)
                    match = Lower(html_[lt + k]) == endTag[k];
                if (match) {
                    size_t gt = html_.find('>', lt);
                    return gt == std::string_view::npos ? html_.size() : gt + 1;
                }
                pos = lt + 2;
            }
            return html_.size();
        }
        Element(name, end, inner.substr(n));
        return close + 1;
    }

    void Element(const std::string& name, bool end, std::string_view attributes) {
        if (name == "br") {
            if (!skipping_) {
                pendingSpace_ = false;
                out_.push_back('\n');
                ++newlines_;
            }
        } else if (NameIs(name, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "ul", "ol",
                                 "table", "hr"})) {
            Break(true);
        } else if (NameIs(name, {"div", "tr", "dl", "dt", "dd", "section", "article", "header",
                                 "footer", "center", "address", "form", "body", "html"})) {
            Break(false);
        } else if (name == "li") {
            Break(false);
            if (!end)
                Word("\xE2\x80\xA2 "); // a bullet
        } else if (name == "td" || name == "th") {
            if (end)
                pendingSpace_ = true;
        } else if (name == "pre") {
            Break(true);
            pre_ += end ? (pre_ > 0 ? -1 : 0) : 1;
        } else if (name == "img" && !end) {
            std::string alt = Attribute(attributes, "alt");
            if (!alt.empty())
                Word("[" + alt + "]");
        } else if (name == "a") {
            if (!end) {
                href_ = Attribute(attributes, "href");
                linkStart_ = out_.size();
            } else if (!href_.empty()) {
                std::string_view shown(out_);
                shown = shown.substr(linkStart_ <= out_.size() ? linkStart_ : out_.size());
                while (!shown.empty() && IsSpace(shown.front()))
                    shown.remove_prefix(1);
                if (shown != href_ && href_.compare(0, 7, "mailto:") != 0) {
                    Word(shown.empty() ? href_ : " <" + href_ + ">");
                } else if (shown.empty()) {
                    Word(href_.substr(7));
                }
                href_.clear();
            }
        }
    }

    std::string_view html_;
    std::string out_;
    bool pendingSpace_ = false;
    int newlines_ = 2; // the start counts as a fresh paragraph
    int pre_ = 0;
    bool skipping_ = false;
    std::string href_;
    size_t linkStart_ = 0;
};

} // namespace

std::string HtmlToText(std::string_view html) {
    return Converter(html).Run();
}

} // namespace mailformat
