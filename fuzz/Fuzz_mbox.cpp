// The mbox splitter on arbitrary text: pieces of any size give the same
// messages, and what export writes of them (separator, quoting, closing blank
// line) splits back into the same sources.
#include "ExportNames.h"
#include "ImportFormats.h"

#include <cstdlib>
#include <string>
#include <vector>

using namespace mailstore;
using namespace mailstore::cli;

namespace {
std::vector<MboxSplitter::Message> Split(std::string_view text, size_t piece) {
    MboxSplitter split(1u << 20);
    std::vector<MboxSplitter::Message> out;
    for (size_t i = 0; i < text.size(); i += piece)
        split.Feed(text.substr(i, piece), &out);
    split.Finish(&out);
    return out;
}

bool Same(const std::vector<MboxSplitter::Message>& a,
          const std::vector<MboxSplitter::Message>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].source != b[i].source || a[i].separator != b[i].separator)
            return false;
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t piece = 1 + data[0] % 17;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    MboxStart(text);
    LooksLikeMail(text);
    const auto whole = Split(text, text.size() + 1);
    if (!Same(whole, Split(text, piece)))
        std::abort();
    // Export the non-empty messages again, in pieces, and read them back.
    std::string mbox, out;
    std::vector<std::string> expected;
    MessageInfo info;
    for (const MboxSplitter::Message& m : whole) {
        SeparatorTime(m.separator);
        if (m.source.empty())
            continue;
        mbox += MboxSeparator(info);
        MboxQuoter q;
        for (size_t i = 0; i < m.source.size(); i += piece) {
            out.clear();
            q.Feed(std::string_view(m.source).substr(i, piece), &out);
            mbox += out;
        }
        out.clear();
        q.Flush(&out);
        const bool newline = m.source.back() == '\n';
        mbox += out + (newline ? "\n" : "\n\n");
        expected.push_back(newline ? m.source : m.source + "\n");
    }
    if (expected.empty())
        return 0; // an empty text still ends one (empty) message
    const auto back = Split(mbox, piece);
    if (back.size() != expected.size())
        std::abort();
    for (size_t i = 0; i < back.size(); ++i)
        if (back[i].source != expected[i])
            std::abort();
    return 0;
}
