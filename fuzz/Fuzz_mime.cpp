// The MIME reader on arbitrary bytes: no crash, parts inside the input, the
// caps kept, and every text it gives UTF-8.
#include "Charsets.h"
#include "HtmlText.h"
#include "Mime.h"
#include "ExportFormat.h"

#include <cstdlib>
#include <string_view>

namespace {
std::string Date(uint64_t) {
    return "d";
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    mailformat::MimeTree tree = mailformat::ParseMime(in);
    if (tree.parts.empty() || tree.parts.size() > mailformat::kMaxParts)
        std::abort();
    for (const mailformat::MimePart& p : tree.parts) {
        if (p.bodyStart > p.bodyEnd || p.bodyEnd > size || p.depth > mailformat::kMaxDepth)
            std::abort();
    }
    mailformat::Reading r = mailformat::Render(in, tree, Date, 4096);
    if (!mailstore::IsValidUtf8(r.text) || r.text.size() > 4096)
        std::abort();
    for (const mailformat::Attachment& a : r.attachments) {
        const mailformat::MimePart& p = tree.parts[static_cast<size_t>(a.part)];
        std::string_view body = in.substr(p.bodyStart, p.bodyEnd - p.bodyStart);
        if (mailformat::DecodeTransfer(body, p.encoding).size() != a.size)
            std::abort();
        std::string name = mailstore::SafeName(a.name, 120, "attachment");
        if (name.empty() || name.size() > 120 || name.find_first_of("/\\:") != std::string::npos ||
            !mailstore::IsValidUtf8(name))
            std::abort();
    }
    if (!mailstore::IsValidUtf8(mailformat::HtmlToText(mailstore::BytesToUtf8(in))))
        std::abort();
    return 0;
}
