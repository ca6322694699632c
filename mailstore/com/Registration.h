// Where the server is registered and where its store lives.
#pragma once

#include <windows.h>

#include <string>

namespace mailstore::com {

// The server's own class. The store's class id is routed to it with TreatAs.
// {2499E836-5D88-42AF-A658-AE2993879DFF}
inline constexpr CLSID CLSID_MailStoreServer = {
    0x2499E836, 0x5D88, 0x42AF, {0xA6, 0x58, 0xAE, 0x29, 0x93, 0x87, 0x9D, 0xFF}};

// Settings key (under HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE) and its value
// naming the store directory.
inline constexpr wchar_t kSettingsKey[] = L"Software\\Brisvander\\MailStore";
inline constexpr wchar_t kDirectoryValue[] = L"Directory";
// Environment variable that overrides the registry, for tests and scripts.
inline constexpr wchar_t kDirectoryEnvironment[] = L"MAILSTORE_DIR";

// Registers `module` as the server's class, machine-wide or for the current user
// only, and routes the store's class to it unless another implementation of the
// store is registered. Writes the default store directory for the current user
// if none is set.
HRESULT RegisterServer(HMODULE module, bool perUser);
// Removes the server's class and a TreatAs that points to it. The store
// directory setting and the mail stay.
HRESULT UnregisterServer(bool perUser);

// %LOCALAPPDATA%\Brisvander\MailStore
std::wstring DefaultStoreDirectory();
// The environment override, else the registry setting, else the default.
std::wstring StoreDirectory();

// "{XXXXXXXX-...}" for `clsid`.
std::wstring GuidText(REFGUID guid);

} // namespace mailstore::com
