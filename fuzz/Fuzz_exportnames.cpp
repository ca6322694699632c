// Export's names and texts from any subject or folder name: a file name every
// file system takes, and mboxrd quoting that does not depend on how the source
// is cut into pieces.
#include "Charsets.h"
#include "ExportNames.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace mailstore;
using namespace mailstore::cli;

namespace {
bool Safe(const std::string& name, size_t maxBytes, bool utf8In) {
    if (name.empty() || name.size() > std::max<size_t>(maxBytes, 6) + 1 || name[0] == '.' ||
        name.back() == '.' || name.back() == ' ' || IsReservedDeviceName(name))
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr)
            return false;
        if (c == 0xC2 && i + 1 < name.size() &&
            (static_cast<unsigned char>(name[i + 1]) & 0xE0) == 0x80)
            return false;
    }
    return !utf8In || IsValidUtf8(name);
}

std::string Quote(std::string_view text, size_t piece) {
    MboxQuoter q;
    std::string out;
    for (size_t i = 0; i < text.size(); i += piece)
        q.Feed(text.substr(i, piece), &out);
    q.Flush(&out);
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9)
        return 0;
    const size_t maxBytes = 1 + data[0] % 120;
    const size_t piece = 1 + data[1] % 13;
    MessageInfo m;
    std::memcpy(&m.sent, data + 2, 7);
    m.received = m.sent * 3;
    m.subject.assign(reinterpret_cast<const char*>(data) + 9, size - 9);
    const bool utf8 = IsValidUtf8(m.subject);
    if (!Safe(SafeName(m.subject, maxBytes, "folder"), maxBytes, utf8))
        std::abort();
    const std::string eml = EmlBase(m) + ".eml";
    if (!Safe(eml, 130, utf8))
        std::abort();
    const std::string sep = MboxSeparator(m);
    if (sep.compare(0, 7, "From - ") != 0 || sep.back() != '\n' || sep.find('\n') != sep.size() - 1)
        std::abort();
    if (Quote(m.subject, piece) != Quote(m.subject, m.subject.size() + 1))
        std::abort();
    return 0;
}
