// The main window as the user sees it: places, settings, resizing, focus order,
// menus, colours, the About link and the log panel.
#include "main/views/Controls.h"
#include "main/views/LogPanel.h"
#include "storeui/FolderTree.h"
#include "MainUnitTestSupport.h"
#include "UnitAbout.h"

#include <gmock/gmock.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using namespace maintest;

namespace {

void ExpectPlace(HWND control, int x, int y, int width, int height) {
    RECT rect = PlaceOf(control);
    EXPECT_EQ(rect.left, x);
    EXPECT_EQ(rect.top, y);
    EXPECT_EQ(rect.right - rect.left, width);
    EXPECT_EQ(rect.bottom - rect.top, height);
}

LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    auto handle = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    GetObjectW(handle, sizeof font, &font);
    return font;
}

std::vector<std::wstring> MenuEntries(HMENU menu) {
    std::vector<std::wstring> entries;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        if (info.fType & MFT_SEPARATOR) {
            entries.push_back(L"-");
            continue;
        }
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        entries.push_back(text);
    }
    return entries;
}

COLORREF TextColourFor(HWND parent, HWND control) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control));
    COLORREF colour = GetTextColor(dc);
    DeleteDC(dc);
    return colour;
}

TEST_F(MainWindowTest, WindowStartsCentredAtItsInitialSize) {
    Start();
    HWND hwnd = window_->Handle();
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    EXPECT_EQ(rect.right - rect.left, 689);
    EXPECT_EQ(rect.bottom - rect.top, 480);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - 689) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - 480) / 2);
    EXPECT_EQ(WindowText(hwnd), L"Brisvander");
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    EXPECT_STREQ(className, L"TBrisvanderMain");
    EXPECT_EQ(GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
    // The program icon, large and small.
    auto large = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICON));
    auto small = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, GCLP_HICONSM));
    ASSERT_NE(large, nullptr);
    ASSERT_NE(small, nullptr);
    ICONINFO icon{};
    ASSERT_TRUE(GetIconInfo(small, &icon));
    BITMAP mask{};
    GetObjectW(icon.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 16);
    DeleteObject(icon.hbmMask);
    if (icon.hbmColor)
        DeleteObject(icon.hbmColor);

    MINMAXINFO info{};
    SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 680);
    EXPECT_EQ(info.ptMinTrackSize.y, 450);
}

TEST_F(MainWindowTest, ControlsSitAtTheirPlacesWithTheirCaptions) {
    // Without a store no folder is shown, so the panel keeps its first texts.
    Start([](IStoreNamespace** result) {
        *result = nullptr;
        return E_FAIL;
    });
    ExpectPlace(window_->TreeViewFolders(), 7, 16, 218, 188);
    ExpectPlace(window_->GroupBox1(), 7, 208, 219, 112);
    ExpectPlace(window_->ListViewMessages(), 230, 16, 444, 304);
    ExpectPlace(window_->MemoInfo(), 7, 325, 668, 117);
    EXPECT_EQ(PlaceOf(window_->LabelFolders()).left, 11);
    EXPECT_EQ(PlaceOf(window_->LabelFolders()).top, 2);
    EXPECT_EQ(PlaceOf(window_->LabelMessages()).left, 243);
    EXPECT_EQ(PlaceOf(window_->LabelAbout()).left, 640);
    EXPECT_EQ(PlaceOf(window_->LabelAbout()).top, 1);
    EXPECT_EQ(WindowText(window_->LabelFolders()), L"Folders:");
    EXPECT_EQ(WindowText(window_->LabelMessages()), L"Messages:");
    EXPECT_EQ(WindowText(window_->LabelAbout()), L"About");
    EXPECT_EQ(WindowText(window_->GroupBox1()), L" Folder properties ");

    // The folder panel lives in the group box.
    const wchar_t* captions[5] = {L"FolderId:", L"Number of sub-folders:", L"Folder type:",
                                  L"Number of messages:", L"Number of un-read messages:"};
    const int captionY[5] = {19, 36, 54, 71, 90};
    HWND values[5] = {window_->Panel().LabelFolderId(), window_->Panel().LabelcSubFolders(),
                      window_->Panel().LabelFolderType(), window_->Panel().LabelcMessage(),
                      window_->Panel().LabelcUnread()};
    const int valueY[5] = {21, 38, 55, 74, 89};
    const int valueRight[5] = {202, 202, 203, 203, 203};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(GetParent(window_->Panel().LabelCaptions()[i]), window_->GroupBox1());
        EXPECT_EQ(WindowText(window_->Panel().LabelCaptions()[i]), captions[i]);
        EXPECT_EQ(PlaceOf(window_->Panel().LabelCaptions()[i]).left, 8);
        EXPECT_EQ(PlaceOf(window_->Panel().LabelCaptions()[i]).top, captionY[i]);
        EXPECT_EQ(GetParent(values[i]), window_->GroupBox1());
        EXPECT_EQ(WindowText(values[i]), L"0");
        EXPECT_EQ(PlaceOf(values[i]).top, valueY[i]);
        EXPECT_EQ(PlaceOf(values[i]).right, valueRight[i]);
        EXPECT_TRUE(GetWindowLongW(values[i], GWL_STYLE) & SS_RIGHT);
    }
}

// Wider values grow leftwards from their right edge and show their whole text,
// over the caption if they reach it.
TEST_F(MainWindowTest, PanelValuesShowTheirWholeTextFromAFixedRightEdge) {
    store_->AddFolder(3, 0, "Outbox", FOLDER_OUTBOX).AddFolder(4, 0, "Deleted", FOLDER_DELETED);
    store_->Folder(4).messages = 12001;
    store_->Folder(4).unread = 5000;
    Start();
    FolderPanel& panel = window_->Panel();
    HWND values[5] = {panel.LabelFolderId(), panel.LabelcSubFolders(), panel.LabelFolderType(),
                      panel.LabelcMessage(), panel.LabelcUnread()};
    const int valueRight[5] = {202, 202, 203, 203, 203};
    auto font = reinterpret_cast<HFONT>(SendMessageW(values[0], WM_GETFONT, 0, 0));
    auto expectWhole = [&](const wchar_t* type, const wchar_t* unread) {
        SCOPED_TRACE(type);
        EXPECT_EQ(WindowText(panel.LabelFolderType()), type);
        EXPECT_EQ(WindowText(panel.LabelcUnread()), unread);
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            std::wstring text = WindowText(values[i]);
            EXPECT_GE(PlaceOf(values[i]).right - PlaceOf(values[i]).left,
                      controls::TextSize(font, text.c_str()).cx);
            EXPECT_EQ(PlaceOf(values[i]).right, valueRight[i]);
            // Above its caption in the drawing order.
            HWND above = values[i];
            while (above && above != panel.LabelCaptions()[i])
                above = GetWindow(above, GW_HWNDNEXT);
            EXPECT_EQ(above, panel.LabelCaptions()[i]);
        }
    };
    for (STOREFOLDERID id : {3u, 4u}) {
        HTREEITEM node = TreeView_GetNextSibling(window_->TreeViewFolders(),
                                                 TreeView_GetRoot(window_->TreeViewFolders()));
        while (node && folder_tree::NodeId(window_->TreeViewFolders(), node) != id)
            node = TreeView_GetNextSibling(window_->TreeViewFolders(), node);
        ASSERT_TRUE(node);
        TreeView_SelectItem(window_->TreeViewFolders(), node);
        expectWhole(id == 3 ? L"Default OUTBOX folder" : L"Default DELETED folder",
                    id == 3 ? L"0" : L"5000");
    }
    // Back to a short value: the label shrinks to it again.
    TreeView_SelectItem(window_->TreeViewFolders(), TreeView_GetRoot(window_->TreeViewFolders()));
    expectWhole(L"Default INBOX folder", L"1");
}

TEST_F(MainWindowTest, ControlsHaveTheirSettings) {
    Start();
    LONG tree = GetWindowLongW(window_->TreeViewFolders(), GWL_STYLE);
    for (LONG bit :
         {TVS_HASLINES, TVS_HASBUTTONS, TVS_LINESATROOT, TVS_SHOWSELALWAYS, TVS_EDITLABELS})
        EXPECT_EQ(tree & bit, bit);
    EXPECT_EQ(TreeView_GetIndent(window_->TreeViewFolders()), 19u);

    LONG list = GetWindowLongW(window_->ListViewMessages(), GWL_STYLE);
    EXPECT_EQ(list & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(list & LVS_SHOWSELALWAYS);
    EXPECT_TRUE(list & LVS_OWNERDATA);
    EXPECT_FALSE(list & LVS_SINGLESEL); // multi-select
    EXPECT_FALSE(list & LVS_EDITLABELS);
    DWORD extended = ListView_GetExtendedListViewStyle(window_->ListViewMessages());
    EXPECT_TRUE(extended & LVS_EX_FULLROWSELECT);
    EXPECT_TRUE(extended & LVS_EX_SUBITEMIMAGES);

    LONG memo = GetWindowLongW(window_->MemoInfo(), GWL_STYLE);
    EXPECT_TRUE(memo & ES_MULTILINE);
    EXPECT_TRUE(memo & WS_VSCROLL);

    for (HWND control : {window_->TreeViewFolders(), window_->ListViewMessages(),
                         window_->MemoInfo(), window_->Panel().LabelcUnread()}) {
        LOGFONTW font = FontOf(control);
        EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
        EXPECT_EQ(font.lfWeight, FW_NORMAL);
    }
    EXPECT_EQ(FontOf(window_->LabelFolders()).lfWeight, FW_BOLD);
    EXPECT_EQ(FontOf(window_->LabelMessages()).lfWeight, FW_BOLD);
    EXPECT_TRUE(FontOf(window_->LabelAbout()).lfUnderline);

    EXPECT_EQ(TextColourFor(window_->Handle(), window_->LabelFolders()), RGB(0, 0, 255));
    EXPECT_EQ(TextColourFor(window_->Handle(), window_->LabelMessages()), RGB(0, 0, 255));
    // The value labels ask the group box, which must pass the question on.
    EXPECT_EQ(TextColourFor(window_->GroupBox1(), window_->Panel().LabelFolderId()),
              RGB(0, 0, 128));
    EXPECT_EQ(TextColourFor(window_->GroupBox1(), window_->Panel().LabelcUnread()), RGB(0, 0, 128));
    EXPECT_EQ(TextColourFor(window_->GroupBox1(), window_->Panel().LabelCaptions()[0]),
              GetSysColor(COLOR_BTNTEXT));
}

TEST_F(MainWindowTest, ResizingGrowsTheListRightwardsAndTheLogBothWays) {
    Start();
    RECT before{};
    GetWindowRect(window_->Handle(), &before);
    SetWindowPos(window_->Handle(), nullptr, 0, 0, (before.right - before.left) + 120,
                 (before.bottom - before.top) + 80, SWP_NOMOVE | SWP_NOZORDER);
    ExpectPlace(window_->ListViewMessages(), 230, 16, 444 + 120, 304);
    ExpectPlace(window_->MemoInfo(), 7, 325, 668 + 120, 117 + 80);
    EXPECT_EQ(PlaceOf(window_->LabelAbout()).left, 640 + 120);
    EXPECT_EQ(PlaceOf(window_->LabelAbout()).top, 1);
    ExpectPlace(window_->TreeViewFolders(), 7, 16, 218, 188);
    ExpectPlace(window_->GroupBox1(), 7, 208, 219, 112);
    EXPECT_EQ(PlaceOf(window_->LabelMessages()).left, 243);

    // Back to the first size: everything is where it started.
    SetWindowPos(window_->Handle(), nullptr, 0, 0, before.right - before.left,
                 before.bottom - before.top, SWP_NOMOVE | SWP_NOZORDER);
    ExpectPlace(window_->ListViewMessages(), 230, 16, 444, 304);
    ExpectPlace(window_->MemoInfo(), 7, 325, 668, 117);
    EXPECT_EQ(PlaceOf(window_->LabelAbout()).left, 640);
}

TEST_F(MainWindowTest, TabMovesFocusLogTreeListAndBack) {
    Start(DoubleFactory(), SW_SHOW); // focus needs a shown window
    SetForegroundWindow(window_->Handle());
    // Arrow keys work at once: the tree has the focus from the start.
    EXPECT_EQ(GetFocus(), window_->TreeViewFolders());
    // Another window taking over and leaving again gives the focus back where it was.
    SetFocus(window_->ListViewMessages());
    HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr,
                                 nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    ASSERT_NE(GetFocus(), window_->ListViewMessages());
    DestroyWindow(other);
    SetForegroundWindow(window_->Handle());
    EXPECT_EQ(GetFocus(), window_->ListViewMessages());

    SetFocus(window_->MemoInfo());
    ASSERT_EQ(GetFocus(), window_->MemoInfo());
    auto pressTab = [&](bool shift) {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG message{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
        EXPECT_TRUE(IsDialogMessageW(window_->Handle(), &message));
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
        return GetFocus();
    };
    EXPECT_EQ(pressTab(false), window_->TreeViewFolders());
    EXPECT_EQ(pressTab(false), window_->ListViewMessages());
    EXPECT_EQ(pressTab(false), window_->MemoInfo());
    EXPECT_EQ(pressTab(true), window_->ListViewMessages());
    EXPECT_EQ(pressTab(true), window_->TreeViewFolders());

    // Z order gives the same sequence with the group box between tree and list.
    std::vector<HWND> order;
    for (HWND child = GetWindow(window_->Handle(), GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT))
        if (child == window_->MemoInfo() || child == window_->TreeViewFolders() ||
            child == window_->GroupBox1() || child == window_->ListViewMessages())
            order.push_back(child);
    EXPECT_THAT(order, ElementsAre(window_->MemoInfo(), window_->TreeViewFolders(),
                                   window_->GroupBox1(), window_->ListViewMessages()));
}

TEST_F(MainWindowTest, ContextMenusHoldTheirEntries) {
    Start();
    EXPECT_THAT(MenuEntries(window_->PopupMenuFolders()),
                ElementsAre(L"Create SubFolder", L"-", L"Rename", L"Delete", L"Move"));
    EXPECT_THAT(MenuEntries(window_->PopupMenuMessages()),
                ElementsAre(L"Mark as read", L"Mark as unread", L"-", L"Move to folder...",
                            L"Copy to folder...", L"-", L"Delete", L"-", L"Save to file", L"-",
                            L"Properties"));
}

TEST_F(MainWindowTest, AboutLinkShowsTheHandAndAnswersAClick) {
    Start();
    int clicks = 0;
    modal_.dialogScripts.push_back([&](ui::ModalDialog& dialog) {
        clicks += dynamic_cast<TFormAbout*>(&dialog) != nullptr;
        return INT_PTR{IDOK};
    });
    EXPECT_TRUE(GetWindowLongW(window_->LabelAbout(), GWL_STYLE) & SS_NOTIFY);
    LRESULT handled = SendMessageW(window_->Handle(), WM_SETCURSOR,
                                   reinterpret_cast<WPARAM>(window_->LabelAbout()),
                                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(handled, TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));

    SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(IDC_LABELABOUT, STN_CLICKED),
                 reinterpret_cast<LPARAM>(window_->LabelAbout()));
    EXPECT_EQ(clicks, 1);
    // A click on another label is not an About click.
    SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(IDC_LABELFOLDERS, STN_CLICKED),
                 reinterpret_cast<LPARAM>(window_->LabelFolders()));
    EXPECT_EQ(clicks, 1);
}

// ---- Log panel -------------------------------------------------------------------------------

TEST_F(MainWindowTest, LogLinesReachThePanelOnceTheQueueIsIdle) {
    Start();
    window_->Log("first");
    window_->Log("second");
    window_->Log("");
    std::string expected = "PATH OF MAIL MESSAGE STORE:\r\nC:\\Users\\alice\\Mail\\Store\r\n\r\n"
                           "first\r\nsecond\r\n\r\n";
    EXPECT_EQ(window_->LogText(), expected);
    PumpUntilIdle();
    EXPECT_EQ(WindowText(window_->MemoInfo()), std::wstring(expected.begin(), expected.end()));
    EXPECT_EQ(window_->LogText(), expected);
}

TEST_F(MainWindowTest, LogKeepsEveryLinePastTheEditsDefaultLimit) {
    Start([](IStoreNamespace** result) {
        *result = nullptr;
        return E_FAIL;
    });
    std::string expected = "ERROR: Can't create StoreNamespace\r\n";
    for (int i = 0; i < 3000; ++i) {
        std::string line = "NEWMSGS MsgId=" + std::to_string(100000 + i) + " and some padding";
        window_->Log(line);
        expected += line + "\r\n";
    }
    ASSERT_GT(expected.size(), 40000u);
    window_->FlushLog();
    EXPECT_EQ(static_cast<size_t>(GetWindowTextLengthW(window_->MemoInfo())), expected.size());
    EXPECT_EQ(window_->LogText(), expected);
}

TEST_F(MainWindowTest, LogShowsLinesEvenWhenTheQueueNeverGoesIdle) {
    Start();
    const int before = GetWindowTextLengthW(window_->MemoInfo());
    // Lines keep coming for longer than the panel lets them wait.
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; GetTickCount64() - start < 2 * LogPanel::kBusyEveryMs; ++i) {
        window_->Log("MARKEDASREAD MsgId=" + std::to_string(i));
        Sleep(1);
    }
    // No message was dispatched, yet lines are in the edit already.
    EXPECT_GT(GetWindowTextLengthW(window_->MemoInfo()) - before, 0);
}

} // namespace
