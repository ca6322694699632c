#include "MainUnit.h"

#include "Controls.h"
#include "LogPanel.h"
#include "store/StoreLoader.h"
#include "resources/resource.h"
#include "ui/Dialog.h"
#include "ui/Dpi.h"
#include "ui/Modal.h"
#include "ui/WaitCursor.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kNavy = RGB(0, 0, 128);

using controls::Place;

// Control places in client pixels at the initial window size, at 96 DPI.
constexpr Place kTree{7, 16, 218, 188};
constexpr Place kGroupBox{7, 208, 219, 112};
constexpr Place kList{230, 16, 444, 304};
constexpr Place kMemo{7, 325, 668, 117};
constexpr POINT kLabelFolders{11, 2};
constexpr POINT kLabelMessages{243, 2};
constexpr POINT kLabelAbout{640, 1};

void AppendItem(HMENU menu, UINT id, const wchar_t* caption) {
    AppendMenuW(menu, MF_STRING, id, caption);
}
void AppendSeparator(HMENU menu) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

} // namespace

HRESULT CreateSystemStore(IStoreNamespace** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    return store::CreateStoreNamespace(result);
}

TBrisvanderMain::TBrisvanderMain(StoreFactory factory, ui::ModalHost* modal)
    : factory_(std::move(factory)), modal_(modal) {}

TBrisvanderMain::~TBrisvanderMain() {
    Destroy();
}

ui::ModalHost& TBrisvanderMain::Modal() const {
    return modal_ ? *modal_ : ui::DefaultModalHost();
}

bool TBrisvanderMain::Create(HINSTANCE instance, int showCommand) {
    if (hwnd_)
        return true;
    WNDCLASSEXW windowClass{};
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kClassName;
    windowClass.hIcon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_BRISVANDER), IMAGE_ICON, 32, 32, LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_BRISVANDER), IMAGE_ICON, 16, 16, LR_SHARED));
    if (!RegisterWindowClass(windowClass))
        return false;

    dpi_ = ui::ScreenDpi();
    const int width = ui::Scale(kInitialWidth, dpi_);
    const int height = ui::Scale(kInitialHeight, dpi_);
    int x = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    int y = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
    if (!CreateWindowFor(0, kClassName, kCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y,
                         width, height, nullptr, nullptr, instance))
        return false;
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    return true;
}

void TBrisvanderMain::Destroy() {
    if (hwnd_)
        DestroyWindow(hwnd_);
}

// ---- Controls ------------------------------------------------------------------------------

void TBrisvanderMain::CreateControls() {
    font_.Reset(controls::MakeFont(FW_NORMAL, false));
    boldFont_.Reset(controls::MakeFont(FW_BOLD, false));
    linkFont_.Reset(controls::MakeFont(FW_NORMAL, true));
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);

    RECT client{};
    GetClientRect(hwnd_, &client);
    designClient_ = {client.right, client.bottom};

    // Creation order is the tab order: log, tree, group box, list.
    log_ = std::make_unique<LogPanel>(hwnd_, IDC_MEMOINFO, kMemo, font_.Get());
    MemoInfo = log_->Handle();
    TreeViewFolders = tree_.Create(hwnd_, IDC_TREEVIEWFOLDERS, kTree, font_.Get());
    GroupBox1 = panel_.Create(hwnd_, IDC_GROUPBOX1, kGroupBox, font_.Get());
    ListViewMessages = messages_.Create(hwnd_, IDC_LISTVIEWMESSAGES, kList, font_.Get());
    // The dialog manager would take Enter for a default button the window does
    // not have; the list keeps it and tells its parent (NM_RETURN).
    ui::KeepKey(ListViewMessages, VK_RETURN, true);

    LabelFolders = controls::MakeLabel(L"Folders:", 0, kLabelFolders.x, kLabelFolders.y, hwnd_,
                                       IDC_LABELFOLDERS, boldFont_.Get());
    LabelMessages = controls::MakeLabel(L"Messages:", 0, kLabelMessages.x, kLabelMessages.y, hwnd_,
                                        IDC_LABELMESSAGES, boldFont_.Get());
    LabelAbout = controls::MakeLabel(L"About", SS_NOTIFY, kLabelAbout.x, kLabelAbout.y, hwnd_,
                                     IDC_LABELABOUT, linkFont_.Get());

    menuFolders_.Reset(CreatePopupMenu());
    PopupMenuFolders = menuFolders_.Get();
    AppendItem(PopupMenuFolders, IDM_CREATESUBFOLDER1, L"Create SubFolder");
    AppendSeparator(PopupMenuFolders);
    AppendItem(PopupMenuFolders, IDM_RENAME1, L"Rename");
    AppendItem(PopupMenuFolders, IDM_DELETE1, L"Delete");
    AppendItem(PopupMenuFolders, IDM_MOVE1, L"Move");

    menuMessages_.Reset(CreatePopupMenu());
    PopupMenuMessages = menuMessages_.Get();
    AppendItem(PopupMenuMessages, IDM_MARKASREAD1, L"Mark as read");
    AppendItem(PopupMenuMessages, IDM_MARKASUNREAD1, L"Mark as unread");
    AppendSeparator(PopupMenuMessages);
    AppendItem(PopupMenuMessages, IDM_MOVETOFOLDER1, L"Move to folder...");
    AppendItem(PopupMenuMessages, IDM_COPYTOFOLDER1, L"Copy to folder...");
    AppendSeparator(PopupMenuMessages);
    AppendItem(PopupMenuMessages, IDM_DELETE2, L"Delete");
    AppendSeparator(PopupMenuMessages);
    AppendItem(PopupMenuMessages, IDM_SAVETOFILE1, L"Save to file");
    AppendSeparator(PopupMenuMessages);
    AppendItem(PopupMenuMessages, IDM_PROPERTIES1, L"Properties");
}

// The list grows to the right, the log both ways, the About link keeps its
// distance to the right edge; everything else stays where it is.
void TBrisvanderMain::LayoutControls() {
    if (!MemoInfo)
        return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    int dx = client.right - designClient_.cx;
    int dy = client.bottom - designClient_.cy;
    HDWP defer = BeginDeferWindowPos(3);
    auto place = [&](HWND control, int x, int y, int width, int height, UINT flags) {
        if (defer)
            defer = DeferWindowPos(defer, control, nullptr, x, y, std::max(0, width),
                                   std::max(0, height), flags | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    auto scale = [this](int design) { return ui::Scale(design, dpi_); };
    place(ListViewMessages, 0, 0, scale(kList.width) + dx, scale(kList.height), SWP_NOMOVE);
    place(MemoInfo, 0, 0, scale(kMemo.width) + dx, scale(kMemo.height) + dy, SWP_NOMOVE);
    place(LabelAbout, scale(kLabelAbout.x) + dx, scale(kLabelAbout.y), 0, 0, SWP_NOSIZE);
    if (defer)
        EndDeferWindowPos(defer);
}

LRESULT TBrisvanderMain::ColorStatic(HDC dc, HWND control) {
    if (control == MemoInfo) {
        // Read-only, but it reads as the text box it is.
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    COLORREF text = GetSysColor(COLOR_BTNTEXT);
    if (control == LabelFolders || control == LabelMessages)
        text = kBlue;
    else if (panel_.IsValue(control))
        text = kNavy;
    SetTextColor(dc, text);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

// The window itself takes no keys: activating it gives the focus back to the
// control that had it, the folder tree at first.
void TBrisvanderMain::RememberFocus() {
    HWND focus = GetFocus();
    if (focus && IsChild(hwnd_, focus))
        lastFocus_ = focus;
}

void TBrisvanderMain::RestoreFocus() {
    HWND target = lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : TreeViewFolders;
    if (target)
        SetFocus(target);
}

// ---- Start-up and teardown ----------------------------------------------------------------

void TBrisvanderMain::FormCreate() {
    SetUpViews();
    openFolder_.Reset();

    previousWindowProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TBrisvanderMain::StoreDispatcher)));

    currentFolderId_ = 0;
    tree_.SuppressFlag() = false;

    Microsoft::WRL::ComPtr<IStoreNamespace> created;
    HRESULT status = factory_ ? factory_(created.GetAddressOf()) : E_NOTIMPL;
    if (FAILED(status) || !created) {
        Log("ERROR: Can't create StoreNamespace");
        return;
    }
    namespace_ = created;

    if (namespace_->Initialize(hwnd_, 0) != S_OK) {
        Log("ERROR: Can't initialize StoreNamespace");
        return;
    }

    Log("PATH OF MAIL MESSAGE STORE:");
    // Zeroed first: a store that fails here must not put stray bytes in the log.
    char directory[MAX_PATH];
    std::memset(directory, 0, sizeof directory);
    namespace_->GetDirectory(directory, sizeof directory);
    Log(std::string_view(directory, strnlen(directory, sizeof directory)));
    Log("");

    // Selecting the first folder loads it; then it is the current one.
    RebuildTree(0);
    if (tree_.Selected())
        currentFolderId_ = tree_.SelectedId();

    if (namespace_->RegisterNotification(0, hwnd_) != S_OK)
        Log("Can't RegisterNotification");
}

void TBrisvanderMain::FormDestroy() {
    drag_.Cancel();
    if (openFolder_) {
        openFolder_->UnregisterNotification(0, hwnd_);
        openFolder_.Reset();
    }
    if (namespace_) {
        namespace_->UnregisterNotification(0, hwnd_);
        namespace_.Reset();
    }
}

// ---- Log ---------------------------------------------------------------------------------------

void TBrisvanderMain::Log(std::string_view line) {
    if (log_)
        log_->Append(line);
}

std::string TBrisvanderMain::LogText() const {
    return log_ ? log_->Text() : std::string();
}

void TBrisvanderMain::FlushLog() {
    if (log_)
        log_->Flush();
}

// ---- Window procedures ---------------------------------------------------------------------

void TBrisvanderMain::RunCommand(UINT command) {
    switch (command) {
    case IDM_CREATESUBFOLDER1:
        CreateSubFolder1Click();
        break;
    case IDM_RENAME1:
        Rename1Click();
        break;
    case IDM_DELETE1:
        Delete1Click();
        break;
    case IDM_MOVE1:
        Move1Click();
        break;
    case IDM_MARKASREAD1:
        Markasread1Click();
        break;
    case IDM_MARKASUNREAD1:
        Markasunread1Click();
        break;
    case IDM_MOVETOFOLDER1:
        Movetofolder1Click();
        break;
    case IDM_COPYTOFOLDER1:
        Copytofolder1Click();
        break;
    case IDM_DELETE2:
        Delete2Click();
        break;
    case IDM_SAVETOFILE1:
        Savetofile1Click();
        break;
    case IDM_PROPERTIES1:
        Properties1Click();
        break;
    default:
        break;
    }
}

LRESULT TBrisvanderMain::OnContextMenu(HWND control, LPARAM position) {
    // -1 comes from the keyboard (the menu key, Shift+F10).
    const bool fromKeyboard = position == -1;
    const POINT at{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (control && control == TreeViewFolders)
        TreeViewFoldersContextPopup(at, fromKeyboard);
    else if (control && control == ListViewMessages)
        ListViewMessagesContextPopup(at, fromKeyboard);
    else
        return DefaultProc(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), position);
    return 0;
}

void TBrisvanderMain::ReportError(const std::wstring& message) {
    Modal().ErrorBox(hwnd_, message);
}

LRESULT CALLBACK TBrisvanderMain::StoreDispatcher(HWND hwnd, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* self = static_cast<TBrisvanderMain*>(ui::Window::FromHandle(hwnd));
    WNDPROC previous = self && self->previousWindowProc_
                           ? self->previousWindowProc_
                           : reinterpret_cast<WNDPROC>(GetClassLongPtrW(hwnd, GCLP_WNDPROC));
    if (self) {
        try {
            self->HandleStoreMessage(message, wParam, lParam);
        } catch (...) {
            try {
                self->ReportError(ui::DescribeCurrentException());
            } catch (...) {
            }
        }
    }
    // Every message goes on to the window's own procedure, handled or not.
    return CallWindowProcW(previous, hwnd, message, wParam, lParam);
}

LRESULT TBrisvanderMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (drag_.HandleMessage(message, wParam, lParam))
        return 0;
    switch (message) {
    case WM_CREATE:
        CreateControls();
        FormCreate();
        return 0;

    case WM_DESTROY:
        FormDestroy();
        if (quitOnDestroy_)
            PostQuitMessage(0);
        return 0;

    case WM_NCDESTROY:
        // The log's edit is gone with the window; its handle may be reused.
        log_.reset();
        break;

    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = {ui::Scale(kMinWidth, dpi_), ui::Scale(kMinHeight, dpi_)};
        return 0;
    }

    case WM_SIZE:
        LayoutControls();
        return 0;

    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            RememberFocus();
        break;

    case WM_SETFOCUS:
        RestoreFocus();
        return 0;

    case WM_NOTIFY: {
        LRESULT result = 0;
        if (HandleViewNotify(reinterpret_cast<const NMHDR*>(lParam), result))
            return result;
        break;
    }

    case WM_CTLCOLORSTATIC:
        return ColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));

    case WM_SETCURSOR:
        if (busy_) {
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        if (reinterpret_cast<HWND>(wParam) == LabelAbout && LabelAbout) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;

    case WM_COMMAND:
        if (reinterpret_cast<HWND>(lParam) == LabelAbout && LabelAbout &&
            HIWORD(wParam) == STN_CLICKED) {
            LabelAboutClick();
            return 0;
        }
        if (lParam == 0 && HIWORD(wParam) == 0) {
            RunCommand(LOWORD(wParam));
            return 0;
        }
        break;

    case WM_CONTEXTMENU:
        return OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);

    case kRenameEdited:
        RenameEdited();
        return 0;

    case WM_TIMER:
        if (wParam == kIdleTimer) {
            KillTimer(hwnd_, kIdleTimer);
            busy_ = false;
            ui::RefreshCursor(hwnd_);
            return 0;
        }
        break;
    }
    return DefaultProc(message, wParam, lParam);
}

void TBrisvanderMain::BusyUntilIdle() {
    if (!hwnd_)
        return;
    busy_ = SetTimer(hwnd_, kIdleTimer, USER_TIMER_MINIMUM, nullptr) != 0;
    if (busy_)
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}
