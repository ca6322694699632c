// Registration for the current user only, so the machine-wide registration
// that the other tests use stays as it is.
#include "Registration.h"

#include "StoreApi.h"

#include <gtest/gtest.h>

#include <string>

using namespace mailstore::com;

namespace {

const std::wstring kStoreKey = L"Software\\Classes\\CLSID\\" + GuidText(CLSID_StoreNamespace);
const std::wstring kServerKey = L"Software\\Classes\\CLSID\\" + GuidText(CLSID_MailStoreServer);

bool UserValue(const std::wstring& key, const wchar_t* name, std::wstring* out) {
    wchar_t buf[1024] = {};
    DWORD bytes = sizeof buf;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &bytes) !=
        ERROR_SUCCESS) {
        return false;
    }
    *out = buf;
    return true;
}

bool UserKeyExists(const std::wstring& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(h);
    return true;
}

// Leaves no per-user class behind, whatever the test did.
struct UserClassesCleanup {
    ~UserClassesCleanup() {
        UnregisterServer(true);
        RegDeleteTreeW(HKEY_CURRENT_USER, kStoreKey.c_str());
    }
};

} // namespace

TEST(Registration, RoutesTheStoreClassOnlyWhenNoOtherServerIsThere) {
    UserClassesCleanup cleanup;
    const HMODULE self = GetModuleHandleW(nullptr);
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(self, path, MAX_PATH);

    // Another implementation of the store: its class keeps its server.
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (kStoreKey + L"\\InprocServer32").c_str(), nullptr,
                              REG_SZ, L"other.dll", sizeof L"other.dll"),
              ERROR_SUCCESS);
    ASSERT_EQ(RegisterServer(self, true), S_OK);
    std::wstring value;
    ASSERT_TRUE(UserValue(kServerKey + L"\\InprocServer32", nullptr, &value));
    EXPECT_EQ(value, path);
    ASSERT_TRUE(UserValue(kServerKey + L"\\InprocServer32", L"ThreadingModel", &value));
    EXPECT_EQ(value, L"Apartment");
    EXPECT_FALSE(UserKeyExists(kStoreKey + L"\\TreatAs"));
    ASSERT_TRUE(UserValue(kStoreKey + L"\\InprocServer32", nullptr, &value));
    EXPECT_EQ(value, L"other.dll");
    // Unregistering leaves the other server alone too.
    ASSERT_EQ(UnregisterServer(true), S_OK);
    EXPECT_FALSE(UserKeyExists(kServerKey));
    EXPECT_TRUE(UserKeyExists(kStoreKey + L"\\InprocServer32"));
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kStoreKey.c_str()), ERROR_SUCCESS);

    // A store class with no server, or routed to us already, gets the TreatAs.
    // (The machine-wide registration of the test run routes it to us.)
    ASSERT_EQ(RegisterServer(self, true), S_OK);
    ASSERT_TRUE(UserValue(kStoreKey + L"\\TreatAs", nullptr, &value));
    EXPECT_EQ(value, GuidText(CLSID_MailStoreServer));
    ASSERT_EQ(RegisterServer(self, true), S_OK) << "registering again is harmless";
    ASSERT_EQ(UnregisterServer(true), S_OK);
    EXPECT_FALSE(UserKeyExists(kStoreKey)) << "the key held only our TreatAs";
    EXPECT_FALSE(UserKeyExists(kServerKey));
    EXPECT_EQ(UnregisterServer(true), S_OK) << "unregistering twice is harmless";
}

TEST(Registration, DirectoryComesFromEnvironmentThenRegistryThenDefault) {
    // Registration wrote a directory for this user unless one was set.
    std::wstring registered;
    ASSERT_TRUE(UserValue(kSettingsKey, kDirectoryValue, &registered));
    struct Restore {
        std::wstring value;
        ~Restore() {
            SetEnvironmentVariableW(kDirectoryEnvironment, nullptr);
            RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kDirectoryValue, REG_SZ, value.c_str(),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
    } restore{registered};
    ASSERT_TRUE(SetEnvironmentVariableW(kDirectoryEnvironment, nullptr));

    const wchar_t custom[] = L"%SystemDrive%\\mail\\store";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kDirectoryValue, REG_EXPAND_SZ,
                              custom, sizeof custom),
              ERROR_SUCCESS);
    wchar_t expanded[MAX_PATH];
    ExpandEnvironmentStringsW(custom, expanded, MAX_PATH);
    EXPECT_EQ(StoreDirectory(), expanded);
    EXPECT_EQ(StoreDirectory().find(L'%'), std::wstring::npos);

    ASSERT_TRUE(SetEnvironmentVariableW(kDirectoryEnvironment, L"C:\\elsewhere\\store"));
    EXPECT_EQ(StoreDirectory(), L"C:\\elsewhere\\store");
    ASSERT_TRUE(SetEnvironmentVariableW(kDirectoryEnvironment, nullptr));

    ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, kDirectoryValue), ERROR_SUCCESS);
    EXPECT_EQ(StoreDirectory(), DefaultStoreDirectory());
    EXPECT_NE(DefaultStoreDirectory().find(L"\\Brisvander\\MailStore"), std::wstring::npos);
}
