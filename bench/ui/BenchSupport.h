// Timing and a host window for the window benchmarks.
#pragma once

#include "StoreApi.h"
#include "StoreRecords.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
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

// Runs the message loop while `more` says so; returns the longest time one
// message took to handle.
inline double PumpWhile(const std::function<bool()>& more) {
    double longest = 0;
    MSG message;
    while (more()) {
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        const double taken = Now();
        TranslateMessage(&message);
        DispatchMessageW(&message);
        longest = std::max(longest, Now() - taken);
    }
    return longest;
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

// Another process (this program again) asking a window one message every
// `everyMs` with SendMessageTimeout, as a user's other programs do, until
// stopped: WM_NULL for whether the window answers at all, LVM_GETITEMCOUNT
// for a reader of the list. It reports the longest wait for an answer.
class OutsideAsker {
  public:
    OutsideAsker(HWND target, UINT message, int everyMs) {
        static int made = 0;
        const std::wstring name = L"bris-bench-ask-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(++made);
        stop_ = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        ready_ = CreateEventW(nullptr, TRUE, FALSE, (name + L"-ready").c_str());
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" --ask " +
                            std::to_wstring(reinterpret_cast<uintptr_t>(target)) + L" " +
                            std::to_wstring(message) + L" " + std::to_wstring(everyMs) + L" " +
                            name;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &process_)) {
            CloseHandle(process_.hThread);
            // Its first question answered, the timing starts with it asking.
            Pump(ready_);
        }
    }
    ~OutsideAsker() { Stop(); }
    OutsideAsker(const OutsideAsker&) = delete;
    OutsideAsker& operator=(const OutsideAsker&) = delete;

    // Stops it; the longest wait in milliseconds, or -1 when it never ran.
    double Stop() {
        if (process_.hProcess) {
            SetEvent(stop_);
            Pump(process_.hProcess);
            DWORD code = 0;
            GetExitCodeProcess(process_.hProcess, &code);
            longest_ = ready_ ? static_cast<double>(code) / 10.0 : -1;
            CloseHandle(process_.hProcess);
            process_.hProcess = nullptr;
        }
        if (ready_) {
            CloseHandle(ready_);
            ready_ = nullptr;
        }
        if (stop_) {
            CloseHandle(stop_);
            stop_ = nullptr;
        }
        return longest_;
    }

    // In the asking process: runs the asker when the command line says so, and
    // exits with the longest wait in tenths of a millisecond.
    static void RunIfAsked(int argc, char** argv) {
        if (argc < 6 || std::strcmp(argv[1], "--ask") != 0)
            return;
        const auto target = reinterpret_cast<HWND>(std::strtoull(argv[2], nullptr, 10));
        const auto message = static_cast<UINT>(std::strtoul(argv[3], nullptr, 10));
        const auto everyMs = static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10));
        const std::string name = argv[5];
        HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, (name + "-ready").c_str());
        double longest = 0;
        bool first = true;
        while (stop && WaitForSingleObject(stop, everyMs) == WAIT_TIMEOUT) {
            DWORD_PTR ignored = 0;
            const double start = Now();
            SendMessageTimeoutW(target, message, 0, 0, SMTO_NORMAL, 120000, &ignored);
            longest = std::max(longest, Now() - start);
            if (first && ready)
                SetEvent(ready);
            first = false;
        }
        std::exit(static_cast<int>(longest * 10));
    }

  private:
    // Answers whatever comes until `handle` is signalled.
    static void Pump(HANDLE handle) {
        while (handle && MsgWaitForMultipleObjects(1, &handle, FALSE, 30000, QS_ALLINPUT) ==
                             WAIT_OBJECT_0 + 1) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }

    HANDLE stop_ = nullptr;
    HANDLE ready_ = nullptr;
    PROCESS_INFORMATION process_{};
    double longest_ = -1;
};

} // namespace bench
