// Creating the store namespace: the registered class first, else the server
// DLL that ships beside the program (a copy unpacked from the zip runs without
// registration).
#pragma once

#include "StoreApi.h"

namespace store {

// The DLL looked for beside the program when the class is not registered.
inline constexpr wchar_t kBesideServerName[] = L"mailstore.dll";

// CoCreateInstance of the store's class; when that reports the class as not
// registered, the class object of kBesideServerName in the program's own
// folder. Any other failure is returned as it came.
HRESULT CreateStoreNamespace(IStoreNamespace** result);

} // namespace store
