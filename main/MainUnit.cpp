#include "main/MainUnit.h"

#include "main/commands/AboutCommand.h"
#include "main/views/Controls.h"
#include "main/views/LogPanel.h"
#include "store/StoreLoader.h"
#include "resources/ImageLists.h"
#include "resources/ResourceIds.h"
#include "ui/Dialog.h"
#include "ui/Dpi.h"
#include "ui/Modal.h"
#include "ui/Text.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

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

// The line after a failed start: which store, why, and for damage what helps.
std::string StoreFailure(IStoreNamespace* store, HRESULT status) {
    char directory[MAX_PATH] = {};
    if (store->GetDirectory(directory, sizeof directory) != S_OK)
        directory[0] = '\0';
    const std::string path(directory, strnlen(directory, sizeof directory));
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring reason = length && text ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!reason.empty() && (iswspace(reason.back()) || reason.back() == L'.'))
        reason.pop_back();
    char code[16] = {};
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    std::string line = "The store \"" + path + "\" cannot be opened: " +
                       (reason.empty() ? std::string("error") : ui::ToAnsi(reason)) + " (" + code +
                       ").";
    if (status == HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT))
        line += " Run \"mailstore check " + path +
                "\" to see the damage, then \"mailstore recover " + path + "\" to repair it.";
    else if (status == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        line += " Check the store folder setting; a folder that does not exist is not created.";
    return line;
}

} // namespace

HRESULT CreateSystemStore(IStoreNamespace** result) {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    return store::CreateStoreNamespace(result);
}

TBrisvanderMain::TBrisvanderMain(StoreFactory factory, ui::ModalHost* modal)
    : factory_(std::move(factory)), modal_(modal ? *modal : ui::DefaultModalHost()), busy_(*this),
      selection_(*this, tree_, panel_, messages_),
      notifications_(
          *this, tree_, messages_, selection_, [this](std::string_view line) { Log(line); },
          [this](const std::wstring& text) { ReportError(text); }),
      folderCommands_(*this, modal_, tree_, selection_),
      messageCommands_(*this, modal_, tree_, messages_, selection_, busy_),
      sourceCommands_(*this, modal_, messages_, selection_),
      drag_(*this, tree_, messages_, selection_, folderCommands_, messageCommands_,
            [this](const std::string& line) { Log(line); }),
      reading_(messages_, [this] { return selection_.OpenedFolder(); }),
      attachments_(*this, modal_, reading_) {}

TBrisvanderMain::~TBrisvanderMain() {
    Destroy();
}

HWND TBrisvanderMain::MemoInfo() const {
    return log_ ? log_->Handle() : nullptr;
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
    tree_.Create(hwnd_, IDC_TREEVIEWFOLDERS, kTree, font_.Get());
    panel_.Create(hwnd_, IDC_GROUPBOX1, kGroupBox, font_.Get());
    messages_.Create(hwnd_, IDC_LISTVIEWMESSAGES, kList, font_.Get());
    reading_.onSave = [this](size_t index) { attachments_.SaveOne(index); };
    reading_.onSaveAll = [this] { attachments_.SaveAll(); };
    // The dialog manager would take Enter for a default button the window does
    // not have; the list keeps it and tells its parent (NM_RETURN).
    ui::KeepKey(ListViewMessages(), VK_RETURN, true);

    labelFolders_ = controls::MakeLabel(L"Folders:", 0, kLabelFolders.x, kLabelFolders.y, hwnd_,
                                        IDC_LABELFOLDERS, boldFont_.Get());
    labelMessages_ = controls::MakeLabel(L"Messages:", 0, kLabelMessages.x, kLabelMessages.y, hwnd_,
                                         IDC_LABELMESSAGES, boldFont_.Get());
    labelAbout_ = controls::MakeLabel(L"About", SS_NOTIFY, kLabelAbout.x, kLabelAbout.y, hwnd_,
                                      IDC_LABELABOUT, linkFont_.Get());
}

// The list grows to the right, the log both ways, the About link keeps its
// distance to the right edge; everything else stays where it is.
void TBrisvanderMain::LayoutControls() {
    if (!MemoInfo())
        return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    int dx = client.right - designClient_.cx;
    int dy = client.bottom - designClient_.cy;
    HDWP defer = BeginDeferWindowPos(4);
    auto place = [&](HWND control, int x, int y, int width, int height, UINT flags) {
        if (defer)
            defer = DeferWindowPos(defer, control, nullptr, x, y, std::max(0, width),
                                   std::max(0, height), flags | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    auto scale = [this](int design) { return ui::Scale(design, dpi_); };
    int listHeight = scale(kList.height);
    if (reading_.Visible()) {
        // The pane takes the lower part of the list's place.
        const int area = listHeight;
        listHeight = area * 2 / 5;
        const int gap = scale(4);
        place(reading_.Handle(), scale(kList.x), scale(kList.y) + listHeight + gap,
              scale(kList.width) + dx, area - listHeight - gap, 0);
    }
    place(ListViewMessages(), 0, 0, scale(kList.width) + dx, listHeight, SWP_NOMOVE);
    place(MemoInfo(), 0, 0, scale(kMemo.width) + dx, scale(kMemo.height) + dy, SWP_NOMOVE);
    place(labelAbout_, scale(kLabelAbout.x) + dx, scale(kLabelAbout.y), 0, 0, SWP_NOSIZE);
    if (defer)
        EndDeferWindowPos(defer);
}

LRESULT TBrisvanderMain::ColorStatic(HDC dc, HWND control) {
    if (control && control == MemoInfo()) {
        // Read-only, but it reads as the text box it is.
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    COLORREF text = GetSysColor(COLOR_BTNTEXT);
    if (control && (control == labelFolders_ || control == labelMessages_))
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
    HWND target = lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : TreeViewFolders();
    if (target)
        SetFocus(target);
}

// ---- Start-up and teardown ----------------------------------------------------------------

void TBrisvanderMain::FormCreate() {
    SetUpViews();
    selection_.Reset();
    notifications_.Install();
    tree_.SuppressFlag() = false;

    Microsoft::WRL::ComPtr<IStoreNamespace> created;
    HRESULT status = factory_ ? factory_(created.GetAddressOf()) : E_NOTIMPL;
    if (FAILED(status) || !created) {
        Log("ERROR: Can't create StoreNamespace");
        return;
    }
    namespace_ = created;
    ConnectParts(namespace_.Get());

    status = namespace_->Initialize(hwnd_, 0);
    if (status != S_OK) {
        Log("ERROR: Can't initialize StoreNamespace");
        Log(StoreFailure(namespace_.Get(), status));
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
        selection_.SetCurrentFolderId(tree_.SelectedId());

    if (namespace_->RegisterNotification(0, hwnd_) != S_OK)
        Log("Can't RegisterNotification");
}

void TBrisvanderMain::FormDestroy() {
    drag_.Close();
    reading_.SetVisible(false);
    selection_.Close();
    ConnectParts(nullptr);
    if (namespace_) {
        namespace_->UnregisterNotification(0, hwnd_);
        namespace_.Reset();
    }
}

void TBrisvanderMain::ConnectParts(IStoreNamespace* store) {
    selection_.Connect(store);
    notifications_.Connect(store);
    folderCommands_.Connect(store);
    messageCommands_.Connect(store);
    drag_.Connect(store);
}

// Pictures missing from the program's resources (a test program has none)
// leave empty lists of the right size and count, so every index stays valid.
void TBrisvanderMain::SetUpViews() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // Pictures for the screen's DPI, so rows and columns grow with the text.
    const int size = ImageSizeForDpi(ui::ScreenDpi());
    imagesFolders_.Reset(CreateFolderImageList(instance, size));
    if (!imagesFolders_)
        imagesFolders_.Reset(controls::BlankImageList(kFolderImageCount, size));
    imagesMessages_.Reset(CreateMessageImageList(instance, size));
    if (!imagesMessages_)
        imagesMessages_.Reset(controls::BlankImageList(kMessageImageCount, size));
    tree_.SetImages(imagesFolders_.Get());
    messages_.SetImages(imagesMessages_.Get());
}

// ---- Log ---------------------------------------------------------------------------------------

void TBrisvanderMain::Log(std::string_view line) {
    if (log_)
        log_->Append(line);
}

std::string TBrisvanderMain::LogText() const {
    return log_ ? log_->Text() : std::string();
}

size_t TBrisvanderMain::LogPendingLines() const {
    return log_ ? log_->PendingLines() : 0;
}

void TBrisvanderMain::FlushLog() {
    if (log_)
        log_->Flush();
}

// ---- Parts wired to the handlers ------------------------------------------------------------

void TBrisvanderMain::RebuildTree(STOREFOLDERID wantedId) {
    tree_.Rebuild(namespace_.Get(), wantedId);
}

void TBrisvanderMain::TreeViewFoldersChange(HTREEITEM node) {
    selection_.Changed(node);
    reading_.RequestFollow();
}

void TBrisvanderMain::ToggleReadingPane() {
    // Made the first time it is asked for: until then the window holds exactly
    // the controls its layout lays out.
    if (!reading_.Handle()) {
        if (!reading_.Create(hwnd_, IDC_READINGPANE, font_.Get()))
            return;
        // In the tab order right after the list it reads from.
        SetWindowPos(reading_.Handle(), ListViewMessages(), 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    reading_.SetVisible(!reading_.Visible());
    LayoutControls();
}

bool TBrisvanderMain::PreTranslate(MSG& message) {
    if (message.message == WM_KEYDOWN && message.wParam == VK_F8 && hwnd_ &&
        (message.hwnd == hwnd_ || IsChild(hwnd_, message.hwnd))) {
        ToggleReadingPane();
        return true;
    }
    return messages_.PreTranslate(message) || reading_.PreTranslate(message);
}

void TBrisvanderMain::FillMessageList(STOREFOLDERID folderId) {
    selection_.FillList(folderId);
}

void TBrisvanderMain::RunCommand(UINT command) {
    switch (command) {
    case IDM_CREATESUBFOLDER1:
        folderCommands_.CreateSubFolder();
        break;
    case IDM_RENAME1:
        folderCommands_.Rename();
        break;
    case IDM_DELETE1:
        folderCommands_.Delete();
        break;
    case IDM_MOVE1:
        folderCommands_.Move();
        break;
    case IDM_MARKASREAD1:
        messageCommands_.MarkAsRead();
        break;
    case IDM_MARKASUNREAD1:
        messageCommands_.MarkAsUnread();
        break;
    case IDM_MOVETOFOLDER1:
        messageCommands_.MoveToFolder();
        break;
    case IDM_COPYTOFOLDER1:
        messageCommands_.CopyToFolder();
        break;
    case IDM_DELETE2:
        messageCommands_.Delete();
        break;
    case IDM_SAVETOFILE1:
        sourceCommands_.SaveToFile();
        break;
    case IDM_PROPERTIES1:
        sourceCommands_.Properties();
        break;
    default:
        break;
    }
}

// ---- Window procedures ---------------------------------------------------------------------

bool TBrisvanderMain::HandleViewNotify(const NMHDR* header, LRESULT& result) {
    if (!header)
        return false;
    if (drag_.HandleNotify(header))
        return true;
    if (header->hwndFrom && header->hwndFrom == TreeViewFolders())
        return HandleTreeNotify(header, result);
    if (header->hwndFrom && header->hwndFrom == ListViewMessages())
        return HandleListNotify(header, result);
    return false;
}

bool TBrisvanderMain::HandleTreeNotify(const NMHDR* header, LRESULT& result) {
    result = 0;
    switch (header->code) {
    case TVN_SELCHANGEDW:
    case TVN_SELCHANGEDA:
        selection_.Changed(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
        reading_.RequestFollow();
        return true;
    case TVN_BEGINLABELEDITW:
        // Non-zero refuses the edit.
        result = folderCommands_.Editing(reinterpret_cast<const NMTVDISPINFOW*>(header)->item.hItem)
                     ? FALSE
                     : TRUE;
        return true;
    case TVN_ENDLABELEDITW: {
        const TVITEMW& item = reinterpret_cast<const NMTVDISPINFOW*>(header)->item;
        folderCommands_.Edited(item.hItem, item.pszText);
        // The tree keeps its old text; a successful rename sets the new one.
        result = FALSE;
        return true;
    }
    case TVN_KEYDOWN:
        folderCommands_.KeyDown(reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey);
        return true;
    default:
        return false;
    }
}

bool TBrisvanderMain::HandleListNotify(const NMHDR* header, LRESULT& result) {
    if (header->code == LVN_ITEMCHANGED || header->code == LVN_ODSTATECHANGED)
        reading_.RequestFollow();
    if (header->code == LVN_KEYDOWN) {
        messageCommands_.KeyDown(reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey);
        result = 0;
        return true;
    }
    if (header->code == NM_RETURN) {
        sourceCommands_.Activate(messages_.MenuRow());
        result = 0;
        return true;
    }
    if (header->code == NM_DBLCLK) {
        sourceCommands_.Activate(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
        result = 0;
        return true;
    }
    return messages_.HandleNotify(header, result);
}

LRESULT TBrisvanderMain::OnContextMenu(HWND control, LPARAM position) {
    // -1 comes from the keyboard (the menu key, Shift+F10).
    const bool fromKeyboard = position == -1;
    const POINT at{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (control && control == TreeViewFolders())
        folderCommands_.ContextPopup(at, fromKeyboard);
    else if (control && control == ListViewMessages())
        messageCommands_.ContextPopup(at, fromKeyboard);
    else
        return DefaultProc(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), position);
    return 0;
}

void TBrisvanderMain::ReportError(const std::wstring& message) {
    modal_.ErrorBox(hwnd_, message);
}

LRESULT TBrisvanderMain::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // The router has handled a store notification by now: a shown message
    // that went, or its folder, leaves the pane at once.
    if (message == WM_FOLDERNOTIFY || (message >= WM_NEWMSGS && message <= WM_MARKEDASUNREAD))
        reading_.Follow();
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

    case WM_CTLCOLORSTATIC:
        return ColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));

    default: {
        LRESULT result = 0;
        if (RouteMessage(message, wParam, lParam, result))
            return result;
        break;
    }
    }
    return DefaultProc(message, wParam, lParam);
}

bool TBrisvanderMain::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    switch (message) {
    case WM_NOTIFY:
        return HandleViewNotify(reinterpret_cast<const NMHDR*>(lParam), result);

    case WM_SETCURSOR:
        result = TRUE;
        if (busy_.SetCursorIfBusy())
            return true;
        if (labelAbout_ && reinterpret_cast<HWND>(wParam) == labelAbout_) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return true;
        }
        return false;

    case WM_COMMAND:
        if (labelAbout_ && reinterpret_cast<HWND>(lParam) == labelAbout_ &&
            HIWORD(wParam) == STN_CLICKED) {
            ShowAbout(hwnd_, modal_);
            return true;
        }
        if (lParam == 0 && HIWORD(wParam) == 0) {
            RunCommand(LOWORD(wParam));
            return true;
        }
        return false;

    case WM_CONTEXTMENU:
        result = OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);
        return true;

    case WM_RENAMEEDITED:
        folderCommands_.RenameEdited();
        return true;

    case WM_TIMER:
        return busy_.OnTimer(wParam);

    default:
        return false;
    }
}
