// The main window: folder tree, folder panel, message list and log, and the
// connection to the store that it owns.
#pragma once

#include "DragDrop.h"
#include "FolderPanel.h"
#include "FolderTreeView.h"
#include "MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Handles.h"
#include "ui/Window.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class LogPanel;
namespace ui {
class ModalHost;
}

// How the window obtains its store namespace; tests hand in their own.
using StoreFactory = std::function<HRESULT(IStoreNamespace** result)>;

// The production factory: the store's class, no outer object, context 1; the server
// DLL beside the program when the class is not registered.
HRESULT CreateSystemStore(IStoreNamespace** result);

// Command ids of the two context menus' entries.
enum MainCommand : UINT {
    IDM_CREATESUBFOLDER1 = 40001,
    IDM_RENAME1,
    IDM_DELETE1,
    IDM_MOVE1,
    IDM_MARKASREAD1 = 40101,
    IDM_MARKASUNREAD1,
    IDM_MOVETOFOLDER1,
    IDM_COPYTOFOLDER1,
    IDM_DELETE2,
    IDM_SAVETOFILE1,
    IDM_PROPERTIES1,
};

// Child window ids; also the order the layout code creates them in.
enum MainControl : int {
    IDC_MEMOINFO = 1001,
    IDC_TREEVIEWFOLDERS,
    IDC_GROUPBOX1,
    IDC_LISTVIEWMESSAGES,
    IDC_LABELFOLDERS,
    IDC_LABELMESSAGES,
    IDC_LABELABOUT,
};

class TBrisvanderMain final : public ui::Window {
  public:
    static constexpr wchar_t kClassName[] = L"TBrisvanderMain";
    static constexpr wchar_t kCaption[] = L"Brisvander";
    static constexpr int kInitialWidth = 689;
    static constexpr int kInitialHeight = 480;
    static constexpr int kMinWidth = 680;
    static constexpr int kMinHeight = 450;

    explicit TBrisvanderMain(StoreFactory factory = CreateSystemStore,
                             ui::ModalHost* modal = nullptr);
    ~TBrisvanderMain() override;
    TBrisvanderMain(const TBrisvanderMain&) = delete;
    TBrisvanderMain& operator=(const TBrisvanderMain&) = delete;

    // Creates the window (running the start-up steps) and shows it.
    bool Create(HINSTANCE instance, int showCommand);
    // Destroys the window (running the teardown steps); safe to call twice.
    void Destroy();
    HWND Handle() const { return hwnd_; }
    // The program ends its message loop when this window goes.
    void QuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }
    ui::ModalHost& Modal() const;

    // ---- State, owned by the window ------------------------------------------------
    IStoreNamespace* Namespace() const { return namespace_.Get(); }
    IStoreFolder* OpenedFolder() const { return openFolder_.Get(); }
    STOREFOLDERID CurrentFolderId() const { return currentFolderId_; }
    bool SuppressTreeChange() const { return tree_.Suppressed(); }

    // ---- Controls: each view owns its own; these name them ---------------------------
    HWND LabelFolders = nullptr;
    HWND LabelMessages = nullptr;
    HWND LabelAbout = nullptr;
    HWND TreeViewFolders = nullptr;
    HWND GroupBox1 = nullptr;
    HWND ListViewMessages = nullptr;
    HWND MemoInfo = nullptr;
    HMENU PopupMenuFolders = nullptr;       // owned by menuFolders_
    HMENU PopupMenuMessages = nullptr;      // owned by menuMessages_
    HIMAGELIST ImageListFolders = nullptr;  // owned by imagesFolders_
    HIMAGELIST ImageListMessages = nullptr; // owned by imagesMessages_

    // ---- Views ------------------------------------------------------------------------
    FolderTreeView& Tree() { return tree_; }
    FolderPanel& Panel() { return panel_; }
    MessageListView& Messages() { return messages_; }
    MessageRows& Rows() { return messages_.Rows(); }

    // ---- Log panel ---------------------------------------------------------------------
    // Appends one line; lines show in order, are never cleared.
    void Log(std::string_view line);
    // The log's whole text as the panel will show it (pending lines included).
    std::string LogText() const;
    // Shows pending lines now instead of when the queue is next idle.
    void FlushLog();

    // ---- Folder tree, panel and list (Views.cpp) -----------------------------------------
    // Empties and refills the main tree from the store and selects the wanted folder.
    void RebuildTree(STOREFOLDERID wantedId);
    void ShowFolderPanel(STOREFOLDERID folderId);
    void TreeViewFoldersChange(HTREEITEM node);
    void FillMessageList(STOREFOLDERID folderId);

    // ---- Store notifications (StoreNotify.cpp) -----------------------------------------
    // Runs before every message is passed on to the saved window procedure.
    void HandleStoreMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // ---- Folder commands (FolderCommands.cpp) --------------------------------------------
    // Opens the folder menu for the node at `screen`, or beside the selected
    // node when `fromKeyboard`, and runs the chosen command.
    void TreeViewFoldersContextPopup(POINT screen, bool fromKeyboard);
    void CreateSubFolder1Click();
    void Rename1Click();
    void Delete1Click();
    void Move1Click();
    // The context folder: kept by id and name, never by node, because a
    // notification inside any modal window may rebuild the tree.
    struct ContextFolder {
        STOREFOLDERID id = 0;
        std::wstring name;
    };
    const std::optional<ContextFolder>& Context() const { return context_; }

    // ---- Message commands (MessageCommands.cpp) ------------------------------------------
    // Adjusts and opens the message menu for the row at `screen`, or beside
    // the selected row when `fromKeyboard`, and runs the chosen command.
    void ListViewMessagesContextPopup(POINT screen, bool fromKeyboard);
    void Markasread1Click();
    void Markasunread1Click();
    void Movetofolder1Click();
    void Copytofolder1Click();
    void Delete2Click();

    // The step after the folder dialog, shared with a drop on the tree
    // (MessageCommands.cpp, FolderCommands.cpp).
    void CopyMoveSelectedTo(STOREFOLDERID targetId, bool move);
    void MoveFolderTo(STOREFOLDERID id, STOREFOLDERID parentId);
    // While rows or a folder are dragged (DragCommands.cpp).
    bool Dragging() const { return drag_.Active(); }

    // ---- Message properties, saving and About (MessageSourceCommands.cpp) -----------------
    void Properties1Click();
    void Savetofile1Click();
    // Opens the About box.
    void LabelAboutClick();

    // Runs a menu command as if chosen from a menu.
    void RunCommand(UINT command);
    // The hourglass over the window from now until no posted message waits
    // in its queue: a mass change's notifications have all been handled.
    void BusyUntilIdle();
    bool Busy() const { return busy_; }

  private:
    // Posted when the tree ends an in-place edit, so the checks and their
    // boxes run once the edit is gone.
    static constexpr UINT kRenameEdited = WM_APP + 1;
    // Comes only once nothing else waits in the queue (see BusyUntilIdle).
    static constexpr UINT_PTR kIdleTimer = 1;

    static LRESULT CALLBACK StoreDispatcher(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void ReportError(const std::wstring& message) override;

    void CreateControls();
    void LayoutControls();
    LRESULT ColorStatic(HDC dc, HWND control);
    void RememberFocus();
    void RestoreFocus();
    void FormCreate();
    void FormDestroy();
    // Image lists, tree images and list columns (Views.cpp).
    void SetUpViews();
    // The tree's and the list's notifications (Views.cpp); false for those
    // left alone.
    bool HandleViewNotify(const NMHDR* header, LRESULT& result);
    bool HandleTreeNotify(const NMHDR* header, LRESULT& result);
    bool HandleListNotify(const NMHDR* header, LRESULT& result);
    LRESULT OnContextMenu(HWND control, LPARAM position);

    // One handler per store message code (StoreNotify.cpp).
    void OnNewMessages(WPARAM wParam, LPARAM lParam);
    void OnDeleteMessage(WPARAM wParam);
    void OnMarked(bool read, WPARAM wParam);
    void OnFolderChange(LPARAM lParam);
    void RebuildAfterDeletion(STOREFOLDERID deletedId);

    // Folder command steps (FolderCommands.cpp).
    bool TreeViewFoldersEditing(HTREEITEM node);
    void TreeViewFoldersEdited(HTREEITEM node, const wchar_t* newText);
    void RenameEdited();
    void TreeViewFoldersKeyDown(WORD key);
    // Message command steps (MessageCommands.cpp).
    void MarkSelected(BOOL read);
    void CopyMoveSelected(bool move);
    void ListViewMessagesKeyDown(WORD key);
    // Starts a drag, or ends one with Escape; false for other notifications.
    bool HandleDragNotify(const NMHDR* header);
    // Enter or a double-click on a row shows its properties (MessageSourceCommands.cpp).
    void ListViewMessagesActivate(int row);

    StoreFactory factory_;
    ui::ModalHost* modal_;
    bool quitOnDestroy_ = false;
    bool busy_ = false;

    ui::UniqueFont font_;
    ui::UniqueFont boldFont_;
    ui::UniqueFont linkFont_;
    ui::UniqueMenu menuFolders_;
    ui::UniqueMenu menuMessages_;
    ui::UniqueImageList imagesFolders_;
    ui::UniqueImageList imagesMessages_;
    SIZE designClient_{}; // client size the control places refer to
    int dpi_ = 96;        // the screen's, when the window was made

    Microsoft::WRL::ComPtr<IStoreNamespace> namespace_;
    Microsoft::WRL::ComPtr<IStoreFolder> openFolder_;
    STOREFOLDERID currentFolderId_ = 0;
    HWND lastFocus_ = nullptr; // the child that had the focus when the window went inactive
    std::optional<ContextFolder> context_;
    // An in-place rename the tree ended, checked once the edit is gone.
    struct PendingRename {
        STOREFOLDERID id = 0;
        std::wstring text;
    };
    std::optional<PendingRename> pendingRename_;
    WNDPROC previousWindowProc_ = nullptr;

    FolderTreeView tree_;
    FolderPanel panel_;
    MessageListView messages_;
    std::unique_ptr<LogPanel> log_;
    DragDrop drag_;
};
