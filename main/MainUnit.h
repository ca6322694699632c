// The main window: folder tree, folder panel, message list and log, and the
// connection to the store that it owns.
#pragma once

#include "StoreApi.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class LogPanel;
class MessageRows;
namespace ui {
class ModalHost;
}

// How the window obtains its store namespace; tests hand in their own.
using StoreFactory = std::function<HRESULT(IStoreNamespace** result)>;

// The production factory: the store's class, no outer object, context 1.
HRESULT CreateSystemStore(IStoreNamespace** result);

class TBrisvanderMain {
  public:
    explicit TBrisvanderMain(StoreFactory factory = CreateSystemStore,
                             ui::ModalHost* modal = nullptr);
    ~TBrisvanderMain();
    TBrisvanderMain(const TBrisvanderMain&) = delete;
    TBrisvanderMain& operator=(const TBrisvanderMain&) = delete;

    // Creates the window (running the start-up steps) and shows it.
    bool Create(HINSTANCE instance, int showCommand);
    // Destroys the window (running the teardown steps); safe to call twice.
    void Destroy();
    HWND Handle() const { return hwnd_; }

    // ---- State, owned by the window ------------------------------------------------
    IStoreNamespace* Namespace() const { return namespace_.Get(); }
    IStoreFolder* OpenedFolder() const { return openFolder_.Get(); }
    STOREFOLDERID CurrentFolderId() const { return currentFolderId_; }
    bool SuppressTreeChange() const { return suppressTreeChange_; }

    // ---- Controls --------------------------------------------------------------------
    HWND LabelFolders = nullptr;
    HWND LabelMessages = nullptr;
    HWND LabelAbout = nullptr;
    HWND TreeViewFolders = nullptr;
    HWND GroupBox1 = nullptr;
    HWND LabelFolderId = nullptr;
    HWND LabelcSubFolders = nullptr;
    HWND LabelFolderType = nullptr;
    HWND LabelcMessage = nullptr;
    HWND LabelcUnread = nullptr;
    HWND ListViewMessages = nullptr;
    HWND MemoInfo = nullptr;
    HMENU PopupMenuFolders = nullptr;  // owned by menus_
    HMENU PopupMenuMessages = nullptr; // owned by menus_
    HIMAGELIST ImageListFolders = nullptr;  // owned by images_
    HIMAGELIST ImageListMessages = nullptr; // owned by images_

    // ---- Log panel (LogPanel.cpp) --------------------------------------------------------
    // Appends one line; lines show in order, are never cleared.
    void Log(std::string_view line);
    // The log's whole text as the panel will show it (pending lines included).
    std::string LogText() const;

    // ---- Folder tree and panel (FolderTree.cpp) ----------------------------------------
    // Empties and refills `tree` from the store and selects the wanted folder.
    void RebuildTree(HWND tree, STOREFOLDERID wantedId);
    void ShowFolderPanel(STOREFOLDERID folderId);
    void TreeViewFoldersChange(HTREEITEM node);

    // ---- Message list (MessageList.cpp) ------------------------------------------------
    void FillMessageList(STOREFOLDERID folderId);
    MessageRows& Rows() { return *rows_; }

    // ---- Store notifications (StoreNotify.cpp) -----------------------------------------
    // Runs before every message is passed on to the saved window procedure.
    void HandleStoreMessage(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK StoreDispatcher(HWND hwnd, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void FormCreate();
    void FormDestroy();

    StoreFactory factory_;
    ui::ModalHost* modal_;
    HWND hwnd_ = nullptr;

    Microsoft::WRL::ComPtr<IStoreNamespace> namespace_;
    Microsoft::WRL::ComPtr<IStoreFolder> openFolder_;
    STOREFOLDERID currentFolderId_ = 0;
    bool suppressTreeChange_ = false;
    HTREEITEM contextNode_ = nullptr;
    WNDPROC previousWindowProc_ = nullptr;

    std::unique_ptr<LogPanel> log_;
    std::unique_ptr<MessageRows> rows_;
};
