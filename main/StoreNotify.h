// The store's notification messages: a log line each, and the tree and the
// list brought up to date. The router sits in front of the window's own
// procedure as a subclass, and passes every message on to it; a folder change
// goes on without its record, which the router has freed by then.
#pragma once

#include "main/commands/FolderSelection.h"
#include "main/views/FolderTreeView.h"
#include "main/views/MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Window.h"

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <string_view>

// Where log lines go.
using LogSink = std::function<void(std::string_view line)>;
// Where the text of an exception a handler let out goes.
using ErrorSink = std::function<void(const std::wstring& text)>;

class StoreNotifications {
  public:
    StoreNotifications(const ui::Window& window, FolderTreeView& tree, MessageListView& messages,
                       const FolderSelection& selection, LogSink log, ErrorSink error)
        : window_(window), tree_(tree), messages_(messages), selection_(selection),
          log_(std::move(log)), error_(std::move(error)) {}
    ~StoreNotifications() { Remove(); }
    StoreNotifications(const StoreNotifications&) = delete;
    StoreNotifications& operator=(const StoreNotifications&) = delete;

    // Puts the router in front of the window's own procedure; it takes itself
    // away when the window goes (or at Remove).
    bool Install();
    void Remove();
    // The window's namespace once start-up made it; null again at teardown.
    void Connect(IStoreNamespace* store) { store_ = store; }

  private:
    static LRESULT CALLBACK Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    // Runs the handler for the five store codes; other messages are left alone.
    void Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Whether a close waits in the queue behind a store notification.
    bool CloseWaiting(HWND hwnd, UINT message);
    // Hands a message taken from the queue on to the window's own procedure.
    void PassOn(const MSG& taken);
    void OnNewMessages(WPARAM wParam, LPARAM lParam);
    void OnDeleteMessage(WPARAM wParam);
    void OnMarked(bool read, WPARAM wParam);
    void OnFolderChange(LPARAM lParam);
    void RebuildAfterDeletion(STOREFOLDERID deletedId);
    void Log(std::string_view line) const;

    const ui::Window& window_;
    FolderTreeView& tree_;
    MessageListView& messages_;
    const FolderSelection& selection_;
    LogSink log_;
    ErrorSink error_;
    // The window's namespace, lent from start-up to teardown (Connect); a
    // step that outlives a modal window takes its own reference.
    IStoreNamespace* store_ = nullptr;
    HWND installed_ = nullptr; // the window the router sits in front of
    bool passingOn_ = false;   // the next message is one PassOn sends
    unsigned sinceCloseLook_ = 0;
};
