// The store's notification messages: a log line each, and the tree and the
// list brought up to date. The router sits in front of the window's own
// procedure, which still receives every message.
#pragma once

#include "main/commands/FolderSelection.h"
#include "main/views/FolderTreeView.h"
#include "main/views/MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Window.h"

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string_view>

// Where log lines go.
using LogSink = std::function<void(std::string_view line)>;

class StoreNotifications {
  public:
    StoreNotifications(const ui::Window& window,
                       const Microsoft::WRL::ComPtr<IStoreNamespace>& store, FolderTreeView& tree,
                       MessageListView& messages, const FolderSelection& selection, LogSink log)
        : window_(window), store_(store), tree_(tree), messages_(messages), selection_(selection),
          log_(std::move(log)) {}
    StoreNotifications(const StoreNotifications&) = delete;
    StoreNotifications& operator=(const StoreNotifications&) = delete;

    // Puts `dispatcher` in place of the window's procedure, keeping the one it replaces.
    void Install(WNDPROC dispatcher);
    // The window's own procedure, which the dispatcher passes every message on to.
    WNDPROC Previous() const { return previous_; }
    // Runs the handler for the five store codes; other messages are left alone.
    void Handle(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    void OnNewMessages(WPARAM wParam, LPARAM lParam);
    void OnDeleteMessage(WPARAM wParam);
    void OnMarked(bool read, WPARAM wParam);
    void OnFolderChange(LPARAM lParam);
    void RebuildAfterDeletion(STOREFOLDERID deletedId);
    void Log(std::string_view line) const;

    const ui::Window& window_;
    const Microsoft::WRL::ComPtr<IStoreNamespace>& store_;
    FolderTreeView& tree_;
    MessageListView& messages_;
    const FolderSelection& selection_;
    LogSink log_;
    WNDPROC previous_ = nullptr;
};
