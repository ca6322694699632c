// Timing and a host window for the window benchmarks.
#pragma once

#include "StoreApi.h"
#include "StoreRecords.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

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

// Milliseconds of the fastest of `runs` runs; `setUp` runs untimed before each.
inline double BestOf(int runs, const std::function<void()>& setUp,
                     const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        if (setUp)
            setUp();
        double start = Now();
        work();
        best = std::min(best, Now() - start);
    }
    return best;
}

// Lets the window paint, so the timing includes what the user waits for.
inline void Paint(HWND window) {
    UpdateWindow(window);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

inline void InitControls() {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&init);
}

// Best of three walks through a folder the way the list fills: every record
// handed back. `seen`, if given, gets the count of the last walk.
inline double EnumerateMessages(IStoreFolder* folder, size_t* seen = nullptr) {
    return BestOf(3, nullptr, [&] {
        size_t count = 0;
        MESSAGEPROPS props = store::NewMessageProps();
        HENUMSTORE handle = nullptr;
        if (folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &handle) == S_OK) {
            do {
                ++count;
                folder->FreeMessageProps(&props);
            } while (folder->GetNextMessage(handle, 0, &props) == S_OK);
            folder->GetMessageClose(handle);
        }
        if (seen)
            *seen = count;
    });
}

} // namespace bench
