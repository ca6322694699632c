// Reading the store's records safely: bounded names, null-tolerant texts,
// and the meaning of the type and state words.
#pragma once

#include "StoreApi.h"

#include <string>

namespace store {

// The folder's name up to its first NUL, never past the end of the record.
std::string FolderName(const FOLDERPROPS& props);

// A record's text pointer; null reads as empty.
inline std::string Text(LPCSTR text) {
    return text ? std::string(text) : std::string();
}

inline bool IsUnread(const MESSAGEPROPS& props) {
    return (props.dwState & MSGSTATE_UNREAD) != 0;
}
inline bool IsFlagged(const MESSAGEPROPS& props) {
    return (props.dwState & MSGSTATE_FLAGGED) != 0;
}

// The folder panel's text for a special-folder type; null outside -1..4.
const char* FolderTypeText(LONG type);

// The folder image index for a type; 0 outside -1..4.
int FolderTypeImage(LONG type);

// Fresh records with the size word set and everything else zeroed.
FOLDERPROPS NewFolderProps();
MESSAGEPROPS NewMessageProps();

} // namespace store
