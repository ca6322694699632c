// Object counting that decides DllCanUnloadNow, and the store's hidden window
// going away with the last object.
#include "Module.h"
#include "StoreObjects.h"

#include "ComTestSupport.h"

#include <wrl/client.h>

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;
using namespace mailstore::com;

namespace {
HWND HubWindow() {
    return FindWindowExW(HWND_MESSAGE, nullptr, L"MailStoreNotifyHub", nullptr);
}
} // namespace

TEST(Lifetime, TheModuleStaysInUseWhileAnyObjectLives) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        comtest::TempDir dir(L"mailstore-com-life");
        ASSERT_TRUE(SetEnvironmentVariableW(L"MAILSTORE_DIR", dir.path().c_str()));
        ASSERT_FALSE(ModuleInUse());
        ComPtr<IStoreNamespace> ns;
        ASSERT_EQ(CreateNamespace(IID_IStoreNamespace, reinterpret_cast<void**>(ns.GetAddressOf())),
                  S_OK);
        EXPECT_TRUE(ModuleInUse());
        ComPtr<IStoreFolder> wrong;
        EXPECT_EQ(CreateNamespace(IID_IStoreFolder, reinterpret_cast<void**>(wrong.GetAddressOf())),
                  E_NOINTERFACE);
        ASSERT_EQ(ns->Initialize(nullptr, 0), S_OK);
        EXPECT_NE(HubWindow(), nullptr);

        ComPtr<IStoreFolder> folder;
        ASSERT_EQ(ns->OpenFolder(1, 0, folder.GetAddressOf()), S_OK);
        ns.Reset();
        EXPECT_TRUE(ModuleInUse()) << "the folder keeps the store open";
        EXPECT_NE(HubWindow(), nullptr);

        ServerLock(true);
        folder.Reset();
        EXPECT_TRUE(ModuleInUse()) << "a server lock holds the module";
        ServerLock(false);
        EXPECT_FALSE(ModuleInUse());
        EXPECT_EQ(HubWindow(), nullptr);
        SetEnvironmentVariableW(L"MAILSTORE_DIR", nullptr);
    }
    CoUninitialize();
}
