// The main window: it owns the connection to the store, creates its parts
// (folder tree and panel, message list, log, the folder selection, the
// commands and the store-notification router) and wires the window's
// messages and event handlers to them.
#pragma once

#include "ui/WaitCursor.h"
#include "main/commands/MainWindowIds.h"
#include "main/commands/DragCommands.h"
#include "main/commands/FolderCommands.h"
#include "main/views/FolderPanel.h"
#include "main/commands/FolderSelection.h"
#include "main/views/FolderTreeView.h"
#include "main/commands/MessageCommands.h"
#include "main/views/MessageListView.h"
#include "main/views/ReadingPane.h"
#include "main/commands/AttachmentCommands.h"
#include "main/commands/MessageSourceCommands.h"
#include "main/StoreNotify.h"
#include "store/StoreApi.h"
#include "ui/Handles.h"
#include "ui/Window.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class LogPanel;
namespace ui {
class ModalHost;
}

// How the window obtains its store namespace; tests hand in their own.
using StoreFactory = std::function<HRESULT(IStoreNamespace** result)>;

// The production factory: the store's class, no outer object, context 1; the server
// DLL beside the program when the class is not registered.
HRESULT CreateSystemStore(IStoreNamespace** result);

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
    // The keys the window takes before the dialog manager does (F8, the find
    // box's, the reading pane's), for the message loop; true when handled.
    bool PreTranslate(MSG& message);

    // ---- State --------------------------------------------------------------------------
    IStoreNamespace* Namespace() const { return namespace_.Get(); }
    IStoreFolder* OpenedFolder() const { return selection_.OpenedFolder(); }
    STOREFOLDERID CurrentFolderId() const { return selection_.CurrentFolderId(); }
    bool SuppressTreeChange() const { return tree_.Suppressed(); }

    // ---- Controls, each read from its owner ---------------------------------------------
    HWND LabelFolders() const { return labelFolders_; }
    HWND LabelMessages() const { return labelMessages_; }
    HWND LabelAbout() const { return labelAbout_; }
    HWND TreeViewFolders() const { return tree_.Handle(); }
    HWND GroupBox1() const { return panel_.GroupBox(); }
    HWND ListViewMessages() const { return messages_.Handle(); }
    HWND MemoInfo() const;
    HMENU PopupMenuFolders() const { return folderCommands_.Menu(); }
    HMENU PopupMenuMessages() const { return messageCommands_.Menu(); }
    HIMAGELIST ImageListFolders() const { return imagesFolders_.Get(); }
    HIMAGELIST ImageListMessages() const { return imagesMessages_.Get(); }

    // ---- Views ------------------------------------------------------------------------
    FolderTreeView& Tree() { return tree_; }
    FolderPanel& Panel() { return panel_; }
    MessageListView& Messages() { return messages_; }
    MessageRows& Rows() { return messages_.Rows(); }
    ReadingPane& Reading() { return reading_; }
    // F8: the reading pane below the message list, on or off.
    void ToggleReadingPane();

    // ---- Log panel ---------------------------------------------------------------------
    // Appends one line; lines show in order, are never cleared.
    void Log(std::string_view line);
    // The log's whole text as the panel will show it (pending lines included).
    std::string LogText() const;
    // Shows pending lines now instead of when the queue is next idle.
    void FlushLog();
    // Lines the log has yet to show.
    size_t LogPendingLines() const;

    // ---- Folder tree, panel and list ----------------------------------------------------
    // Empties and refills the main tree from the store and selects the wanted folder.
    void RebuildTree(STOREFOLDERID wantedId);
    // The tree's selection changed to `node`, as the tree reports it.
    void TreeViewFoldersChange(HTREEITEM node);
    // Opens the folder and lists its messages, as selecting it does.
    void FillMessageList(STOREFOLDERID folderId);

    // Runs a menu command as if chosen from a menu.
    void RunCommand(UINT command);
    // The hourglass after a mass change, until its notifications have all been handled.
    bool Busy() const { return busy_.Busy(); }
    // While rows or a folder are dragged onto the tree.
    bool Dragging() const { return drag_.Active(); }
    // Keys and right-clicks during a drag, before the loop's dialog keys see them.
    bool PreTranslateDrag(const MSG& message) { return drag_.PreTranslate(message); }

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The messages that reach the parts; false for those left to the default.
    bool RouteMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void ReportError(const std::wstring& message) override;

    void CreateControls();
    void LayoutControls();
    LRESULT ColorStatic(HDC dc, HWND control);
    void RememberFocus();
    void RestoreFocus();
    void FormCreate();
    void FormDestroy();
    // Lends the namespace to the parts that call the store, or takes it back.
    void ConnectParts(IStoreNamespace* store);
    // Image lists, tree images and list columns.
    void SetUpViews();
    // The tree's and the list's notifications; false for those left alone.
    bool HandleViewNotify(const NMHDR* header, LRESULT& result);
    bool HandleTreeNotify(const NMHDR* header, LRESULT& result);
    bool HandleListNotify(const NMHDR* header, LRESULT& result);
    LRESULT OnContextMenu(HWND control, LPARAM position);

    StoreFactory factory_;
    ui::ModalHost& modal_;
    bool quitOnDestroy_ = false;

    ui::UniqueFont font_;
    ui::UniqueFont boldFont_;
    ui::UniqueFont linkFont_;
    ui::UniqueImageList imagesFolders_;
    ui::UniqueImageList imagesMessages_;
    SIZE designClient_{};      // client size the control places refer to
    int dpi_ = 96;             // the screen's, when the window was made
    HWND lastFocus_ = nullptr; // the child that had the focus when the window went inactive

    // The window's own controls; the children go with it.
    HWND labelFolders_ = nullptr;
    HWND labelMessages_ = nullptr;
    HWND labelAbout_ = nullptr;

    // Made at start-up; the parts below read it through this member.
    Microsoft::WRL::ComPtr<IStoreNamespace> namespace_;

    // The parts, in the order they depend on each other.
    FolderTreeView tree_;
    FolderPanel panel_;
    MessageListView messages_;
    std::unique_ptr<LogPanel> log_;
    ui::IdleWaitCursor busy_;
    FolderSelection selection_;
    StoreNotifications notifications_;
    FolderCommands folderCommands_;
    MessageCommands messageCommands_;
    MessageSourceCommands sourceCommands_;
    DragCommands drag_;
    ReadingPane reading_;
    AttachmentCommands attachments_;
};
