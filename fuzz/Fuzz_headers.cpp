// The header parser on arbitrary bytes: it must not crash, and what it returns
// must be UTF-8 (the COM layer converts it further).
#include "Charsets.h"
#include "MessageParser.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    mailstore::ParsedHeaders h = mailstore::ParseHeaders(in);
    if (!mailstore::IsValidUtf8(h.subject) || !mailstore::IsValidUtf8(h.from) ||
        !mailstore::IsValidUtf8(h.to))
        std::abort();
    if (h.priority != 1 && h.priority != 3 && h.priority != 5)
        std::abort();
    if (!mailstore::IsValidUtf8(mailstore::DecodeHeaderText(in)))
        std::abort();
    uint64_t t = 0;
    mailstore::ParseMailDate(in, &t);
    return 0;
}
