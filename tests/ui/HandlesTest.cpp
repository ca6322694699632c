#include "ui/Handles.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

int g_closed = 0;
struct CountingTraits {
    static void Close(int) { ++g_closed; }
};
using Counted = ui::UniqueHandle<int, CountingTraits>;

TEST(UniqueHandle, ClosesOnceWhateverWayOwnershipMoves) {
    g_closed = 0;
    {
        Counted a(7);
        Counted b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.Get(), 7);
        Counted c;
        c = std::move(b);
        EXPECT_EQ(g_closed, 0);
        c.Reset(9); // the old handle goes now
        EXPECT_EQ(g_closed, 1);
        int kept = c.Release();
        EXPECT_EQ(kept, 9);
    }
    EXPECT_EQ(g_closed, 1); // a released handle is not closed
}

TEST(UniqueHandle, DestroysRealWindowsAndMenus) {
    HWND raw = CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(IsWindow(raw));
    { ui::UniqueWindow window(raw); }
    EXPECT_FALSE(IsWindow(raw));

    HMENU menu = CreatePopupMenu();
    ASSERT_TRUE(IsMenu(menu));
    { ui::UniqueMenu owner(menu); }
    EXPECT_FALSE(IsMenu(menu));
}

} // namespace
