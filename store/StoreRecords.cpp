#include "StoreRecords.h"

#include <cstring>

namespace store {

std::string FolderName(const FOLDERPROPS& props) {
    const char* name = props.szName;
    const void* nul = std::memchr(name, 0, sizeof props.szName);
    size_t len =
        nul ? static_cast<size_t>(static_cast<const char*>(nul) - name) : sizeof props.szName;
    return std::string(name, len);
}

const char* FolderTypeText(LONG type) {
    switch (type) {
    case FOLDER_NOTSPECIAL:
        return "Not a special folder";
    case FOLDER_INBOX:
        return "Default INBOX folder";
    case FOLDER_OUTBOX:
        return "Default OUTBOX folder";
    case FOLDER_SENT:
        return "Default SENT folder";
    case FOLDER_DELETED:
        return "Default DELETED folder";
    case FOLDER_DRAFT:
        return "Default DRAFT folder";
    default:
        return nullptr;
    }
}

int FolderTypeImage(LONG type) {
    return (type >= FOLDER_INBOX && type <= FOLDER_DRAFT) ? type + 1 : 0;
}

FOLDERPROPS NewFolderProps() {
    FOLDERPROPS props{};
    props.cbSize = FOLDERPROPS_SIZE;
    return props;
}

MESSAGEPROPS NewMessageProps() {
    MESSAGEPROPS props{};
    props.cbSize = MESSAGEPROPS_SIZE;
    return props;
}

} // namespace store
