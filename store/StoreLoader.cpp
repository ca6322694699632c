#include "StoreLoader.h"

#include <wrl/client.h>

#include <string>
#include <vector>

namespace store {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

// An export of a DLL as the function type it has.
template <typename Fn> Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A server DLL loaded by path. It stays loaded until the process ends, and is
// freed then only if it says nothing of it is in use.
class ServerModule {
  public:
    ServerModule() = default;
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;
    ~ServerModule() {
        if (!module_)
            return;
        const auto canUnload = Export<CanUnloadFn>(module_, "DllCanUnloadNow");
        if (canUnload && canUnload() == S_OK)
            FreeLibrary(module_);
    }

    // The module at `path`; there is only ever the one beside the program.
    HMODULE Load(const wchar_t* path) {
        if (!module_)
            module_ = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        return module_;
    }

  private:
    HMODULE module_ = nullptr;
};

ServerModule& Loaded() {
    static ServerModule module;
    return module;
}

std::wstring ProgramFolder() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size())
            break;
        path.resize(path.size() * 2);
    }
    std::wstring folder(path.data());
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

// A namespace from the class object of the server DLL at `path`, loaded once
// and kept for the life of the process: its objects and windows may outlive
// any one caller.
HRESULT CreateFromServerDll(const wchar_t* path, IStoreNamespace** result) {
    const HMODULE module = Loaded().Load(path);
    if (!module)
        return HRESULT_FROM_WIN32(GetLastError());
    const auto getClassObject = Export<GetClassObjectFn>(module, "DllGetClassObject");
    if (!getClassObject)
        return CLASS_E_CLASSNOTAVAILABLE;
    Microsoft::WRL::ComPtr<IClassFactory> factory;
    const HRESULT hr = getClassObject(CLSID_StoreNamespace, IID_IClassFactory,
                                      reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, IID_IStoreNamespace, reinterpret_cast<void**>(result));
}

} // namespace

HRESULT CreateStoreNamespace(IStoreNamespace** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IStoreNamespace, reinterpret_cast<void**>(result));
    if (hr != REGDB_E_CLASSNOTREG)
        return hr;
    try {
        const std::wstring folder = ProgramFolder();
        if (folder.empty())
            return hr;
        const std::wstring beside = folder + kBesideServerName;
        if (GetFileAttributesW(beside.c_str()) == INVALID_FILE_ATTRIBUTES)
            return hr;
        return CreateFromServerDll(beside.c_str(), result);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace store
