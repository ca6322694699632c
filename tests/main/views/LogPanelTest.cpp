#include "main/views/LogPanel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A burst's lines go into the edit a slice per idle turn, in order, none lost
// or doubled, and the panel's text holds every line at every moment.
TEST(LogPanel, ABurstGoesInInSlicesInOrder) {
    HWND edit =
        CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0,
                        300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(edit, nullptr);
    {
        LogPanel panel(edit);
        std::string expected;
        for (int i = 0; i < 3000; ++i) {
            const std::string line = "DELETEMSGS MsgId=" + std::to_string(i);
            panel.Append(line);
            expected += line + "\r\n";
        }
        EXPECT_EQ(panel.Text(), expected);
        // The first idle turn shows one slice, not the whole burst.
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER)
            DispatchMessageW(&message);
        DispatchMessageW(&message);
        EXPECT_GT(panel.PendingLines(), 0u);
        EXPECT_LT(panel.PendingLines(), 3000u);
        EXPECT_EQ(panel.Text(), expected);
        while (panel.PendingLines() > 0 && GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        EXPECT_EQ(GetWindowTextLengthW(edit), static_cast<int>(expected.size()));
        EXPECT_EQ(panel.Text(), expected);
    }
    DestroyWindow(edit);
}

} // namespace
