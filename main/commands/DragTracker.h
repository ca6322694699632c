// The mouse side of dragging message rows or a folder onto a folder of the
// main tree: the picture, the target under the pointer, the drop. Nothing
// changes until the drop; the store call is the owner's, through `Drop`. No
// node is kept across the drag: a notification may rebuild the tree meanwhile.
#pragma once

#include "store/StoreApi.h"
#include "ui/Handles.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

namespace drop_rules {

// Rows go to any folder but the one they are listed from.
bool RowsMayDrop(STOREFOLDERID current, STOREFOLDERID target);
// As the folder menu's "Move" allows: a plain folder, into a folder that is
// neither inside its own sub-tree nor its parent and has no child of exactly
// its name. Both are looked up in `tree` by id.
bool FolderMayDrop(HWND tree, STOREFOLDERID moved, STOREFOLDERID target);

} // namespace drop_rules

// A picture of an item for the pointer to carry: its icon and its text.
HIMAGELIST MakeDragImage(HWND control, HIMAGELIST icons, int icon, std::wstring text);

class DragTracker {
  public:
    using Allowed = std::function<bool(STOREFOLDERID target)>;
    // `copy` is true when Ctrl was held at the drop.
    using Drop = std::function<void(STOREFOLDERID target, bool copy)>;
    // The pointer left the window: the drag goes on in the system's loop.
    using Leave = std::function<void()>;

    DragTracker() = default;
    ~DragTracker() { Cancel(); }
    DragTracker(const DragTracker&) = delete;
    DragTracker& operator=(const DragTracker&) = delete;

    // Starts a drag shown with `image` (taken over) whose hot spot is
    // `hotSpot` inside it; the owner gets the mouse until the drop.
    void Begin(HWND owner, HWND tree, HIMAGELIST image, POINT hotSpot, Allowed allowed, Drop drop,
               Leave leave = nullptr);
    bool Active() const { return owner_ != nullptr; }
    // The owner's mouse, key, timer and capture messages while a drag is on;
    // false for those it leaves alone.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Every queued message before the loop dispatches it: keys go to the
    // drag (Escape ends it), a right-click ends it and its release is eaten.
    // True for those it took.
    bool PreTranslate(const MSG& message);
    // Ends the drag without a drop (Escape, lost capture).
    void Cancel();
    // The folder under a point of the owner's client area; 0 over no folder.
    STOREFOLDERID TargetAt(POINT client) const;

  private:
    HTREEITEM NodeAt(POINT client) const;
    // `aim`: the user pointed (a move, a scroll); otherwise only the tree
    // changed under a resting pointer, which points at nothing new.
    void Track(POINT client, bool aim);
    // Scrolls the tree near its edges and opens a folder hovered over a while.
    void Hover();
    bool Outside(POINT client) const;
    void DropAt(POINT client, bool copy);
    void Finish();

    HWND owner_ = nullptr;
    HWND tree_ = nullptr;
    ui::UniqueImageList image_;
    Allowed allowed_;
    Drop drop_;
    Leave leave_;
    bool eatRightUp_ = false;
    STOREFOLDERID aimed_ = 0;   // the folder the user last pointed at
    POINT aimedAt_{-1, -1};     // from there
    STOREFOLDERID hovered_ = 0; // the folder under the pointer since hoverSince_
    DWORD hoverSince_ = 0;
};
