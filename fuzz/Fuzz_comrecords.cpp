// The server's records from any texts and the id lists callers hand in: a
// folder name ends within its field, a message record carries each text as the
// caller's code page has it and is given back without a leak, and an id list
// is taken only when it is well formed and within the limit.
#include "Records.h"
#include "Text.h"

#include <cstdlib>
#include <cstring>
#include <string>

using namespace mailstore;
using namespace mailstore::com;

namespace {
std::string Part(std::string_view& in) {
    const size_t cut = std::min(in.find('\xff'), in.size());
    std::string part(in.substr(0, cut));
    in.remove_prefix(std::min(cut + 1, in.size()));
    return part;
}

void Record(std::string_view in) {
    FolderInfo f;
    f.name = Part(in);
    FOLDERPROPS fp{};
    FillFolderProps(f, &fp);
    const size_t len = strnlen(fp.szName, sizeof fp.szName);
    if (len >= sizeof fp.szName || Utf8ToCodePage(f.name).compare(0, len, fp.szName) != 0)
        std::abort();
    MessageInfo m;
    m.subject = Part(in);
    m.to = Part(in);
    m.from = Part(in);
    MESSAGEPROPS mp{};
    if (FillMessageProps(m, &mp) != S_OK)
        std::abort();
    const std::string* texts[] = {&m.subject, &m.to, &m.from};
    const char* got[] = {mp.pszSubject, mp.pszDisplayTo, mp.pszDisplayFrom};
    for (int i = 0; i < 3; ++i) {
        const std::string want = Utf8ToCodePage(*texts[i]);
        if (want.substr(0, want.find('\0')) != got[i])
            std::abort();
    }
    ReleaseMessageProps(&mp);
    // A record whose texts the caller allocated one by one goes back as well.
    mp.pszSubject = TaskStringDup(m.subject);
    mp.pszDisplayTo = TaskStringDup(m.to);
    mp.pszDisplayFrom = nullptr;
    mp.pszUnused56 = TaskStringDup(m.from);
    ReleaseMessageProps(&mp);
    if (mp.pszSubject || mp.pszDisplayTo || mp.pszUnused56)
        std::abort();
}

void IdList(const uint8_t* data, size_t size) {
    if (size < 4)
        return;
    MESSAGEIDLIST list;
    list.cbSize = data[0] < 240 ? MESSAGEIDLIST_SIZE : data[0];
    const size_t limit = data[1];
    list.cMsgs = data[2] < 250 ? data[2] : 0xFFFFFFFFu - data[2];
    std::vector<MessageId> ids(std::min<size_t>(list.cMsgs, limit));
    for (size_t i = 0; i < ids.size(); ++i)
        ids[i] = static_cast<MessageId>(data[3] * 977u + i);
    list.prgdwMsgId = data[3] % 8 == 0 ? nullptr : ids.data();
    std::vector<MessageId> out;
    const HRESULT hr = ReadIdList(&list, limit, &out);
    const bool good = list.cbSize == MESSAGEIDLIST_SIZE && list.cMsgs <= limit &&
                      (list.cMsgs == 0 || list.prgdwMsgId != nullptr);
    if ((hr == S_OK) != good || (good && out != std::vector<MessageId>(ids.begin(), ids.end())))
        std::abort();
    if (ReadIdList(nullptr, limit, &out) != E_POINTER)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Record(std::string_view(reinterpret_cast<const char*>(data), size));
    IdList(data, size);
    return 0;
}
