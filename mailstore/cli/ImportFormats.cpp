#include "ImportFormats.h"

#include "MessageParser.h"
#include "Store.h"

namespace mailstore::cli {

namespace {
bool IsBlankLine(std::string_view line) {
    return line == "\n" || line == "\r\n";
}
} // namespace

uint32_t MaildirState(const std::string& name, bool inNew) {
    uint32_t state = kStateUnread;
    size_t info = name.rfind(":2,");
    if (info == std::string::npos)
        info = name.rfind("!2,");
    if (!inNew && info != std::string::npos) {
        std::string flags = name.substr(info + 3);
        if (flags.find('S') != std::string::npos)
            state &= ~kStateUnread;
        if (flags.find('F') != std::string::npos)
            state |= kStateFlagged;
    }
    return state;
}

// Seconds since 1970, often followed by ".M" and the microseconds.
std::optional<uint64_t> MaildirDelivery(std::string_view name) {
    size_t n = 0;
    uint64_t secs = 0;
    while (n < name.size() && n < 12 && name[n] >= '0' && name[n] <= '9')
        secs = secs * 10 + static_cast<uint64_t>(name[n++] - '0');
    if (n == 0 || n == 12 || n >= name.size() || name[n] != '.' || secs == 0)
        return std::nullopt;
    uint64_t micros = 0;
    if (n + 1 < name.size() && name[n + 1] == 'M') {
        for (size_t i = n + 2, d = 0; i < name.size() && d < 6 && name[i] >= '0' && name[i] <= '9';
             ++i, ++d)
            micros = micros * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    return (secs + 11644473600ull) * 10000000ull + micros * 10;
}

size_t MboxStart(std::string_view head) {
    size_t pos = head.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (;;) {
        if (head.compare(pos, 5, "From ") == 0)
            return pos;
        size_t nl = head.find('\n', pos);
        if (nl == std::string_view::npos || !IsBlankLine(head.substr(pos, nl + 1 - pos)))
            return std::string_view::npos;
        pos = nl + 1;
    }
}

bool LooksLikeMail(std::string_view head) {
    size_t i = 0;
    while (i < head.size() && i < 80 && head[i] > ' ' && head[i] < 127 && head[i] != ':')
        ++i;
    return i > 0 && i < head.size() && head[i] == ':';
}

std::optional<uint64_t> SeparatorTime(std::string_view line) {
    line.remove_prefix(std::min<size_t>(5, line.size()));
    size_t sender = line.find_first_of(" \t\r\n");
    uint64_t t = 0;
    if (sender == std::string_view::npos || !ParseMailDate(line.substr(sender), &t))
        return std::nullopt;
    return t;
}

bool MboxSplitter::Feed(std::string_view text, std::vector<Message>* done) {
    while (!tooLarge_ && !text.empty()) {
        const size_t nl = text.find('\n');
        if (nl == std::string_view::npos) {
            partial_.append(text);
            // A line is part of a message: one without end is bounded as one.
            tooLarge_ = partial_.size() > max_;
            break;
        }
        if (partial_.empty()) {
            Line(text.substr(0, nl + 1), done);
        } else {
            partial_.append(text.substr(0, nl + 1));
            Line(partial_, done);
            partial_.clear();
        }
        text.remove_prefix(nl + 1);
    }
    return !tooLarge_;
}

bool MboxSplitter::Finish(std::vector<Message>* done) {
    if (!tooLarge_ && !partial_.empty())
        Line(partial_, done);
    partial_.clear();
    if (!tooLarge_)
        Complete(done);
    return !tooLarge_;
}

bool MboxSplitter::Line(std::string_view line, std::vector<Message>* done) {
    if (line.compare(0, 5, "From ") == 0) {
        if (!first_)
            Complete(done);
        first_ = false;
        current_.separator.assign(line);
        return true;
    }
    const size_t gt = line.find_first_not_of('>');
    if (gt != std::string_view::npos && gt > 0 && line.compare(gt, 5, "From ") == 0)
        line.remove_prefix(1);
    current_.source.append(line);
    tooLarge_ = current_.source.size() > max_;
    return !tooLarge_;
}

void MboxSplitter::Complete(std::vector<Message>* done) {
    std::string& m = current_.source;
    // The blank line that ends each message belongs to the format.
    if (m.size() >= 2 && m.compare(m.size() - 2, 2, "\n\n") == 0)
        m.pop_back();
    else if (m.size() >= 4 && m.compare(m.size() - 4, 4, "\r\n\r\n") == 0)
        m.resize(m.size() - 2);
    done->push_back(std::move(current_));
    current_ = Message();
}

} // namespace mailstore::cli
