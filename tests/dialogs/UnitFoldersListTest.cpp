// The folder selection dialog as a real window: its layout, the OK rule and
// its buttons, clicked while the dialog runs in the system's modal loop.
#include "storeui/FolderTree.h"
#include "RunLater.h"
#include "StoreDouble.h"
#include "UnitFoldersList.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

using storedouble::Later;

RECT PlaceOf(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t text[64] = {};
    GetWindowTextW(hwnd, text, 64);
    return text;
}

class FoldersListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        // 1 Inbox, 2 Archive holding 4 "Work" and 6 "work", 5 Trash holding 7 "Work".
        store_->AddFolder(1, 0, "Inbox", FOLDER_INBOX).AddFolder(2, 0, "Archive");
        store_->AddFolder(5, 0, "Trash").AddFolder(4, 2, "Work").AddFolder(6, 2, "work");
        store_->AddFolder(7, 5, "Work");
        ASSERT_TRUE(dialog_.Create(nullptr));
    }
    // Fills the window made in SetUp, and each one RunModal makes.
    void Fill(STOREFOLDERID wanted) {
        dialog_.FillTree = [this, wanted](HWND tree) {
            bool suppress = false;
            folder_tree::Rebuild(tree, store_.Get(), wanted, suppress);
        };
        dialog_.FillTree(dialog_.TreeViewFolders());
    }
    bool CanConfirm(STOREFOLDERID id) {
        TreeView_SelectItem(dialog_.TreeViewFolders(),
                            folder_tree::FindNode(dialog_.TreeViewFolders(), id));
        return IsWindowEnabled(dialog_.ButtonOK()) != FALSE;
    }

    Microsoft::WRL::ComPtr<storedouble::StoreDouble> store_ = storedouble::StoreDouble::Create();
    TFormFoldersList dialog_;
};

TEST_F(FoldersListTest, LayoutIsThePixelDesignAt96Dpi) {
    HWND dialog = dialog_.Hwnd();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(dialog), L"Folder select");
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, 265);
    EXPECT_EQ(client.bottom, 284);
    auto expectPlace = [](HWND control, LONG x, LONG y, LONG w, LONG h) {
        RECT r = PlaceOf(control);
        EXPECT_EQ(r.left, x);
        EXPECT_EQ(r.top, y);
        EXPECT_EQ(r.right - r.left, w);
        EXPECT_EQ(r.bottom - r.top, h);
    };
    expectPlace(dialog_.TreeViewFolders(), 8, 3, 251, 226);
    expectPlace(dialog_.ButtonOK(), 32, 246, 75, 22);
    expectPlace(dialog_.ButtonCancel(), 146, 246, 75, 22);
    EXPECT_EQ(TextOf(dialog_.ButtonOK()), L"OK");
    EXPECT_EQ(TextOf(dialog_.ButtonCancel()), L"Cancel");
    EXPECT_EQ(TreeView_GetIndent(dialog_.TreeViewFolders()), 19u);
    EXPECT_FALSE(GetWindowLongPtrW(dialog_.TreeViewFolders(), GWL_STYLE) & TVS_EDITLABELS);
    EXPECT_EQ(GetWindowLongPtrW(dialog, GWL_STYLE) & WS_THICKFRAME, 0) << "fixed border";
    EXPECT_EQ(GetNextDlgTabItem(dialog, dialog_.TreeViewFolders(), FALSE), dialog_.ButtonOK());
    EXPECT_EQ(GetNextDlgTabItem(dialog, dialog_.ButtonOK(), FALSE), dialog_.ButtonCancel());
}

TEST_F(FoldersListTest, OkFollowsTheSelectionForMessagesAndForAMovedFolder) {
    Fill(5);
    dialog_.SubjectId = dialog_.ForbiddenId = 5; // messages leaving folder 5
    EXPECT_TRUE(CanConfirm(2));
    EXPECT_FALSE(CanConfirm(5));
    EXPECT_TRUE(CanConfirm(7));

    dialog_.SubjectId = 4;
    dialog_.ForbiddenId = 2;
    dialog_.SubjectName = L"Work";
    EXPECT_FALSE(CanConfirm(2)) << "its parent";
    EXPECT_FALSE(CanConfirm(5)) << "holds a \"Work\"";
    EXPECT_TRUE(CanConfirm(6)) << "\"work\" is another name";
}

TEST_F(FoldersListTest, RightClickSelectsTheNodeUnderTheMouse) {
    Fill(1);
    HWND tree = dialog_.TreeViewFolders();
    RECT label{};
    ASSERT_TRUE(TreeView_GetItemRect(tree, folder_tree::FindNode(tree, 6), &label, TRUE));
    POINT at{(label.left + label.right) / 2, (label.top + label.bottom) / 2};
    ClientToScreen(tree, &at);
    SetCursorPos(at.x, at.y);
    NMHDR click{tree, static_cast<UINT_PTR>(GetDlgCtrlID(tree)), static_cast<UINT>(NM_RCLICK)};
    SendMessageW(dialog_.Hwnd(), WM_NOTIFY, click.idFrom, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(folder_tree::NodeId(tree, TreeView_GetSelection(tree)), 6u);
}

TEST_F(FoldersListTest, DeletingTheMovedFolderAppliesTheRuleToTheNodeSelectedNext) {
    Fill(7);
    dialog_.SubjectId = 7;
    dialog_.ForbiddenId = 5;
    dialog_.SubjectName = L"Work";
    ASSERT_TRUE(IsWindowEnabled(dialog_.ButtonOK()));
    TreeView_DeleteItem(dialog_.TreeViewFolders(),
                        folder_tree::FindNode(dialog_.TreeViewFolders(), 7));
    ASSERT_EQ(folder_tree::NodeId(dialog_.TreeViewFolders(),
                                  TreeView_GetSelection(dialog_.TreeViewFolders())),
              5u);
    EXPECT_FALSE(IsWindowEnabled(dialog_.ButtonOK())) << "its parent is selected now";
}

TEST_F(FoldersListTest, RealButtonsCloseTheModalLoopAndOnlyOkChooses) {
    Fill(2);
    Later([this] { SendMessageW(dialog_.ButtonCancel(), BM_CLICK, 0, 0); });
    EXPECT_EQ(dialog_.RunModal(nullptr), IDCANCEL);
    EXPECT_EQ(dialog_.ChosenId, 0u);

    Later([this] {
        EXPECT_TRUE(IsWindowVisible(dialog_.Hwnd()));
        EXPECT_EQ(GetFocus(), dialog_.TreeViewFolders());
        CanConfirm(6);
        SendMessageW(dialog_.ButtonOK(), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(dialog_.RunModal(nullptr), IDOK);
    EXPECT_EQ(dialog_.ChosenId, 6u);
    EXPECT_FALSE(IsWindowVisible(dialog_.Hwnd()));
}

TEST_F(FoldersListTest, AFillThatThrowsEndsTheDialogUnseenAndReachesTheCaller) {
    dialog_.FillTree = [](HWND) { throw std::runtime_error("no folders"); };
    EXPECT_THROW(dialog_.RunModal(nullptr), std::runtime_error);
    EXPECT_EQ(dialog_.Hwnd(), nullptr);
    EXPECT_THROW(dialog_.Create(nullptr), std::runtime_error);
    EXPECT_EQ(dialog_.Hwnd(), nullptr);
    EXPECT_EQ(dialog_.ChosenId, 0u);
}

TEST_F(FoldersListTest, AnEmptyTreeOffersNothingToConfirm) {
    Later([this] {
        EXPECT_FALSE(IsWindowEnabled(dialog_.ButtonOK()));
        SendMessageW(dialog_.Hwnd(), WM_KEYDOWN, VK_RETURN, 0);
        PostMessageW(dialog_.Hwnd(), WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(dialog_.RunModal(nullptr), IDCANCEL);
    EXPECT_EQ(dialog_.ChosenId, 0u);
}

} // namespace
