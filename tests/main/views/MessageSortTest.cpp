// Sorting and finding in the real window on the store double.
#include "MainUnitTestSupport.h"
#include "main/views/MessageFind.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace maintest {
namespace {

constexpr unsigned long long kDay = 864000000000ull;

class MessageSortTest : public MainWindowTest {
  protected:
    // Inbox in store order 11..16, with ties in every column.
    void SetUp() override {
        MainWindowTest::SetUp();
        store_->RemoveMessage(1, 11);
        Add(11, "bob", "Lunch", 3, false);
        Add(12, "Alice", "lunch", 1, true);
        Add(13, "carol", "Agenda", 3, false);
        Add(14, "alice", "Zoo", 2, true);
        Add(15, "Bob", "agenda", 1, false);
        Add(16, "Dave", "Minutes", 2, false);
        Start();
    }
    void Add(MESSAGEID id, const char* from, const char* subject, int day, bool flagged) {
        storedouble::MessageSpec message = storedouble::Message(id, from, subject);
        message.received = storedouble::FileTime(133000000000000000ull + day * kDay);
        message.state = flagged ? MSGSTATE_FLAGGED : 0;
        store_->AddMessage(1, message);
    }
    std::vector<MESSAGEID> RowIds() {
        std::vector<MESSAGEID> ids;
        for (size_t i = 0; i < window_->Rows().Count(); ++i)
            ids.push_back(window_->Rows().Id(i));
        return ids;
    }
    int HeaderFormat(int column) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        Header_GetItem(ListView_GetHeader(window_->ListViewMessages()), column, &item);
        return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
    }
    void Select(std::vector<int> rows) {
        for (int row : rows)
            ListView_SetItemState(window_->ListViewMessages(), row, LVIS_SELECTED, LVIS_SELECTED);
    }
    MessageListView& List() { return window_->Messages(); }
};

TEST_F(MessageSortTest, EachColumnSortsBothWaysWithTiesInTheStoresOrder) {
    ASSERT_THAT(RowIds(), ElementsAre(11u, 12u, 13u, 14u, 15u, 16u));
    List().SortBy(0); // case ignored: alice = Alice, bob = Bob
    EXPECT_THAT(RowIds(), ElementsAre(12u, 14u, 11u, 15u, 13u, 16u));
    EXPECT_EQ(HeaderFormat(0), HDF_SORTUP);
    List().SortBy(0);
    EXPECT_THAT(RowIds(), ElementsAre(16u, 13u, 11u, 15u, 12u, 14u));
    EXPECT_EQ(HeaderFormat(0), HDF_SORTDOWN);
    List().SortBy(1);
    EXPECT_THAT(RowIds(), ElementsAre(13u, 15u, 11u, 12u, 16u, 14u));
    EXPECT_EQ(HeaderFormat(0), 0);
    EXPECT_EQ(HeaderFormat(1), HDF_SORTUP);
    List().SortBy(2); // by the time, days 1, 2, 3
    EXPECT_THAT(RowIds(), ElementsAre(12u, 15u, 14u, 16u, 11u, 13u));
    List().SortBy(2);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 13u, 14u, 16u, 12u, 15u));
    List().SortBy(3); // flagged first
    EXPECT_THAT(RowIds(), ElementsAre(12u, 14u, 11u, 13u, 15u, 16u));
    EXPECT_FALSE(List().IdsAscending());
    // Another folder and back: the store's order, no arrow.
    window_->RebuildTree(2);
    window_->RebuildTree(1);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 13u, 14u, 15u, 16u));
    EXPECT_EQ(HeaderFormat(3), 0);
    EXPECT_TRUE(List().IdsAscending());
}

TEST_F(MessageSortTest, NewRowsGoToTheirSortedPlaceAndChangesKeepWorking) {
    List().SortBy(1);
    List().SortBy(1); // Zoo, Minutes, Lunch 11, lunch 12, Agenda 13, agenda 15
    // Store order 17 after 11, 18 last: among equal subjects by that order.
    storedouble::MessageSpec between = storedouble::Message(17, "Erin", "LUNCH");
    store_->AddMessage(1, between, 1);
    store_->NotifyNewMessage(1, 17);
    store_->AddMessage(1, storedouble::Message(18, "Finn", "Agenda"));
    store_->NotifyNewMessage(1, 18);
    store_->AddMessage(1, storedouble::Message(19, "Gil", "Aardvark"), 0);
    store_->NotifyNewMessage(1, 19);
    EXPECT_THAT(RowIds(), ElementsAre(14u, 16u, 11u, 17u, 12u, 13u, 15u, 18u, 19u));
    EXPECT_EQ(ListView_GetItemCount(window_->ListViewMessages()), 9);
    store_->NotifyDeleteMessage(1, 16);
    MESSAGEID id = 13;
    SendMessageW(window_->Handle(), WM_MARKEDASUNREAD, reinterpret_cast<WPARAM>(&id), 0);
    EXPECT_THAT(RowIds(), ElementsAre(14u, 11u, 17u, 12u, 13u, 15u, 18u, 19u));
    EXPECT_EQ(window_->Rows().Image(4), 1);
}

TEST_F(MessageSortTest, SelectionFollowsItsRowsAndCommandsGetIdsInShownOrder) {
    Select({0, 3, 4}); // 11, 14, 15
    ListView_SetItemState(window_->ListViewMessages(), 3, LVIS_FOCUSED, LVIS_FOCUSED);
    List().SortBy(2); // 12 15 14 16 11 13
    EXPECT_THAT(List().SelectedIds(), ElementsAre(15u, 14u, 11u));
    EXPECT_EQ(ListView_GetNextItem(window_->ListViewMessages(), -1, LVNI_FOCUSED), 2);
    store_->ClearCalls();
    window_->RunCommand(IDM_MARKASREAD1);
    EXPECT_THAT(store_->Calls(), ElementsAre("MarkMessagesAsRead(folder 1, -1, [15 14 11])"));
}

TEST_F(MessageSortTest, FindMatchesSenderOrSubjectIgnoringCaseAndWraps) {
    const MessageRows& rows = window_->Rows(); // bob Lunch, Alice lunch, carol Agenda, ...
    EXPECT_EQ(message_find::Next(rows, L"LUNCH", -1, true), 0);
    EXPECT_EQ(message_find::Next(rows, L"LUNCH", 0, true), 1);
    EXPECT_EQ(message_find::Next(rows, L"LUNCH", 1, true), 0); // wraps
    EXPECT_EQ(message_find::Next(rows, L"lice", 1, true), 3);  // sender
    EXPECT_EQ(message_find::Next(rows, L"genda", 3, false), 2);
    EXPECT_EQ(message_find::Next(rows, L"genda", 2, false), 4); // wraps backwards
    EXPECT_EQ(message_find::Next(rows, L"nothing", 0, true), -1);
    EXPECT_EQ(message_find::Next(rows, L"", 0, true), -1);
    message_find::TextMatcher wide(L"\x00c9t\x00c9");
    EXPECT_TRUE(wide.Matches("an \xc3\xa9t\xc3\xa9 day"));
    // Accents are ignored either way round; other letters are not.
    EXPECT_TRUE(wide.Matches("ete"));
    EXPECT_TRUE(message_find::TextMatcher(L"renee").Matches("Re: Ren\xc3\xa9\x65 writes"));
    EXPECT_TRUE(message_find::TextMatcher(L"REN\x00c9\x45").Matches("from renee"));
    EXPECT_FALSE(message_find::TextMatcher(L"renee").Matches("Ren\xc3\xa9 \xe6\x97\xa5"));
    // In the window: the found row alone is selected and focused, in shown order.
    List().SortBy(0);
    EXPECT_TRUE(List().FindNext(L"lunch", true));
    EXPECT_THAT(List().SelectedIds(), ElementsAre(12u));
    EXPECT_TRUE(List().FindNext(L"lunch", true));
    EXPECT_THAT(List().SelectedIds(), ElementsAre(11u));
    EXPECT_FALSE(List().FindNext(L"nothing", true));
    EXPECT_THAT(List().SelectedIds(), ElementsAre(11u));
}

TEST_F(MessageSortTest, TextsCutShortShowWholeInALabelTip) {
    HWND list = window_->ListViewMessages();
    RECT received{}, from{}, flag{};
    ListView_GetSubItemRect(list, 0, 2, LVIR_LABEL, &received);
    ListView_GetSubItemRect(list, 0, 0, LVIR_LABEL, &from);
    ListView_GetSubItemRect(list, 0, 3, LVIR_LABEL, &flag);
    auto middle = [](const RECT& r) {
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    LabelTip::Label label;
    // A date with a time is wider than the column; "bob" is not; the flag has no text.
    ASSERT_TRUE(List().CutLabelAt(middle(received), label));
    EXPECT_EQ(label.text, window_->Rows().ReceivedText(0));
    EXPECT_FALSE(List().CutLabelAt(middle(from), label));
    EXPECT_FALSE(List().CutLabelAt(middle(flag), label));
    List().Tip().RestAt(middle(received));
    EXPECT_EQ(List().Tip().Shown(), window_->Rows().ReceivedText(0));
    EXPECT_TRUE(IsWindowVisible(List().Tip().Tip()));
    // The tip leaves the next row's text uncovered.
    RECT tip{}, next{};
    GetWindowRect(List().Tip().Tip(), &tip);
    ListView_GetItemRect(list, 1, &next, LVIR_BOUNDS);
    MapWindowPoints(list, HWND_DESKTOP, reinterpret_cast<POINT*>(&next), 2);
    TEXTMETRICW metrics{};
    {
        HDC dc = GetDC(list);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(list, dc);
    }
    const LONG nextText = next.top + ((next.bottom - next.top) - metrics.tmHeight) / 2;
    EXPECT_LE(tip.bottom, nextText) << "tip " << tip.top << "-" << tip.bottom << ", next row "
                                    << next.top << "-" << next.bottom;
    SendMessageW(list, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(List().Tip().Shown(), L"");

    // A tree label past the tree's edge, and one inside it.
    store_->AddFolder(7, 2, std::string(60, 'x'));
    window_->RebuildTree(1);
    FolderTreeView& tree = window_->Tree();
    TreeView_Expand(tree.Handle(), tree.Find(2), TVE_EXPAND);
    RECT longLabel{}, shortLabel{};
    TreeView_GetItemRect(tree.Handle(), tree.Find(7), &longLabel, TRUE);
    TreeView_GetItemRect(tree.Handle(), tree.Find(1), &shortLabel, TRUE);
    ASSERT_TRUE(tree.CutLabelAt({longLabel.left + 4, middle(longLabel).y}, label));
    EXPECT_EQ(label.text, std::wstring(60, L'x'));
    EXPECT_FALSE(tree.CutLabelAt(middle(shortLabel), label));
    // A name wider than the screen: its tip stays inside the work area.
    store_->AddFolder(90, 2, std::string(250, 'w'));
    window_->RebuildTree(1);
    TreeView_Expand(tree.Handle(), tree.Find(2), TVE_EXPAND);
    RECT widest{}, work{};
    TreeView_GetItemRect(tree.Handle(), tree.Find(90), &widest, TRUE);
    tree.Tip().RestAt({widest.left + 4, middle(widest).y});
    ASSERT_EQ(tree.Tip().Shown(), std::wstring(250, L'w'));
    GetWindowRect(tree.Tip().Tip(), &tip);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_GE(tip.left, work.left);
    EXPECT_LE(tip.right, work.right);
    EXPECT_GE(tip.top, work.top);
    EXPECT_LE(tip.bottom, work.bottom);
}

} // namespace
} // namespace maintest
