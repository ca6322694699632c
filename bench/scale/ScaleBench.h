// What the Windows benchmarks at 100,000 messages share: timing, the store
// copy they are given, and the server's objects made directly (no registry).
#pragma once

#include "StoreObjects.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace scale_bench {

inline double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

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

// Milliseconds of the fastest of three walks with every record filled and
// freed, as the list fills; `count` gets the messages of the last one.
inline double WalkMs(IStoreFolder* folder, size_t* count) {
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        size_t n = 0;
        MESSAGEPROPS props{};
        props.cbSize = MESSAGEPROPS_SIZE;
        HENUMSTORE handle = nullptr;
        const double start = Now();
        if (folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &handle) == S_OK) {
            do {
                ++n;
                folder->FreeMessageProps(&props);
            } while (folder->GetNextMessage(handle, 0, &props) == S_OK);
            folder->GetMessageClose(handle);
        }
        best = std::min(best, Now() - start);
        *count = n;
    }
    return best;
}

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
