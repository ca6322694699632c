#include "Records.h"

#include "Text.h"

#include <cstring>
#include <string>

namespace mailstore::com {
namespace {

FILETIME ToFileTime(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

} // namespace

void FillFolderProps(const mailstore::FolderInfo& info, FOLDERPROPS* props) {
    props->FolderId = info.id;
    props->cSubFolders = static_cast<LONG>(info.subFolderCount);
    props->sfType = info.type;
    props->cUnread = info.unreadCount;
    props->cMessage = info.messageCount;
    const std::string name = Utf8ToCodePage(info.name, CP_ACP, kMaxNameBytes);
    std::memset(props->szName, 0, sizeof props->szName);
    std::memcpy(props->szName, name.data(), name.size());
}

HRESULT ReadIdList(const MESSAGEIDLIST* list, size_t limit,
                   std::vector<mailstore::MessageId>* ids) {
    if (!list) {
        return E_POINTER;
    }
    if (list->cbSize != MESSAGEIDLIST_SIZE) {
        return E_INVALIDARG;
    }
    if (list->cMsgs > 0 && !list->prgdwMsgId) {
        return E_POINTER;
    }
    if (list->cMsgs > limit) {
        return E_INVALIDARG;
    }
    ids->assign(list->prgdwMsgId, list->prgdwMsgId + list->cMsgs);
    return S_OK;
}

// A record's three texts share one task allocation: in a folder walk the
// allocator is the dearest step, and FreeMessageProps is the only way back.
HRESULT FillMessageProps(const mailstore::MessageInfo& info, MESSAGEPROPS* props) {
    std::string scratch[3];
    std::string_view texts[3] = {CodePageText(info.subject, &scratch[0]),
                                 CodePageText(info.to, &scratch[1]),
                                 CodePageText(info.from, &scratch[2])};
    for (std::string_view& text : texts) {
        text = text.substr(0, text.find('\0')); // a reader stops there anyway
    }
    auto* block =
        static_cast<char*>(CoTaskMemAlloc(texts[0].size() + texts[1].size() + texts[2].size() + 3));
    if (!block) {
        return E_OUTOFMEMORY;
    }
    LPSTR starts[3];
    char* at = block;
    for (int i = 0; i < 3; ++i) {
        starts[i] = at;
        if (!texts[i].empty()) {
            std::memcpy(at, texts[i].data(), texts[i].size());
        }
        at += texts[i].size();
        *at++ = '\0';
    }
    props->dwReserved = 0;
    props->dwMessageId = info.id;
    props->dwUnused12 = 0;
    props->dwState = info.state;
    props->cbMessage = info.size;
    props->priority = info.priority;
    props->ftReceived = ToFileTime(info.received);
    props->ftSent = ToFileTime(info.sent);
    props->pszSubject = starts[0];
    props->pszDisplayTo = starts[1];
    props->pszDisplayFrom = starts[2];
    props->pszUnused56 = nullptr;
    props->dwUnused60 = 0;
    props->pStmOffsetTable = nullptr; // no offset table is kept
    return S_OK;
}

void ReleaseMessageProps(MESSAGEPROPS* props) {
    // Texts laid end to end are one block of ours; anything else is freed
    // text by text (separate allocations are never adjacent).
    LPSTR subject = props->pszSubject;
    LPSTR to = props->pszDisplayTo;
    LPSTR from = props->pszDisplayFrom;
    const bool oneBlock = subject && to && from && to == subject + std::strlen(subject) + 1 &&
                          from == to + std::strlen(to) + 1;
    CoTaskMemFree(subject);
    if (!oneBlock) {
        CoTaskMemFree(to);
        CoTaskMemFree(from);
    }
    CoTaskMemFree(props->pszUnused56);
    props->pszSubject = nullptr;
    props->pszDisplayTo = nullptr;
    props->pszDisplayFrom = nullptr;
    props->pszUnused56 = nullptr;
    if (props->pStmOffsetTable) {
        props->pStmOffsetTable->Release();
        props->pStmOffsetTable = nullptr;
    }
}

} // namespace mailstore::com
