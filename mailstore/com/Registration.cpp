#include "Registration.h"

#include "StoreApi.h"

#include <shlobj.h>

#include <vector>

namespace mailstore::com {
namespace {

constexpr wchar_t kServerTitle[] = L"Brisvander mail store";

// RAII for an open registry key.
class Key {
  public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_) {
            RegCloseKey(key_);
        }
    }
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

HKEY ClassesRoot(bool perUser) {
    return perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

std::wstring ClsidKey(REFCLSID clsid) {
    return L"Software\\Classes\\CLSID\\" + GuidText(clsid);
}

LONG SetString(HKEY root, const std::wstring& subkey, const wchar_t* name,
               const std::wstring& value) {
    return RegSetKeyValueW(root, subkey.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool ReadString(HKEY root, const std::wstring& subkey, const wchar_t* name, std::wstring* out) {
    // Expansion is done here: RegGetValueW refuses to expand into a size query.
    const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegGetValueW(root, subkey.c_str(), name, flags, &type, nullptr, &bytes) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<wchar_t> buf(bytes / sizeof(wchar_t) + 1);
    bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (RegGetValueW(root, subkey.c_str(), name, flags, &type, buf.data(), &bytes) !=
        ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_EXPAND_SZ) {
        *out = buf.data();
        return true;
    }
    const DWORD n = ExpandEnvironmentStringsW(buf.data(), nullptr, 0);
    std::vector<wchar_t> expanded(n + 1);
    if (n == 0 || ExpandEnvironmentStringsW(buf.data(), expanded.data(), n + 1) == 0) {
        return false;
    }
    *out = expanded.data();
    return true;
}

bool KeyExists(HKEY root, const std::wstring& subkey) {
    Key key;
    return RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

// True when the store's class has a server of its own, or is routed elsewhere,
// in the classes being written or in the merged view the system uses.
bool OtherStoreRegistered(HKEY root) {
    const std::wstring store = GuidText(CLSID_StoreNamespace);
    const std::pair<HKEY, std::wstring> places[] = {
        {root, L"Software\\Classes\\CLSID\\" + store},
        {HKEY_CLASSES_ROOT, L"CLSID\\" + store},
    };
    for (const auto& [key, path] : places) {
        if (KeyExists(key, path + L"\\InprocServer32") ||
            KeyExists(key, path + L"\\LocalServer32")) {
            return true;
        }
        std::wstring treatAs;
        if (ReadString(key, path + L"\\TreatAs", nullptr, &treatAs) &&
            _wcsicmp(treatAs.c_str(), GuidText(CLSID_MailStoreServer).c_str()) != 0) {
            return true;
        }
    }
    return false;
}

HRESULT FromWin32(LONG rc) {
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

} // namespace

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT RegisterServer(HMODULE module, bool perUser) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        if (n < path.size()) {
            break;
        }
        path.resize(path.size() * 2);
    }
    const HKEY root = ClassesRoot(perUser);
    const std::wstring server = ClsidKey(CLSID_MailStoreServer);
    LONG rc = SetString(root, server, nullptr, kServerTitle);
    if (rc == ERROR_SUCCESS) {
        rc = SetString(root, server + L"\\InprocServer32", nullptr, path.data());
    }
    if (rc == ERROR_SUCCESS) {
        rc = SetString(root, server + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    }
    if (rc != ERROR_SUCCESS) {
        return FromWin32(rc);
    }
    // Never take the place of a store that is already there.
    if (!OtherStoreRegistered(root)) {
        const std::wstring store = ClsidKey(CLSID_StoreNamespace);
        rc = SetString(root, store + L"\\TreatAs", nullptr, GuidText(CLSID_MailStoreServer));
        if (rc != ERROR_SUCCESS) {
            return FromWin32(rc);
        }
    }
    std::wstring existing;
    if (!ReadString(HKEY_CURRENT_USER, kSettingsKey, kDirectoryValue, &existing)) {
        rc = SetString(HKEY_CURRENT_USER, kSettingsKey, kDirectoryValue, DefaultStoreDirectory());
    }
    return FromWin32(rc);
}

HRESULT UnregisterServer(bool perUser) {
    const HKEY root = ClassesRoot(perUser);
    LONG rc = RegDeleteTreeW(root, ClsidKey(CLSID_MailStoreServer).c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        return FromWin32(rc);
    }
    const std::wstring store = ClsidKey(CLSID_StoreNamespace);
    std::wstring treatAs;
    if (ReadString(root, store + L"\\TreatAs", nullptr, &treatAs) &&
        _wcsicmp(treatAs.c_str(), GuidText(CLSID_MailStoreServer).c_str()) == 0) {
        RegDeleteKeyW(root, (store + L"\\TreatAs").c_str());
        // Drops the class key only if the TreatAs was all it held.
        RegDeleteKeyW(root, store.c_str());
    }
    return S_OK;
}

std::wstring DefaultStoreDirectory() {
    PWSTR base = nullptr;
    std::wstring dir;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &base))) {
        dir = base;
    }
    CoTaskMemFree(base);
    if (dir.empty()) {
        dir = L".";
    }
    return dir + L"\\Brisvander\\MailStore";
}

std::wstring StoreDirectory() {
    std::vector<wchar_t> env(32768);
    const DWORD n =
        GetEnvironmentVariableW(kDirectoryEnvironment, env.data(), static_cast<DWORD>(env.size()));
    if (n > 0 && n < env.size()) {
        return env.data();
    }
    std::wstring dir;
    if (ReadString(HKEY_CURRENT_USER, kSettingsKey, kDirectoryValue, &dir) && !dir.empty()) {
        return dir;
    }
    if (ReadString(HKEY_LOCAL_MACHINE, kSettingsKey, kDirectoryValue, &dir) && !dir.empty()) {
        return dir;
    }
    return DefaultStoreDirectory();
}

} // namespace mailstore::com
