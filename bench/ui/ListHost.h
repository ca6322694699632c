// A bare top-level window holding an owner-data message list whose rows are
// answered by list_sync: the list alone, without the main window around it.
#pragma once

#include "main/views/MessageListSync.h"
#include "main/views/MessageRows.h"

#include <windows.h>
#include <commctrl.h>

namespace bench {

class ListHost {
  public:
    explicit ListHost(const wchar_t* className) {
        WNDCLASSW cls{};
        cls.lpfnWndProc = Proc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = className;
        RegisterClassW(&cls);
        host_ = CreateWindowExW(0, className, L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 700,
                                500, nullptr, nullptr, cls.hInstance, nullptr);
        SetWindowLongPtrW(host_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&rows_));
        const DWORD style = WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA;
        list_ = CreateWindowExW(0, WC_LISTVIEWW, L"", style, 0, 0, 680, 460, host_, nullptr,
                                cls.hInstance, nullptr);
        images_ = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 5, 0);
        list_sync::SetUpColumns(list_, images_);
    }
    ~ListHost() {
        DestroyWindow(host_);
        ImageList_Destroy(images_);
    }
    ListHost(const ListHost&) = delete;
    ListHost& operator=(const ListHost&) = delete;

    HWND Host() const { return host_; }
    HWND List() const { return list_; }
    MessageRows& Rows() { return rows_; }

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* rows = reinterpret_cast<MessageRows*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (message == WM_NOTIFY && rows) {
            LRESULT result = 0;
            if (list_sync::HandleNotify(*rows, reinterpret_cast<NMHDR*>(lParam), result))
                return result;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    MessageRows rows_;
    HWND host_ = nullptr;
    HWND list_ = nullptr;
    HIMAGELIST images_ = nullptr;
};

} // namespace bench
