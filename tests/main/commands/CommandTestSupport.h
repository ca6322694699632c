// Driving the context menus and the folder dialog of the real window through
// the scripted modal host.
#pragma once

#include "storeui/FolderTree.h"
#include "MainUnitTestSupport.h"
#include "RunLater.h"
#include "UnitFoldersList.h"

#include <algorithm>
#include <string>
#include <vector>

namespace maintest {

class CommandTest : public MainWindowTest {
  protected:
    HWND Tree() const { return window_->TreeViewFolders(); }
    HWND List() const { return window_->ListViewMessages(); }

    // A right-click at a point of a control, as the window receives it.
    void RightClick(HWND control, POINT client) {
        ClientToScreen(control, &client);
        SendMessageW(window_->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control),
                     MAKELPARAM(client.x, client.y));
    }
    void RightClickNode(STOREFOLDERID id) {
        HTREEITEM node = folder_tree::FindNode(Tree(), id);
        ASSERT_NE(node, nullptr);
        RECT label{};
        ASSERT_TRUE(TreeView_GetItemRect(Tree(), node, &label, TRUE));
        RightClick(Tree(), {(label.left + label.right) / 2, (label.top + label.bottom) / 2});
    }
    void RightClickRow(int row) {
        RECT bounds{};
        ASSERT_TRUE(ListView_GetItemRect(List(), row, &bounds, LVIR_LABEL));
        RightClick(List(), {(bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2});
    }
    // The menu key or Shift+F10 on a control.
    void MenuKey(HWND control) {
        SendMessageW(window_->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), -1);
    }
    // Chooses `command` when the next menu opens, after running `during`.
    void ChooseFromMenu(UINT command, std::function<void()> during = {}) {
        modal_.menuScripts.push_back([command, during] {
            if (during)
                during();
            return command;
        });
    }
    // A dialog script that works on the folder dialog, then answers.
    void OnFolderDialog(std::function<INT_PTR(TFormFoldersList&)> script) {
        modal_.dialogScripts.push_back([script](ui::ModalDialog& dialog) {
            return script(dynamic_cast<TFormFoldersList&>(dialog));
        });
    }
    // What the modal host showed, by kind, in order.
    std::vector<storedouble::ScriptedModalHost::Shown> Shown(const std::wstring& kind) const {
        std::vector<storedouble::ScriptedModalHost::Shown> picked;
        for (const auto& shown : modal_.shown)
            if (shown.kind == kind)
                picked.push_back(shown);
        return picked;
    }
    std::vector<std::string> CallsOf(const std::string& method) const {
        std::vector<std::string> picked;
        for (const std::string& call : store_->Calls())
            if (call.rfind(method + "(", 0) == 0)
                picked.push_back(call);
        return picked;
    }
};

using storedouble::Later;

// Selects a node of the dialog's tree and reports whether OK may be pressed.
inline bool CanConfirm(TFormFoldersList& dialog, STOREFOLDERID id) {
    HTREEITEM node = folder_tree::FindNode(dialog.TreeViewFolders(), id);
    if (!node)
        return false;
    TreeView_SelectItem(dialog.TreeViewFolders(), node);
    return IsWindowEnabled(dialog.ButtonOK()) != FALSE;
}

// Presses the dialog's real OK button.
inline INT_PTR PressOK(TFormFoldersList& dialog) {
    SendMessageW(dialog.ButtonOK(), BM_CLICK, 0, 0);
    return IDOK;
}

} // namespace maintest
