// The server's text conversions on any bytes: a cut result stays within its
// bytes and is a prefix of the whole one, UTF-8 results are valid, and 8-bit
// text comes back from UTF-8 unchanged. Built natively over a shim that
// converts as the system does for UTF-8 and code page 1252.
#include "Charsets.h"
#include "Text.h"

#include <cstdlib>
#include <string>

using namespace mailstore::com;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t maxBytes = data[0];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (UINT cp : {CP_UTF8, CP_ACP}) {
        const std::string whole = Utf8ToCodePage(text, cp);
        const std::string cut = Utf8ToCodePage(text, cp, maxBytes);
        if (cut.size() > maxBytes || whole.compare(0, cut.size(), cut) != 0)
            std::abort();
        if (cp == CP_UTF8 && !mailstore::IsValidUtf8(whole))
            std::abort();
    }
    std::string scratch;
    if (CodePageText(text, &scratch) != Utf8ToCodePage(text))
        std::abort();
    const std::string utf8 = CodePageToUtf8(text);
    if (!mailstore::IsValidUtf8(utf8) || Utf8ToCodePage(utf8) != text)
        std::abort();
    LPSTR copy = TaskStringDup(text);
    if (copy == nullptr || std::memcmp(copy, text.data(), text.size()) != 0 || copy[text.size()])
        std::abort();
    CoTaskMemFree(copy);
    return 0;
}
