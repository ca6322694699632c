// The store's records as callers get them: folder and message records filled
// from the engine's, and the id lists callers hand in. No session or window here.
#pragma once

#include "Store.h"
#include "StoreApi.h"

#include <vector>

namespace mailstore::com {

// Checks a caller's id list and copies its ids. `limit` bounds the count before
// the array is read, so a wrong count cannot make us read far past the array.
HRESULT ReadIdList(const MESSAGEIDLIST* list, size_t limit, std::vector<mailstore::MessageId>* ids);

// Checks a caller's record: E_POINTER without one, E_INVALIDARG when its size
// word is not `size`.
template <class Record> HRESULT CheckRecord(const Record* record, DWORD size) {
    if (!record) {
        return E_POINTER;
    }
    return record->cbSize == size ? S_OK : E_INVALIDARG;
}

// Fills a folder record, name converted and cut to fit.
void FillFolderProps(const mailstore::FolderInfo& info, FOLDERPROPS* props);
// Fills a message record; the caller frees it with FreeMessageProps.
HRESULT FillMessageProps(const mailstore::MessageInfo& info, MESSAGEPROPS* props);
void ReleaseMessageProps(MESSAGEPROPS* props);

} // namespace mailstore::com
