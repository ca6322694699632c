// Shared set-up for the main window tests: a COM apartment, common controls,
// the store double and a scripted modal host behind a real TBrisvanderMain.
#pragma once

#include "main/MainUnit.h"
#include "ScriptedModalHost.h"
#include "StoreDouble.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <memory>
#include <string>

namespace maintest {

class ComApartment {
  public:
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

// Dispatches whatever is queued until nothing has come for `quietMs`.
inline void PumpUntilIdle(DWORD quietMs = 60) {
    MSG message;
    for (;;) {
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            continue;
        }
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, quietMs, QS_ALLINPUT) == WAIT_TIMEOUT)
            return;
    }
}

inline std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

// A child's rectangle in its parent's client coordinates.
inline RECT PlaceOf(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        store_->SetDirectory("C:\\Users\\alice\\Mail\\Store");
        store_->AddFolder(1, 0, "Inbox", FOLDER_INBOX).AddFolder(2, 0, "Archive");
        store_->AddMessage(1, storedouble::Message(11, "Alice Example <alice@example.org>", "Hello",
                                                   MSGSTATE_UNREAD));
    }
    void TearDown() override {
        window_.reset();
        PumpUntilIdle(0);
    }

    StoreFactory DoubleFactory() {
        return [this](IStoreNamespace** result) {
            *result = store_.Get();
            (*result)->AddRef();
            return S_OK;
        };
    }

    // Hidden unless asked: under Wine without a window manager, destroying a
    // shown window waits two seconds for a state change that never comes.
    void Start(StoreFactory factory, int show = SW_HIDE) {
        window_ = std::make_unique<TBrisvanderMain>(std::move(factory), &modal_);
        ASSERT_TRUE(window_->Create(GetModuleHandleW(nullptr), show));
    }
    void Start() { Start(DoubleFactory()); }

    ComApartment com_;
    Microsoft::WRL::ComPtr<storedouble::StoreDouble> store_ = storedouble::StoreDouble::Create();
    storedouble::ScriptedModalHost modal_;
    std::unique_ptr<TBrisvanderMain> window_;
};

} // namespace maintest
