#include "ComTestSupport.h"

#include <objbase.h>

#include <atomic>

namespace comtest {
namespace {
constexpr wchar_t kRecorderClass[] = L"MailStoreTestRecorder";

bool RegisterRecorderClass(WNDPROC proc) {
    static const bool registered = [proc] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kRecorderClass;
        return RegisterClassExW(&wc) != 0;
    }();
    return registered;
}
} // namespace

RecorderWindow::RecorderWindow() {
    RegisterRecorderClass(&RecorderWindow::Proc);
    hwnd_ = CreateWindowExW(0, kRecorderClass, L"recorder", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                            nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

RecorderWindow::~RecorderWindow() {
    Destroy();
}

void RecorderWindow::Destroy() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

LRESULT CALLBACK RecorderWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<RecorderWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_FOLDERNOTIFY || msg == WM_NEWMSGS || msg == WM_DELETEMSGS ||
        msg == WM_MARKEDASREAD || msg == WM_MARKEDASUNREAD) {
        Received r;
        r.message = msg;
        if (msg == WM_FOLDERNOTIFY) {
            auto* record = reinterpret_cast<FOLDERNOTIFY*>(lp);
            r.recordAddress = record;
            if (record) {
                r.record = *record;
                if (self && self->scribbleRecords) {
                    *record = FOLDERNOTIFY{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
                }
                CoTaskMemFree(record);
            }
        } else if (msg == WM_NEWMSGS) {
            r.id = static_cast<MESSAGEID>(wp);
        } else if (wp == MARKED_ALL_MESSAGES) {
            r.allMessages = true;
        } else if (wp) {
            r.idAddress = reinterpret_cast<const MESSAGEID*>(wp);
            r.id = *r.idAddress;
        }
        if (self) {
            self->received.push_back(r);
            if (self->onMessage) {
                self->onMessage(r);
            }
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (done && done()) {
                return true;
            }
        }
        if (done && done()) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms) {
    PumpUntil(nullptr, ms);
}

TempDir::TempDir(const wchar_t* tag) {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            (std::wstring(tag) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter));
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace comtest
