// The folder menu and its commands in the real window on the store double,
// including notifications that arrive while a menu or box is open.
#include "CommandTestSupport.h"
#include "ui/Text.h"

#include <gmock/gmock.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace maintest {
namespace {

constexpr wchar_t kPlainEntries[] = L"Create SubFolder|Rename|Delete|Move";

class FolderCommandsTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        // Inbox (1), Archive (2) with work (4, holding Deep 6) and Old (5).
        store_->AddFolder(4, 2, "work").AddFolder(5, 2, "Old").AddFolder(6, 4, "Deep");
        Start();
        ASSERT_EQ(window_->CurrentFolderId(), 1u);
        store_->ClearCalls();
    }
    STOREFOLDERID SelectedId() const { return window_->Tree().SelectedId(); }
    std::wstring NodeText(STOREFOLDERID id) const {
        return folder_tree::NodeText(Tree(), folder_tree::FindNode(Tree(), id));
    }
    // Ends an in-place edit of `id` with `text`, as the user would.
    void EditTo(STOREFOLDERID id, const std::wstring& text) {
        window_->Tree().SelectId(id);
        SendMessageW(Tree(), WM_KEYDOWN, VK_F2, 0);
        HWND edit = TreeView_GetEditControl(Tree());
        ASSERT_NE(edit, nullptr) << "no edit box for folder " << id;
        SetWindowTextW(edit, text.c_str());
        TreeView_EndEditLabelNow(Tree(), FALSE);
        PumpUntilIdle(0);
    }
    // The folder's deletion as the store reports it, from inside a modal loop.
    void DeleteInStore(STOREFOLDERID id, STOREFOLDERID parent) {
        store_->RemoveFolder(id);
        store_->NotifyFolder(DELETE_FOLDER, parent, id);
    }
};

TEST_F(FolderCommandsTest, MenuHighlightsTheNodeWithoutLoadingItAndOffersWhatItAllows) {
    bool duringMenu = false;
    ChooseFromMenu(0, [&] { duringMenu = SelectedId() == 4 && window_->SuppressTreeChange(); });
    RightClickNode(4);
    EXPECT_TRUE(duringMenu);
    EXPECT_EQ(modal_.shown.back().text, kPlainEntries);
    RightClickNode(1);
    EXPECT_EQ(modal_.shown.back().text, L"Create SubFolder") << "the Inbox is special";
    EXPECT_EQ(SelectedId(), 1u);
    EXPECT_FALSE(window_->SuppressTreeChange());
    EXPECT_THAT(CallsOf("OpenFolder"), IsEmpty());

    size_t menus = Shown(L"menu").size();
    RightClick(Tree(), {5, 180}); // below the last node
    EXPECT_EQ(Shown(L"menu").size(), menus) << "no menu over empty space";
}

TEST_F(FolderCommandsTest, ShiftF10OpensTheMenuBesideTheSelectedNode) {
    window_->Tree().SelectId(5);
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(Tree(), WM_SYSKEYDOWN, VK_F10, 0);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    ASSERT_EQ(Shown(L"menu").size(), 1u);
    RECT label{};
    TreeView_GetItemRect(Tree(), folder_tree::FindNode(Tree(), 5), &label, TRUE);
    POINT beside{label.left, label.bottom};
    ClientToScreen(Tree(), &beside);
    EXPECT_EQ(modal_.shown.back().caption,
              std::to_wstring(beside.x) + L"," + std::to_wstring(beside.y));
    EXPECT_EQ(modal_.shown.back().text, kPlainEntries);
}

TEST_F(FolderCommandsTest, CreateComparesExactlyAndGivesUpAfterFiveClashes) {
    modal_.inputAnswers = {L"Work"};
    ChooseFromMenu(IDM_CREATESUBFOLDER1);
    RightClickNode(2);
    EXPECT_THAT(CallsOf("CreateFolder"), ElementsAre("CreateFolder(2, Work)"));
    EXPECT_EQ(Shown(L"input").back().caption, L"Create SubFolder");
    EXPECT_EQ(Shown(L"input").back().text, L"New folder name:|");

    modal_.inputAnswers = {L"work", L"Old", L"work", L"Old", L"work", L"never asked"};
    ChooseFromMenu(IDM_CREATESUBFOLDER1);
    RightClickNode(2);
    auto boxes = Shown(L"message");
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0].text, L" Folder with same name already exists. ");
    EXPECT_EQ(boxes[0].caption, L" Create folder error");
    EXPECT_EQ(boxes[0].type, 0x10u);
    EXPECT_EQ(modal_.inputAnswers.size(), 1u) << "no sixth attempt";

    modal_.inputAnswers = {std::nullopt};
    ChooseFromMenu(IDM_CREATESUBFOLDER1);
    RightClickNode(1); // cancelled: ends
    EXPECT_EQ(CallsOf("CreateFolder").size(), 1u);
}

TEST_F(FolderCommandsTest, RenameIgnoresTheCaseOfSiblingsButNotItsOwnName) {
    EditTo(5, L"WORK");
    auto boxes = Shown(L"message");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              L"The folder with this name already exists. Please choose another one");
    EXPECT_EQ(boxes[0].caption, L"Error");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(NodeText(5), L"Old");

    EditTo(5, L"Old"); // passes the check, but the old text is no new name
    EditTo(4, L"Jobs");
    EXPECT_THAT(CallsOf("RenameFolder"), ElementsAre("RenameFolder(4, Jobs)"));
    EXPECT_EQ(NodeText(4), L"Jobs");

    store_->FailOn("RenameFolder");
    EditTo(4, L"Refused");
    EXPECT_EQ(NodeText(4), L"Jobs") << "a refused rename keeps the old text";
}

TEST_F(FolderCommandsTest, NamesTheCodePageCannotHoldAreNeitherStoredNorReplaced) {
    const std::wstring foreign = L"\u65E5\u672C\u8A9E";
    if (ui::FitsAnsi(foreign))
        GTEST_SKIP() << "this code page holds the test's characters";
    // Such a name comes from the store in its '?' form; ending an edit of it
    // unchanged, or a slow second click and a click elsewhere, is no rename.
    store_->RenameFolderTo(5, "???");
    window_->RebuildTree(1);
    EditTo(5, L"???");
    window_->Tree().SelectId(5);
    TreeView_EditLabel(Tree(), folder_tree::FindNode(Tree(), 5));
    SetFocus(List());
    PumpUntilIdle(0);
    EditTo(4, L"Work " + foreign);
    modal_.inputAnswers = {foreign, L"Plain"};
    ChooseFromMenu(IDM_CREATESUBFOLDER1);
    RightClickNode(2);
    EXPECT_THAT(CallsOf("RenameFolder"), IsEmpty());
    EXPECT_THAT(CallsOf("CreateFolder"), ElementsAre("CreateFolder(2, Plain)"));
    auto boxes = Shown(L"message");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, L" Rename folder error");
    EXPECT_EQ(boxes[1].caption, L" Create folder error");
    EXPECT_EQ(boxes[0].text,
              L" The name holds characters that cannot be stored. Please choose another one. ");
    EXPECT_EQ(NodeText(4), L"work");
}

TEST_F(FolderCommandsTest, MoveStartsOnTheOldParentOrOnNothingAndEnterMovesNothing) {
    std::vector<STOREFOLDERID> selected;
    auto enterAtOnce = [&](TFormFoldersList& dialog) {
        HTREEITEM node = TreeView_GetSelection(dialog.TreeViewFolders());
        selected.push_back(node ? folder_tree::NodeId(dialog.TreeViewFolders(), node) : 0);
        EXPECT_FALSE(IsWindowEnabled(dialog.ButtonOK()));
        SendMessageW(dialog.Hwnd(), WM_COMMAND, IDOK, 0);
        return INT_PTR{IDOK};
    };
    OnFolderDialog(enterAtOnce);
    ChooseFromMenu(IDM_MOVE1);
    RightClickNode(5); // under Archive
    OnFolderDialog(enterAtOnce);
    ChooseFromMenu(IDM_MOVE1);
    RightClickNode(2); // top level
    EXPECT_THAT(selected, ElementsAre(2u, 0u));
    EXPECT_THAT(CallsOf("MoveFolder"), IsEmpty());
}

TEST_F(FolderCommandsTest, SpecialFoldersCannotBeRenamedOrDeletedFromTheKeyboard) {
    window_->Tree().SelectId(1);
    SendMessageW(Tree(), WM_KEYDOWN, VK_F2, 0);
    EXPECT_EQ(TreeView_GetEditControl(Tree()), nullptr);
    TreeView_EditLabel(Tree(), folder_tree::FindNode(Tree(), 1)); // as a click on the label
    EXPECT_EQ(TreeView_GetEditControl(Tree()), nullptr);
    SendMessageW(Tree(), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_THAT(Shown(L"message"), IsEmpty());
}

TEST_F(FolderCommandsTest, DeleteAsksAndOnlyYesDeletes) {
    modal_.messageAnswers = {IDNO, IDYES};
    ChooseFromMenu(IDM_DELETE1);
    RightClickNode(5);
    window_->Tree().SelectId(5);
    SendMessageW(Tree(), WM_KEYDOWN, VK_DELETE, 0);
    auto asked = Shown(L"message");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, L" Do you want delete folder? ");
    EXPECT_EQ(asked[0].caption, L" Delete folder");
    EXPECT_EQ(asked[0].type, 0x124u);
    EXPECT_THAT(CallsOf("DeleteFolder"), ElementsAre("DeleteFolder(5)"));
}

TEST_F(FolderCommandsTest, MoveOffersNeitherTheSubTreeNorTheParentNorAClashingTarget) {
    store_->AddFolder(7, 1, "work"); // the Inbox holds a "work" already
    store_->AddFolder(8, 5, "Work");
    window_->RebuildTree(1);
    OnFolderDialog([](TFormFoldersList& dialog) {
        EXPECT_EQ(dialog.SubjectId, 4u);
        EXPECT_EQ(dialog.SubjectName, L"work");
        EXPECT_EQ(folder_tree::FindNode(dialog.TreeViewFolders(), 4), nullptr);
        EXPECT_EQ(folder_tree::FindNode(dialog.TreeViewFolders(), 6), nullptr);
        EXPECT_FALSE(CanConfirm(dialog, 2)) << "the current parent";
        EXPECT_FALSE(CanConfirm(dialog, 1)) << "holds a \"work\" already";
        EXPECT_TRUE(CanConfirm(dialog, 5)) << "\"Work\" differs";
        return PressOK(dialog);
    });
    ChooseFromMenu(IDM_MOVE1);
    RightClickNode(4);
    EXPECT_THAT(CallsOf("MoveFolder"), ElementsAre("MoveFolder(4, 5)"));
}

TEST_F(FolderCommandsTest, MoveOfAFolderTheStoreNoLongerHasHidesNoOtherFolder) {
    store_->RemoveFolder(5); // its notification has not arrived yet
    OnFolderDialog([](TFormFoldersList& dialog) {
        EXPECT_NE(folder_tree::FindNode(dialog.TreeViewFolders(), 1), nullptr);
        EXPECT_NE(folder_tree::FindNode(dialog.TreeViewFolders(), 4), nullptr);
        return static_cast<INT_PTR>(IDCANCEL);
    });
    ChooseFromMenu(IDM_MOVE1);
    RightClickNode(5);
    EXPECT_EQ(Shown(L"dialog").size(), 1u);
}

TEST_F(FolderCommandsTest, MoveThroughTheRealDialogMovesToTheFolderConfirmedWithOk) {
    HWND owner = window_->Handle();
    SetFocus(Tree());
    OnFolderDialog([owner](TFormFoldersList& dialog) {
        Later([&dialog] {
            CanConfirm(dialog, 1);
            SendMessageW(dialog.ButtonOK(), BM_CLICK, 0, 0);
        });
        return dialog.RunModal(owner);
    });
    ChooseFromMenu(IDM_MOVE1);
    RightClickNode(5);
    EXPECT_THAT(CallsOf("MoveFolder"), ElementsAre("MoveFolder(5, 1)"));
    EXPECT_TRUE(IsWindowEnabled(owner)) << "the owner is enabled again";
    EXPECT_EQ(GetFocus(), Tree()) << "and its control has the focus back";
}

TEST_F(FolderCommandsTest, NotificationsInsideTheMenuOrABoxNeitherLoadNorHitTheWrongFolder) {
    // A rebuild while the menu is open keeps the context folder unloaded.
    ChooseFromMenu(0, [&] {
        store_->AddFolder(9, 0, "New");
        store_->NotifyFolder(NEW_FOLDER, 0, 9);
    });
    RightClickNode(4);
    EXPECT_THAT(CallsOf("OpenFolder"), IsEmpty());
    EXPECT_EQ(SelectedId(), 1u);
    EXPECT_FALSE(window_->SuppressTreeChange());

    // Renamed while the question is open: still that folder, by its id.
    modal_.onShow = [&](const storedouble::ScriptedModalHost::Shown& shown) {
        if (shown.kind == L"message") {
            store_->RenameFolderTo(5, "Older");
            store_->NotifyFolder(RENAME_FOLDER, 5, 5);
        }
    };
    modal_.messageAnswers = {IDYES};
    ChooseFromMenu(IDM_DELETE1);
    RightClickNode(5);
    EXPECT_THAT(CallsOf("DeleteFolder"), ElementsAre("DeleteFolder(5)"));

    // Deleted while the menu, the question or the input box is open.
    modal_.onShow = nullptr;
    ChooseFromMenu(IDM_DELETE1, [&] { DeleteInStore(5, 2); });
    RightClickNode(5);
    modal_.onShow = [&](const storedouble::ScriptedModalHost::Shown& shown) {
        if (shown.kind == L"message")
            DeleteInStore(6, 4);
        else if (shown.kind == L"input")
            DeleteInStore(4, 2);
    };
    modal_.messageAnswers = {IDYES};
    ChooseFromMenu(IDM_DELETE1);
    RightClickNode(6);
    modal_.inputAnswers = {L"New"};
    ChooseFromMenu(IDM_CREATESUBFOLDER1);
    RightClickNode(4);
    EXPECT_EQ(CallsOf("DeleteFolder").size(), 1u);
    EXPECT_THAT(CallsOf("CreateFolder"), IsEmpty());
    EXPECT_EQ(Shown(L"message").size(), 2u) << "one question for each delete that got that far";
    EXPECT_EQ(SelectedId(), 1u);
    EXPECT_EQ(window_->CurrentFolderId(), 1u);
}

} // namespace
} // namespace maintest
