// The message menu and its commands in the real window on the store double.
#include "CommandTestSupport.h"

#include <gmock/gmock.h>

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
        EXPECT_EQ(folder_tree::NodeId(dialog.TreeViewFolders,
                                      TreeView_GetSelection(dialog.TreeViewFolders)),
                  1u);
        EXPECT_FALSE(IsWindowEnabled(dialog.ButtonOK)) << "disabled until another is chosen";
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

} // namespace
} // namespace maintest
