// The owner-data message list against a plain report list view: rows inserted
// and deleted in the middle must leave selection, focus and the selection
// mark where the plain list leaves them.
#include "main/views/MessageListSync.h"
#include "StoreRecords.h"

#include "ui/Text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;

namespace {

MessageRows* g_rows = nullptr;
HWND g_ownerList = nullptr;

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && g_rows) {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (header->hwndFrom == g_ownerList && list_sync::HandleNotify(*g_rows, header, result))
            return result;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

class ListPair : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&init);
        WNDCLASSW cls{};
        cls.lpfnWndProc = HostProc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"MessageListTestHost";
        RegisterClassW(&cls);
        host_ = CreateWindowExW(0, cls.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                                nullptr, nullptr, cls.hInstance, nullptr);
        DWORD style = WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS;
        owner_ = CreateWindowExW(0, WC_LISTVIEWW, L"", style | LVS_OWNERDATA, 0, 0, 280, 380, host_,
                                 nullptr, cls.hInstance, nullptr);
        plain_ = CreateWindowExW(0, WC_LISTVIEWW, L"", style, 300, 0, 280, 380, host_, nullptr,
                                 cls.hInstance, nullptr);
        images_ = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 5, 0);
        list_sync::SetUpColumns(owner_, images_);
        list_sync::KeepInSync(owner_, rows_);
        LVCOLUMNW column{};
        column.mask = LVCF_WIDTH;
        column.cx = 100;
        SendMessageW(plain_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
        g_rows = &rows_;
        g_ownerList = owner_;
    }
    void TearDown() override {
        g_rows = nullptr;
        g_ownerList = nullptr;
        DestroyWindow(host_);
        ImageList_Destroy(images_);
    }

    MessageRow Row(MESSAGEID id) {
        MessageRow row;
        row.id = id;
        row.from = L"Sender " + std::to_wstring(id);
        return row;
    }
    void PlainInsert(int index, MESSAGEID id) {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = index;
        item.lParam = static_cast<LPARAM>(id);
        SendMessageW(plain_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    void Fill(int count) {
        for (int i = 0; i < count; ++i) {
            rows_.Append(Row(static_cast<MESSAGEID>(100 + i)));
            PlainInsert(i, static_cast<MESSAGEID>(100 + i));
        }
        list_sync::ShowAppended(owner_, rows_);
    }
    void Insert(int index, MESSAGEID id) {
        list_sync::InsertRow(owner_, rows_, static_cast<size_t>(index), Row(id));
        PlainInsert(index, id);
        // A new row starts unselected; this list view would take the selection of
        // a selected range it lands in, which is not what is compared here.
        SetState(plain_, index, 0, LVIS_SELECTED);
    }
    void Delete(int index) {
        list_sync::DeleteRow(owner_, rows_, static_cast<size_t>(index));
        SendMessageW(plain_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
    }
    static void SetState(HWND list, int index, UINT state, UINT mask) {
        LVITEMW item{};
        item.state = state;
        item.stateMask = mask;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&item));
    }
    void Select(int index) {
        for (HWND list : {owner_, plain_})
            SetState(list, index, LVIS_SELECTED, LVIS_SELECTED);
    }
    void Focus(int index) {
        for (HWND list : {owner_, plain_})
            SetState(list, index, LVIS_FOCUSED, LVIS_FOCUSED);
    }
    static std::vector<int> Selected(HWND list) {
        std::vector<int> selected;
        for (int i = -1;
             (i = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, i, LVNI_SELECTED))) >= 0;)
            selected.push_back(i);
        return selected;
    }
    static int Focused(HWND list) {
        return static_cast<int>(
            SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    }
    void ExpectSameStates(const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(SendMessageW(owner_, LVM_GETITEMCOUNT, 0, 0),
                  SendMessageW(plain_, LVM_GETITEMCOUNT, 0, 0));
        EXPECT_EQ(Selected(owner_), Selected(plain_));
        EXPECT_EQ(Focused(owner_), Focused(plain_));
        EXPECT_EQ(SendMessageW(owner_, LVM_GETSELECTIONMARK, 0, 0),
                  SendMessageW(plain_, LVM_GETSELECTIONMARK, 0, 0));
        ASSERT_EQ(rows_.Count(), static_cast<size_t>(SendMessageW(plain_, LVM_GETITEMCOUNT, 0, 0)));
        for (size_t i = 0; i < rows_.Count(); ++i) {
            LVITEMW item{};
            item.mask = LVIF_PARAM;
            item.iItem = static_cast<int>(i);
            SendMessageW(plain_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            ASSERT_EQ(rows_.At(i).id, static_cast<MESSAGEID>(item.lParam)) << "row " << i;
            LVITEMW shown{};
            shown.mask = LVIF_PARAM;
            shown.iItem = static_cast<int>(i);
            SendMessageW(owner_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&shown));
            ASSERT_EQ(shown.lParam, item.lParam) << "row " << i;
        }
    }

    HWND host_ = nullptr;
    HWND owner_ = nullptr;
    HWND plain_ = nullptr;
    HIMAGELIST images_ = nullptr;
    MessageRows rows_;
};

TEST_F(ListPair, InsertingAndDeletingKeepsStatesWhereAPlainListKeepsThem) {
    Fill(20);
    for (int index : {2, 5, 6, 10, 19})
        Select(index);
    Focus(6);
    for (HWND list : {owner_, plain_})
        SendMessageW(list, LVM_SETSELECTIONMARK, 0, 5);
    ExpectSameStates("filled");

    Insert(0, 500);
    ExpectSameStates("insert at the top");
    Insert(7, 501);
    ExpectSameStates("insert between two selected rows");
    Insert(static_cast<int>(rows_.Count()), 502);
    ExpectSameStates("append");
    Delete(0);
    ExpectSameStates("delete above the selection");
    Delete(2);
    ExpectSameStates("delete a selected row");
    Delete(4);
    ExpectSameStates("delete the row holding the selection mark");
    Delete(Focused(owner_));
    ExpectSameStates("delete the focused row");
    Delete(static_cast<int>(rows_.Count()) - 2);
    ExpectSameStates("delete the selected last-but-one row");
    Delete(static_cast<int>(rows_.Count()) - 1);
    ExpectSameStates("delete the last row");
    Insert(3, 503);
    ExpectSameStates("insert after deletions");
    Focus(static_cast<int>(rows_.Count()) - 1);
    for (HWND list : {owner_, plain_})
        SendMessageW(list, LVM_SETSELECTIONMARK, 0, static_cast<LPARAM>(rows_.Count()) - 1);
    Delete(static_cast<int>(rows_.Count()) - 1);
    ExpectSameStates("delete the focused last row");
}

TEST_F(ListPair, ABurstOfChangesShowsAtOnceAsIfMadeOneByOne) {
    Fill(40);
    for (int index : {0, 3, 4, 5, 17, 30, 39})
        Select(index);
    Focus(30);
    for (HWND list : {owner_, plain_})
        SendMessageW(list, LVM_SETSELECTIONMARK, 0, 17);
    ExpectSameStates("filled");
    Insert(2, 600);
    Delete(5);
    Delete(39);
    Insert(0, 601);
    Insert(18, 602);
    Delete(31); // the focused row, now one further down
    Delete(18);
    Insert(40, 603);
    Delete(0);
    ExpectSameStates("after the burst");
    // Deleting down to nothing leaves no selection, focus or mark.
    while (rows_.Count() > 0)
        Delete(static_cast<int>(rows_.Count()) - 1);
    ExpectSameStates("emptied");
}

TEST_F(ListPair, RowsShowTheirTextsImagesAndData) {
    MESSAGEPROPS props = store::NewMessageProps();
    props.dwMessageId = 42;
    props.dwState = MSGSTATE_UNREAD | MSGSTATE_FLAGGED;
    char from[] = "Alice Example";
    char subject[] = "Quarterly figures";
    props.pszDisplayFrom = from;
    props.pszSubject = subject;
    rows_.Append(list_sync::RowFromProps(props));
    props.dwMessageId = 43;
    props.dwState = 0;
    props.pszDisplayFrom = nullptr; // a null text reads as empty
    rows_.Append(list_sync::RowFromProps(props));
    list_sync::ShowAppended(owner_, rows_);

    auto text = [&](int row, int column) {
        wchar_t buffer[256] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 256;
        SendMessageW(owner_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
        return std::wstring(buffer);
    };
    auto image = [&](int row, int column) {
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        item.iSubItem = column;
        SendMessageW(owner_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    };
    EXPECT_EQ(text(0, 0), L"Alice Example");
    EXPECT_EQ(text(0, 1), L"Quarterly figures");
    EXPECT_EQ(text(0, 3), L"");
    EXPECT_EQ(text(1, 0), L"");
    LVITEMW data{};
    data.mask = LVIF_PARAM;
    data.iItem = 1;
    SendMessageW(owner_, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    EXPECT_EQ(data.lParam, 43); // the data word is the message id
    EXPECT_EQ(image(0, 0), 1);  // unread: closed envelope
    EXPECT_EQ(image(0, 3), 3);  // flagged: red flag
    EXPECT_EQ(image(1, 0), 0);
    EXPECT_NE(image(1, 3), 3);
    // The zero received time shows the calendar zero.
    EXPECT_NE(text(0, 2).find(L"1899"), std::wstring::npos);

    LVFINDINFOW find{};
    find.flags = LVFI_PARAM;
    find.lParam = 43;
    EXPECT_EQ(SendMessageW(owner_, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                           reinterpret_cast<LPARAM>(&find)),
              1);
    find.flags = LVFI_STRING | LVFI_PARTIAL;
    find.psz = L"alice";
    EXPECT_EQ(SendMessageW(owner_, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                           reinterpret_cast<LPARAM>(&find)),
              0);
}

// A folder's records go in with their texts as the store gives them; the rows
// must read back as those records widened first would.
TEST(MessageRows, RecordsKeptAsGivenReadAsWidenedRows) {
    const localtime_text::LocalTimeZone zone;
    char plain[] = "Alice Example";
    // In the process's code page, as the store gives it (UTF-8 where the manifest holds).
    std::string accented = ui::ToAnsi(L"Gr\u00fc\u00dfe aus K\u00f6ln");
    char* const texts[] = {plain, accented.data(), nullptr};
    MESSAGEPROPS props = store::NewMessageProps();
    props.ftReceived = {0x12345678, 0x01DC0000};
    MessageRows widened, kept;
    for (char* from : texts) {
        for (char* subject : texts) {
            ++props.dwMessageId;
            props.dwState = props.dwMessageId % 2 ? MSGSTATE_UNREAD : MSGSTATE_FLAGGED;
            props.pszDisplayFrom = from;
            props.pszSubject = subject;
            widened.Append(list_sync::RowFromProps(props, zone));
            kept.Append(list_sync::StoreRowFromProps(props, zone));
        }
    }
    ASSERT_EQ(kept.Count(), widened.Count());
    for (size_t i = 0; i < kept.Count(); ++i) {
        const MessageRow want = widened.At(i), got = kept.At(i);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.image, want.image);
        EXPECT_EQ(got.flagged, want.flagged);
        EXPECT_EQ(got.from, want.from) << i;
        EXPECT_EQ(got.subject, want.subject) << i;
        EXPECT_EQ(kept.ReceivedText(i), widened.ReceivedText(i));
    }
    EXPECT_EQ(kept.From(3), L"Gr\u00fc\u00dfe aus K\u00f6ln");
}

TEST_F(ListPair, ColumnsHaveTheirCaptionsWidthsAndHeaderImage) {
    struct Expected {
        const wchar_t* caption;
        int width;
        int align;
    };
    const Expected columns[] = {{L"From", 120, LVCFMT_LEFT},
                                {L"Subject", 150, LVCFMT_LEFT},
                                {L"Received", 120, LVCFMT_LEFT},
                                {L"", 40, LVCFMT_CENTER}};
    for (int i = 0; i < 4; ++i) {
        wchar_t caption[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_IMAGE;
        column.pszText = caption;
        column.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(owner_, LVM_GETCOLUMNW, static_cast<WPARAM>(i),
                                 reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(caption, columns[i].caption);
        EXPECT_EQ(column.cx, columns[i].width);
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, columns[i].align);
        if (i == 3) {
            EXPECT_TRUE(column.fmt & LVCFMT_IMAGE);
            EXPECT_EQ(column.iImage, 4);
        }
    }
    EXPECT_EQ(SendMessageW(owner_, LVM_GETIMAGELIST, LVSIL_SMALL, 0),
              reinterpret_cast<LRESULT>(images_));
}

} // namespace
