// Appending lines to the log panel: the one-line-at-a-time way against the
// panel's collected appends, in a shown window, with painting included.
#include "main/views/LogPanel.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Runs the loop until the panel has shown everything and the edit has painted.
void PumpUntilShown(LogPanel& panel, HWND edit) {
    while (panel.PendingLines() > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    UpdateWindow(edit);
}

std::string Line(int i) {
    return "NEWMSGS MsgId=" + std::to_string(100000 + i);
}

constexpr UINT kAppendOne = WM_APP + 1;
LogPanel* g_panel = nullptr;
int g_handled = 0;

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kAppendOne && g_panel) {
        g_panel->Append(Line(static_cast<int>(wParam)));
        ++g_handled;
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

struct Host {
    HWND window = nullptr;
    HWND edit = nullptr;
    Host() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = HostProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        wc.lpszClassName = L"BenchLogHost";
        RegisterClassW(&wc);
        window = CreateWindowW(L"BenchLogHost", L"log bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                               0, 689, 480, nullptr, nullptr, wc.hInstance, nullptr);
        // The log panel's own edit settings and size.
        edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                               WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY |
                                   WS_VSCROLL,
                               7, 325, 668, 117, window, nullptr, wc.hInstance, nullptr);
        SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     FALSE);
        UpdateWindow(window);
        Pump();
    }
    ~Host() {
        ShowWindow(window, SW_HIDE);
        DestroyWindow(window);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
};

// One line per call, painted before the next, as a plain append would do.
void Naive(int lines, int alreadyThere) {
    Host host;
    if (alreadyThere > 0) {
        std::wstring text;
        for (int i = 0; i < alreadyThere; ++i) {
            std::string line = Line(i);
            text.append(line.begin(), line.end());
            text += L"\r\n";
        }
        SendMessageW(host.edit, EM_SETLIMITTEXT, 0, 0);
        SetWindowTextW(host.edit, text.c_str());
        UpdateWindow(host.edit);
        Pump();
    }
    double start = NowMs();
    for (int i = 0; i < lines; ++i) {
        std::string line = Line(i) + "\r\n";
        std::wstring wide(line.begin(), line.end());
        LRESULT end = GetWindowTextLengthW(host.edit);
        SendMessageW(host.edit, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageW(host.edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
        UpdateWindow(host.edit);
        Pump();
    }
    double elapsed = NowMs() - start;
    std::printf("naive, one line at a time, %6d lines already shown: %7d lines %9.1f ms  "
                "%7.3f ms/line\n",
                alreadyThere, lines, elapsed, elapsed / lines);
}

// Bursts of lines written without a pause, shown when the queue is idle.
bool Bursts(int burst, int rounds) {
    Host host;
    LogPanel panel(host.edit);
    double total = 0;
    size_t expected = 0;
    int n = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = NowMs();
        for (int i = 0; i < burst; ++i, ++n)
            panel.Append(Line(n));
        PumpUntilShown(panel, host.edit);
        double elapsed = NowMs() - start;
        total += elapsed;
        for (int i = n - burst; i < n; ++i)
            expected += Line(i).size() + 2;
        std::printf("panel, burst %2d of %d: %6d lines, log then %7d lines %9.1f ms  "
                    "%7.4f ms/line\n",
                    round + 1, rounds, burst, n, elapsed, elapsed / burst);
    }
    std::printf("panel, all bursts: %d lines %9.1f ms  %7.4f ms/line\n", n, total, total / n);
    bool complete = static_cast<size_t>(GetWindowTextLengthW(host.edit)) == expected;
    std::printf("panel shows every line: %s\n", complete ? "yes" : "NO");
    return complete;
}

// One line per posted message, as store notifications arrive.
bool Trickle(int lines) {
    Host host;
    LogPanel panel(host.edit);
    g_panel = &panel;
    g_handled = 0;
    double start = NowMs();
    for (int i = 0; i < lines; ++i)
        PostMessageW(host.window, kAppendOne, static_cast<WPARAM>(i), 0);
    while (g_handled < lines || panel.PendingLines() > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    UpdateWindow(host.edit);
    double elapsed = NowMs() - start;
    g_panel = nullptr;
    std::printf("panel, one line per posted message: %d lines %9.1f ms  %7.4f ms/line\n", lines,
                elapsed, elapsed / lines);
    return GetWindowTextLengthW(host.edit) > 0;
}

} // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    int naiveLines = argc > 1 ? std::atoi(argv[1]) : 200;
    bool ok = Bursts(10000, 10);
    ok = Trickle(10000) && ok;
    Naive(naiveLines, 0);
    Naive(naiveLines, 20000);
    return ok ? 0 : 1;
}
