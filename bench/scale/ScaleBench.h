// What the Windows benchmarks at 100,000 messages share: the store copy they
// are given, and the server's objects made directly (no registry).
#pragma once

#include "BenchSupport.h"
#include "StoreObjects.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <cstdlib>
#include <string>

namespace scale_bench {

// The store directory: the first argument, else the environment variable.
inline std::string StoreDir(int argc, char** argv, const char* variable) {
    if (argc > 1)
        return argv[1];
    const char* value = std::getenv(variable);
    return value ? value : "";
}

class ComApartment {
  public:
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() { CoUninitialize(); }
};

// The namespace over MAILSTORE_DIR, initialised, and one folder of it.
struct Opened {
    Microsoft::WRL::ComPtr<IStoreNamespace> ns;
    Microsoft::WRL::ComPtr<IStoreFolder> folder;

    bool Open(STOREFOLDERID id) {
        if (FAILED(mailstore::com::CreateNamespace(IID_IStoreNamespace,
                                                   reinterpret_cast<void**>(ns.GetAddressOf()))) ||
            ns->Initialize(nullptr, 0) != S_OK)
            return false;
        return id == 0 || ns->OpenFolder(id, 0, folder.GetAddressOf()) == S_OK;
    }
};

struct ChildSearch {
    const wchar_t* className;
    HWND found = nullptr;
};

inline BOOL CALLBACK TakeChild(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ChildSearch*>(param);
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (lstrcmpW(name, search->className) != 0)
        return TRUE;
    search->found = child;
    return FALSE;
}

// The first descendant of a window with this class, or null.
inline HWND FindChild(HWND window, const wchar_t* className) {
    ChildSearch search{className};
    EnumChildWindows(window, TakeChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline HWND FindList(HWND window) {
    return FindChild(window, WC_LISTVIEWW);
}

} // namespace scale_bench
