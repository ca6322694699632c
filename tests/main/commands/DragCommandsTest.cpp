// Rows and folders dragged onto the tree of the real window on the store
// double, driven by the window's own mouse and key messages.
#include "CommandTestSupport.h"
#include "main/commands/DragTracker.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace maintest {
namespace {

class DragCommandsTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        // Inbox (1, special) with 12 and 13; Archive (2) with work (4, holding
        // Deep 6) and Old (5).
        store_->AddFolder(4, 2, "work").AddFolder(5, 2, "Old").AddFolder(6, 4, "Deep");
        store_->AddMessage(1, storedouble::Message(12, "Sender", "Second"));
        store_->AddMessage(1, storedouble::Message(13, "Sender", "Third"));
        Start();
        store_->ClearCalls();
    }
    // The middle of a folder's label, in the tree's or the window's client area.
    POINT InTree(STOREFOLDERID id) const {
        RECT label{};
        TreeView_GetItemRect(Tree(), folder_tree::FindNode(Tree(), id), &label, TRUE);
        return {(label.left + label.right) / 2, (label.top + label.bottom) / 2};
    }
    POINT InWindow(STOREFOLDERID id) const {
        POINT at = InTree(id);
        MapWindowPoints(Tree(), window_->Handle(), &at, 1);
        return at;
    }
    void Mouse(UINT message, STOREFOLDERID over, WPARAM keys = 0) {
        const POINT at = InWindow(over);
        SendMessageW(window_->Handle(), message, keys, MAKELPARAM(at.x, at.y));
    }
    void DragFolder(STOREFOLDERID id) {
        NMTREEVIEWW info{};
        info.hdr = {Tree(), IDC_TREEVIEWFOLDERS, TVN_BEGINDRAGW};
        info.itemNew.hItem = folder_tree::FindNode(Tree(), id);
        info.ptDrag = InTree(id);
        SendMessageW(window_->Handle(), WM_NOTIFY, IDC_TREEVIEWFOLDERS,
                     reinterpret_cast<LPARAM>(&info));
    }
    void DragRows(std::initializer_list<int> rows) {
        ListView_SetItemState(List(), -1, 0, LVIS_SELECTED);
        for (int row : rows)
            ListView_SetItemState(List(), row, LVIS_SELECTED, LVIS_SELECTED);
        NMLISTVIEW info{};
        info.hdr = {List(), IDC_LISTVIEWMESSAGES, LVN_BEGINDRAG};
        info.iItem = *rows.begin();
        SendMessageW(window_->Handle(), WM_NOTIFY, IDC_LISTVIEWMESSAGES,
                     reinterpret_cast<LPARAM>(&info));
    }
    STOREFOLDERID Highlighted() const {
        HTREEITEM node = TreeView_GetDropHilight(Tree());
        return node ? folder_tree::NodeId(Tree(), node) : 0;
    }
    bool NoDropCursor() const { return GetCursor() == LoadCursorW(nullptr, IDC_NO); }
};

TEST_F(DragCommandsTest, FoldersGoWhereMoveWouldTakeThemAndRowsAnywhereButHome) {
    store_->AddFolder(7, 1, "work").AddFolder(8, 5, "Work");
    window_->RebuildTree(1);
    HWND tree = Tree();
    EXPECT_TRUE(drop_rules::FolderMayDrop(tree, 4, 5)) << "a \"Work\" is no \"work\"";
    EXPECT_FALSE(drop_rules::FolderMayDrop(tree, 4, 2)) << "its parent";
    EXPECT_FALSE(drop_rules::FolderMayDrop(tree, 4, 4)) << "itself";
    EXPECT_FALSE(drop_rules::FolderMayDrop(tree, 4, 6)) << "its own sub-tree";
    EXPECT_FALSE(drop_rules::FolderMayDrop(tree, 4, 1)) << "holds a \"work\" already";
    EXPECT_FALSE(drop_rules::FolderMayDrop(tree, 1, 5)) << "a special folder";
    EXPECT_FALSE(drop_rules::FolderMayDrop(tree, 4, 99)) << "no such target";
    EXPECT_TRUE(drop_rules::RowsMayDrop(1, 2));
    EXPECT_FALSE(drop_rules::RowsMayDrop(1, 1));
    EXPECT_FALSE(drop_rules::RowsMayDrop(1, 0));
}

TEST_F(DragCommandsTest, AFolderMovesOnlyAtTheDropOntoAnAllowedTarget) {
    // The Inbox may leave the window, but no folder takes it.
    DragFolder(1);
    Mouse(WM_MOUSEMOVE, 5);
    EXPECT_EQ(Highlighted(), 0u);
    Mouse(WM_LBUTTONUP, 5);
    EXPECT_FALSE(window_->Dragging());

    DragFolder(4);
    ASSERT_TRUE(window_->Dragging());
    Mouse(WM_MOUSEMOVE, 2);
    EXPECT_EQ(Highlighted(), 0u);
    EXPECT_TRUE(NoDropCursor()) << "over its parent";
    Mouse(WM_MOUSEMOVE, 5);
    EXPECT_EQ(Highlighted(), 5u);
    EXPECT_FALSE(NoDropCursor());
    // A rebuild in the middle takes the nodes; the next move finds them again.
    window_->RebuildTree(1);
    Mouse(WM_MOUSEMOVE, 5);
    EXPECT_EQ(Highlighted(), 5u);
    EXPECT_THAT(CallsOf("MoveFolder"), IsEmpty()) << "nothing before the drop";
    Mouse(WM_LBUTTONUP, 5);
    EXPECT_THAT(CallsOf("MoveFolder"), ElementsAre("MoveFolder(4, 5)"));
    EXPECT_FALSE(window_->Dragging());
    EXPECT_EQ(Highlighted(), 0u);

    // Escape in the tree ends the next drag; the button then drops nothing.
    DragFolder(5);
    Mouse(WM_MOUSEMOVE, 4);
    EXPECT_EQ(Highlighted(), 4u);
    SendMessageW(Tree(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(window_->Dragging());
    EXPECT_EQ(Highlighted(), 0u);
    Mouse(WM_LBUTTONUP, 4);
    EXPECT_THAT(CallsOf("MoveFolder"), ElementsAre("MoveFolder(4, 5)"));
}

TEST_F(DragCommandsTest, RowsAreMovedOrWithCtrlCopiedAsByTheFolderDialog) {
    DragRows({2, 0});
    Mouse(WM_MOUSEMOVE, 1);
    EXPECT_TRUE(NoDropCursor()) << "the folder they are in";
    Mouse(WM_LBUTTONUP, 1);
    EXPECT_THAT(CallsOf("CopyMoveMessages"), IsEmpty());

    DragRows({2, 0});
    Mouse(WM_LBUTTONUP, 2);
    DragRows({1});
    Mouse(WM_LBUTTONUP, 5, MK_CONTROL);
    EXPECT_THAT(CallsOf("CopyMoveMessages"), ElementsAre("CopyMoveMessages(1, 2, [11 13], 1, 2)",
                                                         "CopyMoveMessages(1, 5, [12], 0, 2)"));
    EXPECT_THAT(Shown(L"message"), IsEmpty());

    store_->FailOn("CopyMoveMessages");
    DragRows({0});
    Mouse(WM_LBUTTONUP, 4);
    auto boxes = Shown(L"message");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L" Can't copy/move message(s) ");
    EXPECT_EQ(boxes[0].caption, L" Error");
    EXPECT_EQ(boxes[0].type, 0x10u);
}

TEST_F(DragCommandsTest, EscapeARightClickOrAFolderSlidingUnderThePointerDropsNothing) {
    const auto queued = [this](UINT message, WPARAM wParam = 0) {
        MSG m{window_->Handle(), message, wParam, 0, 0, {}};
        return window_->PreTranslateDrag(m);
    };
    // Escape reaches the drag before the loop's dialog keys, wherever the focus is.
    DragRows({0});
    Mouse(WM_MOUSEMOVE, 5);
    EXPECT_TRUE(queued(WM_KEYDOWN, VK_ESCAPE));
    EXPECT_FALSE(window_->Dragging());
    Mouse(WM_LBUTTONUP, 5);
    // A right-click ends the next; its release opens no menu.
    DragFolder(5);
    Mouse(WM_MOUSEMOVE, 4);
    EXPECT_TRUE(queued(WM_RBUTTONDOWN));
    EXPECT_FALSE(window_->Dragging());
    EXPECT_TRUE(queued(WM_RBUTTONUP)) << "eaten";
    EXPECT_FALSE(queued(WM_RBUTTONUP)) << "only the one";
    Mouse(WM_LBUTTONUP, 4);
    // "work" goes while pointed at: "Old" slides under the resting pointer.
    DragRows({0});
    Mouse(WM_MOUSEMOVE, 4);
    const POINT at = InWindow(4);
    store_->RemoveFolder(4);
    window_->RebuildTree(1);
    ASSERT_EQ(TreeView_GetDropHilight(Tree()), nullptr);
    SendMessageW(window_->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    EXPECT_FALSE(window_->Dragging());
    EXPECT_THAT(CallsOf("CopyMoveMessages"), IsEmpty());
    EXPECT_THAT(CallsOf("MoveFolder"), IsEmpty());
}

} // namespace
} // namespace maintest
