// The DLL's exports: class objects, unloading and registration.
#include "Module.h"
#include "Registration.h"
#include "StoreApi.h"
#include "StoreObjects.h"

#include <cwchar>

using namespace mailstore::com;

namespace {

HMODULE g_module = nullptr;

using Creator = HRESULT (*)(REFIID, void**);

struct ClassEntry {
    const CLSID* clsid;
    Creator create;
};

// Both ids make a namespace: our own class, and the store's class for callers
// that reach us through TreatAs or load the DLL directly.
const ClassEntry kClasses[] = {
    {&CLSID_MailStoreServer, &CreateNamespace},
    {&CLSID_StoreNamespace, &CreateNamespace},
};

class ClassFactory final : public RefCounted<IClassFactory> {
  public:
    explicit ClassFactory(Creator create) : create_(create) { ObjectCreated(); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return HandOut(static_cast<IClassFactory*>(this), riid, {IID_IUnknown, IID_IClassFactory},
                       ppv);
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv) {
            *ppv = nullptr;
        }
        if (outer) {
            return CLASS_E_NOAGGREGATION;
        }
        return Guarded([&] { return create_(riid, ppv); });
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        ServerLock(lock != FALSE);
        return S_OK;
    }

  private:
    ~ClassFactory() { ObjectDestroyed(); }
    Creator create_;
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (const auto& entry : kClasses) {
        if (rclsid == *entry.clsid) {
            return CreateObject<ClassFactory>(riid, ppv, entry.create);
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return ModuleInUse() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
    return Guarded([] { return RegisterServer(g_module, false); });
}

STDAPI DllUnregisterServer() {
    return Guarded([] { return UnregisterServer(false); });
}

// regsvr32 /n /i:user registers for the current user only (no administrator
// rights needed on Windows).
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) {
    const bool perUser = cmdLine && _wcsicmp(cmdLine, L"user") == 0;
    return Guarded(
        [&] { return install ? RegisterServer(g_module, perUser) : UnregisterServer(perUser); });
}
