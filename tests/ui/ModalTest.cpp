#include "ui/Modal.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

// Plays the user: once the input box is up, types and presses a button.
struct User {
    std::wstring typed;
    int button = IDOK;
    std::wstring sawCaption;
    std::wstring sawText;
    bool done = false;
};
User* g_user = nullptr;

void CALLBACK Act(HWND, UINT, UINT_PTR id, DWORD) {
    HWND dialog = GetActiveWindow();
    wchar_t className[16] = {};
    GetClassNameW(dialog, className, 16);
    if (!g_user || g_user->done || std::wstring(className) != L"#32770")
        return;
    KillTimer(nullptr, id);
    g_user->done = true;
    wchar_t text[128] = {};
    GetWindowTextW(dialog, text, 128);
    g_user->sawCaption = text;
    HWND edit = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    GetWindowTextW(edit, text, 128);
    g_user->sawText = text;
    SetWindowTextW(edit, g_user->typed.c_str());
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(g_user->button, BN_CLICKED), 0);
}

TEST(DefaultModalHost, InputBoxShowsTheValueAndReturnsWhatTheUserTyped) {
    User user;
    user.typed = L"Projects 2026";
    g_user = &user;
    SetTimer(nullptr, 0, 50, Act);
    std::wstring value = L"New folder";
    bool confirmed = ui::DefaultModalHost().InputBox(nullptr, L" Create folder", L"Name:", value);
    g_user = nullptr;
    EXPECT_TRUE(user.done);
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(user.sawCaption, L" Create folder");
    EXPECT_EQ(user.sawText, L"New folder");
    EXPECT_EQ(value, L"Projects 2026");
}

TEST(DefaultModalHost, CancelledInputBoxKeepsTheValue) {
    User user;
    user.typed = L"ignored";
    user.button = IDCANCEL;
    g_user = &user;
    SetTimer(nullptr, 0, 50, Act);
    std::wstring value = L"Old name";
    bool confirmed = ui::DefaultModalHost().InputBox(nullptr, L" Rename", L"Name:", value);
    g_user = nullptr;
    EXPECT_TRUE(user.done);
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(value, L"Old name");
}

TEST(DescribeCurrentException, NamesWhatWasThrown) {
    auto describe = [](auto thrown) {
        try {
            throw thrown;
        } catch (...) {
            return ui::DescribeCurrentException();
        }
    };
    EXPECT_EQ(describe(std::runtime_error("Cannot create file C:\\x.eml")),
              L"Cannot create file C:\\x.eml");
    EXPECT_EQ(describe(std::bad_alloc()), L"Out of memory.");
    EXPECT_EQ(describe(7), L"Unexpected error.");
}

} // namespace
