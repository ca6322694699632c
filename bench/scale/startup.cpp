// The tool started as a user starts it: from creating brisvander.exe's process
// until its list shows every row of the first folder, painted, read from
// outside; the same with an empty store, which no work on the folder can go
// below; the process's private bytes both ways; and the store's own walk of
// that folder for comparison. The store is the first argument or
// BRIS_BENCH_STORE (it is only read).
#include "ScaleBench.h"

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr double kBoundMs = 120000;
constexpr UINT kReplyMs = 5000;

std::wstring ExePath() {
    std::string built = BENCH_BRISVANDER_EXE;
    if (!built.empty() && built[0] == '/')
        built = "Z:" + built; // a build path under Wine
    return std::wstring(built.begin(), built.end());
}

struct MainSearch {
    DWORD process;
    HWND found = nullptr;
};

BOOL CALLBACK TakeMain(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<MainSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process != search->process || lstrcmpW(name, L"TBrisvanderMain") != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

// The main window of that process, not of another copy still closing.
HWND FindMain(DWORD process) {
    MainSearch search{process};
    EnumWindows(TakeMain, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// True once the folders are listed, the list holds `rows` rows and neither it
// nor the window waits for a paint. The reply to a sent message comes only when
// the program has handled what came before it. `seen` says what this look found.
bool Shown(HWND main, size_t rows, std::string& seen) {
    seen = "window found, no list or tree";
    HWND list = scale_bench::FindList(main);
    HWND tree = scale_bench::FindChild(main, WC_TREEVIEWW);
    if (!list || !tree)
        return false;
    seen = "list and tree found, no answer within " + std::to_string(kReplyMs) + " ms";
    DWORD_PTR count = 0, folders = 0;
    if (!SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, kReplyMs, &count) ||
        !SendMessageTimeoutW(tree, TVM_GETCOUNT, 0, 0, SMTO_NORMAL, kReplyMs, &folders))
        return false;
    seen = "window found";
    const bool listPaint = GetUpdateRect(list, nullptr, FALSE);
    const bool mainPaint = GetUpdateRect(main, nullptr, FALSE);
    seen = std::to_string(count) + " rows, " + std::to_string(folders) + " folders" +
           (listPaint ? ", list to paint" : "") + (mainPaint ? ", window to paint" : "");
    return folders > 0 && count == rows && !listPaint && !mainPaint;
}

struct Launch {
    double ms = -1;                 // process created to every row painted
    SIZE_T privateBytes = 0;        // then
    std::string seen = "no window"; // what the last look found, for a report
};

// Starts the tool on `store`, waits until it shows `rows` rows, measures, closes it.
Launch Run(const std::string& store, size_t rows) {
    Launch result;
    SetEnvironmentVariableA("MAILSTORE_DIR", store.c_str());
    std::wstring command = L"\"" + ExePath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const double start = bench::Now();
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return result;
    HWND main = nullptr;
    while (bench::Now() - start < kBoundMs) {
        main = main ? main : FindMain(process.dwProcessId);
        if (main && Shown(main, rows, result.seen)) {
            result.ms = bench::Now() - start;
            break;
        }
        Sleep(2);
    }
    // The private commit charge; under Wine the process's anonymous resident memory.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters))
        result.privateBytes = counters.PagefileUsage;
    if (main)
        PostMessageW(main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1); // ours, and it did not close
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

// The fastest of several launches, the range of their private bytes and the
// last failure.
struct Launches {
    Launch best, failed;
    SIZE_T leastBytes = 0, mostBytes = 0;

    void Add(const Launch& run) {
        if (run.ms < 0) {
            failed = run;
            return;
        }
        if (best.ms < 0 || run.ms < best.ms)
            best = run;
        leastBytes = leastBytes == 0 ? run.privateBytes : std::min(leastBytes, run.privateBytes);
        mostBytes = std::max(mostBytes, run.privateBytes);
    }
};

} // namespace

int main(int argc, char** argv) {
    const std::string store = scale_bench::StoreDir(argc, argv, "BRIS_BENCH_STORE");
    if (store.empty()) {
        std::printf("(no store given: BRIS_BENCH_STORE)\n");
        return 0;
    }
    scale_bench::ComApartment com;
    size_t count = 0;
    double walk = 0;
    {
        SetEnvironmentVariableA("MAILSTORE_DIR", store.c_str());
        scale_bench::Opened opened;
        if (!opened.Open(1)) {
            std::printf("cannot open the store in %s\n", store.c_str());
            return 1;
        }
        walk = bench::EnumerateMessages(opened.folder.Get(), &count);
    }
    // Wine hands out the same process ids run after run: a directory an earlier
    // run left behind would not be an empty store.
    const auto empty = std::filesystem::temp_directory_path() /
                       ("bench-startup-empty-" + std::to_string(GetCurrentProcessId()));
    std::error_code ignored;
    std::filesystem::remove_all(empty, ignored);
    std::filesystem::create_directories(empty);
    Launches none, full;
    for (int i = 0; i < 3; ++i) {
        none.Add(Run(empty.string(), 0));
        full.Add(Run(store, count));
    }
    std::filesystem::remove_all(empty, ignored);
    std::printf("brisvander.exe started on a folder of %zu messages (best of 3)\n", count);
    // Each failure with what its own launch saw last.
    if (none.best.ms < 0)
        std::printf("the window did not show the empty store within %.0f s (last seen: %s)\n",
                    kBoundMs / 1000, none.failed.seen.c_str());
    if (full.best.ms < 0)
        std::printf("the window did not show the folder within %.0f s (last seen: %s)\n",
                    kBoundMs / 1000, full.failed.seen.c_str());
    if (full.best.ms < 0 || none.best.ms < 0)
        return 2;
    std::printf("process created to every row painted: %.1f ms; the store's walk %.1f ms; "
                "ratio %.2f\n",
                full.best.ms, walk, full.best.ms / walk);
    // What no store work can go below: the same start-up with nothing to list.
    std::printf("the same with an empty store: %.1f ms; the folder's share %.1f ms, %.2f times "
                "the walk\n",
                none.best.ms, full.best.ms - none.best.ms, (full.best.ms - none.best.ms) / walk);
    // Private bytes: the commit charge, which under Wine is the process's
    // resident anonymous memory; the least of the three launches each way.
    std::printf("private bytes: %.2f MB shown (launches %.2f-%.2f), %.2f MB with an empty store "
                "(%.2f-%.2f); %.0f bytes per listed message\n",
                full.leastBytes / 1048576.0, full.leastBytes / 1048576.0,
                full.mostBytes / 1048576.0, none.leastBytes / 1048576.0,
                none.leastBytes / 1048576.0, none.mostBytes / 1048576.0,
                (static_cast<double>(full.leastBytes) - static_cast<double>(none.leastBytes)) /
                    static_cast<double>(count));
    return 0;
}
