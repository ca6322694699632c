// Messages and folders offered to other programs as virtual files: rows as one
// .eml file each, a folder as one mbox file. Nothing is read from the store
// until the target asks for a file's contents, so a drag of many rows starts
// at once and nothing is written before the drop.
#pragma once

#include "store/StoreApi.h"

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace export_data {

// Messages a target could not have, counted until the window says so once.
struct LeftOut {
    size_t count = 0;
    HWND window = nullptr; // told with kLeftOutTimer a moment after the last one
};
constexpr UINT_PTR kLeftOutTimer = 0x4C4F;

// The selected rows of `folder` as .eml files named from their received time
// and subject, unique within the set.
Microsoft::WRL::ComPtr<IDataObject> MessageFiles(Microsoft::WRL::ComPtr<IStoreFolder> folder,
                                                 std::vector<MESSAGEID> ids,
                                                 std::shared_ptr<LeftOut> leftOut);

// `folder` (named `name`) as "<name>.mbox" holding its messages, not those of
// its sub-folders.
Microsoft::WRL::ComPtr<IDataObject> FolderMbox(Microsoft::WRL::ComPtr<IStoreNamespace> store,
                                               STOREFOLDERID folder, const std::wstring& name,
                                               std::shared_ptr<LeftOut> leftOut);

} // namespace export_data
