// The message menu and its commands in the real window on the store double.
#include "CommandTestSupport.h"

#include <gmock/gmock.h>

#include <filesystem>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace maintest {
namespace {

constexpr wchar_t kAllEntries[] =
    L"Mark as read|Mark as unread|Move to folder...|Copy to folder...|Delete|Save to file|"
    L"Properties";

class MessageCommandsTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        // Inbox (1) holds ten messages, 11 unread, 12..20 read.
        for (MESSAGEID id = 12; id <= 20; ++id)
            store_->AddMessage(1, storedouble::Message(id, "Sender", "Subject"));
        Start();
        ASSERT_EQ(window_->Rows().Count(), 10u);
    }
    void Select(std::initializer_list<int> rows) {
        ListView_SetItemState(List(), -1, 0, LVIS_SELECTED);
        for (int row : rows)
            ListView_SetItemState(List(), row, LVIS_SELECTED, LVIS_SELECTED);
    }
    std::wstring MenuEntries() const { return modal_.shown.back().text; }
};

TEST_F(MessageCommandsTest, CommandsSendTheSelectedIdsInListOrder) {
    Select({5, 0, 3}); // rows 1, 4 and 6 of ten
    ChooseFromMenu(IDM_MARKASREAD1);
    RightClickRow(3);
    ChooseFromMenu(IDM_MARKASUNREAD1);
    RightClickRow(3);
    modal_.messageAnswers = {IDYES};
    ChooseFromMenu(IDM_DELETE2);
    RightClickRow(3);
    // Read is all bits set, not 1.
    EXPECT_THAT(CallsOf("MarkMessagesAsRead"),
                ElementsAre("MarkMessagesAsRead(folder 1, -1, [11 14 16])",
                            "MarkMessagesAsRead(folder 1, 0, [11 14 16])"));
    EXPECT_THAT(CallsOf("DeleteMessages"), ElementsAre("DeleteMessages(folder 1, [11 14 16])"));
    // Nothing changes on screen until the store says so.
    EXPECT_EQ(window_->Rows().Count(), 10u);
    store_->DeliverPending();
    EXPECT_EQ(window_->Rows().Count(), 7u);
    // Then the row after the last deleted one is selected and focused; with the
    // last rows gone, the new last row.
    EXPECT_THAT(window_->Messages().SelectedIds(), ElementsAre(17u));
    EXPECT_EQ(window_->Messages().MenuRow(), 3);
    Select({5, 6});
    modal_.messageAnswers = {IDYES};
    ChooseFromMenu(IDM_DELETE2);
    RightClickRow(5);
    store_->DeliverPending();
    ASSERT_EQ(window_->Rows().Count(), 5u);
    EXPECT_THAT(window_->Messages().SelectedIds(), ElementsAre(window_->Rows().Id(4)));
}

TEST_F(MessageCommandsTest, MenuOffersTheMarksThatApplyAndReadingOnlyForOneRow) {
    Select({0});
    RightClickRow(0); // unread, alone
    EXPECT_EQ(MenuEntries(),
              L"Mark as read|Move to folder...|Copy to folder...|Delete|Save to file|Properties");
    Select({1});
    RightClickRow(1); // read, alone
    EXPECT_EQ(MenuEntries(),
              L"Mark as unread|Move to folder...|Copy to folder...|Delete|Save to file|Properties");
    Select({0, 1});
    RightClickRow(0);
    EXPECT_EQ(MenuEntries(),
              L"Mark as read|Mark as unread|Move to folder...|Copy to folder...|Delete");
    Select({});
    RightClick(List(), {5, 5}); // over no row: the entries reset
    EXPECT_EQ(MenuEntries(), kAllEntries);
    EXPECT_THAT(CallsOf("MarkMessagesAsRead"), IsEmpty()) << "no entry was chosen";
}

TEST_F(MessageCommandsTest, DeleteAsksEvenWithNothingSelectedAndYesThenDoesNothing) {
    Select({});
    modal_.messageAnswers = {IDYES};
    SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0); // Del asks the same question
    auto asked = Shown(L"message");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, L" Do you want delete selected message(s)? ");
    EXPECT_EQ(asked[0].caption, L" Delete message(s)");
    EXPECT_EQ(asked[0].type, 0x124u);
    Select({2});
    modal_.messageAnswers = {IDNO};
    SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_THAT(CallsOf("DeleteMessages"), IsEmpty());
}

// Another program changes the folder while the question is open: the rows
// that come and go leave the user's choice on the same messages.
TEST_F(MessageCommandsTest, RowsArrivingOrLeavingDuringTheQuestionKeepTheSelection) {
    Select({1, 4, 6}); // 12, 15 and 17
    modal_.onShow = [&](const storedouble::ScriptedModalHost::Shown&) {
        store_->AddMessage(1, storedouble::Message(30, "Sender", "New at the top"));
        store_->SetMessageOrder(1, {30, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20});
        store_->NotifyNewMessage(1, 30);
        store_->RemoveMessage(1, 13);
        store_->NotifyDeleteMessage(1, 13);
        store_->RemoveMessage(1, 12);
        store_->NotifyDeleteMessage(1, 12); // a chosen one goes
        store_->AddMessage(1, storedouble::Message(31, "Sender", "New at the end"));
        store_->NotifyNewMessage(1, 31);
    };
    modal_.messageAnswers = {IDYES};
    SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_THAT(CallsOf("DeleteMessages"), ElementsAre("DeleteMessages(folder 1, [15 17])"));
    EXPECT_EQ(ListView_GetSelectedCount(List()), 2u);
    // The hourglass from the store call until the queue has nothing left.
    EXPECT_TRUE(window_->Busy());
    PumpUntilIdle();
    EXPECT_FALSE(window_->Busy());
}

TEST_F(MessageCommandsTest, TheFolderDialogOffersEveryFolderButTheCurrentOne) {
    Select({1, 2});
    bool checked = false;
    OnFolderDialog([&](TFormFoldersList& dialog) {
        EXPECT_EQ(folder_tree::NodeId(dialog.TreeViewFolders(),
                                      TreeView_GetSelection(dialog.TreeViewFolders())),
                  1u);
        EXPECT_FALSE(IsWindowEnabled(dialog.ButtonOK())) << "disabled until another is chosen";
        EXPECT_TRUE(CanConfirm(dialog, 2));
        EXPECT_FALSE(CanConfirm(dialog, 1));
        checked = true;
        return static_cast<INT_PTR>(IDCANCEL);
    });
    ChooseFromMenu(IDM_MOVETOFOLDER1);
    RightClickRow(1);
    EXPECT_TRUE(checked);
    EXPECT_THAT(CallsOf("CopyMoveMessages"), IsEmpty()) << "cancelled";

    OnFolderDialog([](TFormFoldersList& dialog) {
        CanConfirm(dialog, 2);
        return PressOK(dialog);
    });
    ChooseFromMenu(IDM_MOVETOFOLDER1);
    RightClickRow(1);
    OnFolderDialog([](TFormFoldersList& dialog) {
        CanConfirm(dialog, 2);
        return PressOK(dialog);
    });
    ChooseFromMenu(IDM_COPYTOFOLDER1);
    RightClickRow(1);
    EXPECT_THAT(CallsOf("CopyMoveMessages"), ElementsAre("CopyMoveMessages(1, 2, [12 13], 1, 2)",
                                                         "CopyMoveMessages(1, 2, [12 13], 0, 2)"));
    EXPECT_THAT(Shown(L"message"), IsEmpty());
}

TEST_F(MessageCommandsTest, ARefusedCopyOrAnUnopenableTargetIsReportedOnce) {
    Select({0});
    auto chooseArchive = [](TFormFoldersList& dialog) {
        CanConfirm(dialog, 2);
        return PressOK(dialog);
    };
    store_->ClearCalls();
    store_->FailOn("OpenFolder", E_FAIL, 1);
    OnFolderDialog(chooseArchive);
    ChooseFromMenu(IDM_COPYTOFOLDER1);
    RightClickRow(0);
    EXPECT_THAT(CallsOf("CopyMoveMessages"), IsEmpty()) << "no call after OpenFolder failed";
    store_->FailOn("CopyMoveMessages");
    OnFolderDialog(chooseArchive);
    ChooseFromMenu(IDM_COPYTOFOLDER1);
    RightClickRow(0);
    auto boxes = Shown(L"message");
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box.text, L" Can't copy/move message(s) ");
        EXPECT_EQ(box.caption, L" Error");
        EXPECT_EQ(box.type, 0x10u);
    }
    EXPECT_EQ(store_->LiveFolderObjects(), 1) << "only the open folder is still held";
}

TEST_F(MessageCommandsTest, KeyboardOpensTheMenuBesideTheRowAndSelectsAll) {
    Select({4});
    ListView_SetItemState(List(), 4, LVIS_FOCUSED, LVIS_FOCUSED);
    MenuKey(List());
    RECT row{};
    ListView_GetItemRect(List(), 4, &row, LVIR_LABEL);
    POINT expected{row.left, row.bottom};
    ClientToScreen(List(), &expected);
    EXPECT_EQ(modal_.shown.back().caption,
              std::to_wstring(expected.x) + L"," + std::to_wstring(expected.y));

    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(List(), WM_KEYDOWN, 'A', 0);
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(ListView_GetSelectedCount(List()), 10u);
}

TEST_F(MessageCommandsTest, EnterAndDoubleClickShowPropertiesOnlyForOneSelectedRow) {
    int shown = 0;
    auto count = [&shown](ui::ModalDialog&) {
        ++shown;
        return INT_PTR{IDOK};
    };
    modal_.dialogScripts = {count, count, count};
    RECT row{};
    ListView_GetItemRect(List(), 2, &row, LVIR_LABEL);
    const LPARAM onRow2 = MAKELPARAM((row.left + row.right) / 2, (row.top + row.bottom) / 2);
    auto enterAndDoubleClick = [&] {
        SetFocus(List());
        MSG enter{List(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
        if (!IsDialogMessageW(window_->Handle(), &enter))
            DispatchMessageW(&enter);
        SendMessageW(List(), WM_LBUTTONDBLCLK, MK_LBUTTON, onRow2);
    };
    Select({1, 2});
    ListView_SetItemState(List(), 2, LVIS_FOCUSED, LVIS_FOCUSED);
    enterAndDoubleClick();
    EXPECT_EQ(shown, 0) << "two rows selected";
    Select({2});
    enterAndDoubleClick();
    EXPECT_EQ(shown, 2);
}

TEST_F(MessageCommandsTest, ReadingCommandsKeepTheFolderANotificationReleasesMeanwhile) {
    // The open folder is deleted by another program while the command's
    // window is open; the list then moves on to its parent and lets it go.
    auto openProjects = [&] {
        store_->AddFolder(3, 2, "Projects");
        store_->AddMessage(3, storedouble::Message(31, "Sender", "Plan"));
        window_->RebuildTree(3);
        ASSERT_EQ(window_->CurrentFolderId(), 3u);
        Select({0});
    };
    auto deleteProjects = [&] {
        store_->RemoveFolder(3);
        store_->NotifyFolder(DELETE_FOLDER, 2, 3);
    };
    openProjects();
    modal_.dialogScripts.push_back([&](ui::ModalDialog&) {
        deleteProjects();
        return INT_PTR{IDOK};
    });
    window_->RunCommand(IDM_PROPERTIES1);
    EXPECT_EQ(window_->CurrentFolderId(), 2u);

    openProjects();
    const std::wstring file = std::filesystem::temp_directory_path() / L"bris-never-written.eml";
    DeleteFileW(file.c_str());
    modal_.saveAnswers = {file};
    modal_.onShow = [&](const storedouble::ScriptedModalHost::Shown& shown) {
        if (shown.kind == L"save")
            deleteProjects();
    };
    window_->RunCommand(IDM_SAVETOFILE1);
    EXPECT_EQ(window_->CurrentFolderId(), 2u);
    EXPECT_EQ(store_->CallsAfterRelease(), 0);
    EXPECT_EQ(store_->OutstandingMessageProps(), 0);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
} // namespace maintest
