#include "ui/Window.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

class Probe final : public ui::Window {
  public:
    std::vector<UINT> seen;
    std::vector<std::wstring> errors;
    bool throwOnUser = false;

    bool Open() {
        WNDCLASSEXW wc{};
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"UiWindowProbe";
        if (!RegisterWindowClass(wc))
            return false;
        // A caption and a sizing frame: the window gets WM_GETMINMAXINFO before
        // WM_NCCREATE, with no object attached yet.
        return CreateWindowFor(0, L"UiWindowProbe", L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                               nullptr, nullptr, GetModuleHandleW(nullptr)) != nullptr;
    }
    ~Probe() override {
        if (hwnd_)
            DestroyWindow(hwnd_);
    }

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        seen.push_back(message);
        if (message == WM_USER && throwOnUser)
            throw std::runtime_error("handler failed");
        if (message == WM_USER + 1)
            throw 42; // not even an exception class
        return DefaultProc(message, wParam, lParam);
    }
    void ReportError(const std::wstring& message) override { errors.push_back(message); }
};

TEST(WindowBase, AttachesFromTheFirstOwnMessageAndDetachesAtTheEnd) {
    Probe probe;
    ASSERT_TRUE(probe.Open());
    HWND hwnd = probe.Hwnd();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(ui::Window::FromHandle(hwnd), &probe);
    ASSERT_FALSE(probe.seen.empty());
    EXPECT_EQ(probe.seen.front(), static_cast<UINT>(WM_NCCREATE));

    DestroyWindow(hwnd);
    EXPECT_EQ(probe.Hwnd(), nullptr);
    EXPECT_EQ(probe.seen.back(), static_cast<UINT>(WM_NCDESTROY));
}

TEST(WindowBase, ExceptionsStopAtTheWindowProcedureAndAreReported) {
    Probe probe;
    ASSERT_TRUE(probe.Open());
    probe.throwOnUser = true;
    EXPECT_EQ(SendMessageW(probe.Hwnd(), WM_USER, 0, 0), 0);
    EXPECT_EQ(SendMessageW(probe.Hwnd(), WM_USER + 1, 0, 0), 0);
    ASSERT_EQ(probe.errors.size(), 2u);
    EXPECT_EQ(probe.errors[0], L"handler failed");
    EXPECT_EQ(probe.errors[1], L"Unexpected error.");
    // The window goes on working.
    SetWindowTextW(probe.Hwnd(), L"still here");
    wchar_t text[32] = {};
    GetWindowTextW(probe.Hwnd(), text, 32);
    EXPECT_STREQ(text, L"still here");
}

TEST(WindowBase, ObjectGoneBeforeItsWindowLeavesTheWindowHarmless) {
    HWND hwnd = nullptr;
    {
        Probe probe;
        ASSERT_TRUE(probe.Open());
        hwnd = probe.Hwnd();
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0); // as the base's destructor detaches
        EXPECT_EQ(ui::Window::FromHandle(hwnd), nullptr);
        EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 0); // reaches no handler
        EXPECT_TRUE(probe.errors.empty());
    }
    EXPECT_FALSE(IsWindow(hwnd));
}

} // namespace
