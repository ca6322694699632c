#include "main/commands/DragTracker.h"

#include "storeui/FolderTree.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

namespace drop_rules {

bool RowsMayDrop(STOREFOLDERID current, STOREFOLDERID target) {
    return static_cast<LONG>(target) > 0 && target != current;
}

bool FolderMayDrop(HWND tree, STOREFOLDERID moved, STOREFOLDERID target) {
    if (static_cast<LONG>(target) <= 0)
        return false;
    HTREEITEM node = folder_tree::FindNode(tree, moved);
    HTREEITEM into = folder_tree::FindNode(tree, target);
    if (!node || !into || folder_tree::NodeImage(tree, node) != 0)
        return false;
    if (TreeView_GetParent(tree, node) == into)
        return false;
    for (HTREEITEM up = into; up; up = TreeView_GetParent(tree, up))
        if (up == node)
            return false;
    return !folder_tree::HasChildNamed(tree, into, folder_tree::NodeText(tree, node));
}

} // namespace drop_rules

namespace {

// The drag image is placed relative to the owner's window frame, not its
// client area.
POINT FramePoint(HWND owner, POINT client) {
    ClientToScreen(owner, &client);
    RECT frame{};
    GetWindowRect(owner, &frame);
    return {client.x - frame.left, client.y - frame.top};
}

constexpr COLORREF kClear = RGB(255, 0, 255);
constexpr UINT_PTR kHoverTimer = 0x4447;
constexpr UINT kHoverTick = 100;  // ms between scroll steps near an edge
constexpr DWORD kOpenAfter = 800; // ms over a closed folder before it opens

POINT CursorIn(HWND owner) {
    POINT at{};
    GetCursorPos(&at);
    ScreenToClient(owner, &at);
    return at;
}

} // namespace

// Built here rather than asked of the controls: the pictures they make have
// no mask, and some drag implementations then show nothing at all.
HIMAGELIST MakeDragImage(HWND control, HIMAGELIST icons, int icon, std::wstring text) {
    // A long subject would carry a picture wider than the window.
    constexpr size_t kLongest = 60;
    if (text.size() > kLongest)
        text = text.substr(0, kLongest) + L"...";
    ui::WindowDC screen(control);
    HDC memory = CreateCompatibleDC(screen.Get());
    if (!memory)
        return nullptr;
    HGDIOBJ oldFont =
        SelectObject(memory, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(memory, text.c_str(), static_cast<int>(text.size()), &extent);
    int iconWidth = 0;
    int iconHeight = 0;
    ImageList_GetIconSize(icons, &iconWidth, &iconHeight);
    const int width = iconWidth + 4 + extent.cx;
    const int height = std::max(iconHeight, static_cast<int>(extent.cy));
    HIMAGELIST image = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 1, 0);
    ui::UniqueBitmap picture(CreateCompatibleBitmap(screen.Get(), width, height));
    if (image && picture) {
        HGDIOBJ oldBitmap = SelectObject(memory, picture.Get());
        // Only the icon's surround is see-through: smoothed letters on the
        // mask colour would keep a tint of it.
        RECT all{0, 0, width, height};
        FillRect(memory, &all, GetSysColorBrush(COLOR_WINDOW));
        RECT iconPlace{0, 0, iconWidth, height};
        ui::UniqueBrush clear(CreateSolidBrush(kClear));
        FillRect(memory, &iconPlace, clear.Get());
        ImageList_Draw(icons, icon, memory, 0, (height - iconHeight) / 2, ILD_TRANSPARENT);
        SetBkMode(memory, TRANSPARENT);
        SetTextColor(memory, GetSysColor(COLOR_WINDOWTEXT));
        TextOutW(memory, iconWidth + 4, (height - extent.cy) / 2, text.c_str(),
                 static_cast<int>(text.size()));
        SelectObject(memory, oldBitmap);
        ImageList_AddMasked(image, picture.Get(), kClear);
    }
    SelectObject(memory, oldFont);
    DeleteDC(memory);
    return image;
}

void DragTracker::Begin(HWND owner, HWND tree, HIMAGELIST image, POINT hotSpot, Allowed allowed,
                        Drop drop, Leave leave) {
    Cancel();
    ui::UniqueImageList picture(image);
    if (!owner || !tree)
        return;
    image_ = std::move(picture);
    owner_ = owner;
    tree_ = tree;
    allowed_ = std::move(allowed);
    drop_ = std::move(drop);
    leave_ = std::move(leave);
    hovered_ = 0;
    SetTimer(owner, kHoverTimer, kHoverTick, nullptr);
    const POINT at = CursorIn(owner);
    if (image_ && ImageList_BeginDrag(image_.Get(), 0, hotSpot.x, hotSpot.y)) {
        const POINT frame = FramePoint(owner, at);
        ImageList_DragEnter(owner, frame.x, frame.y);
    } else {
        image_.Reset();
    }
    SetCapture(owner);
    Track(at, true);
}

bool DragTracker::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!Active())
        return false;
    const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
    case WM_MOUSEMOVE:
        if (leave_ && Outside(at)) {
            const Leave leave = std::move(leave_);
            Finish();
            leave();
            return true;
        }
        Track(at, true);
        return true;
    case WM_TIMER:
        if (wParam != kHoverTimer)
            return false;
        Hover();
        return true;
    case WM_LBUTTONUP:
        DropAt(at, (wParam & MK_CONTROL) != 0);
        return true;
    case WM_KEYDOWN:
        if (wParam != VK_ESCAPE)
            return false;
        Cancel();
        return true;
    case WM_CAPTURECHANGED:
        // Another window took the mouse (a box, a menu, the task switcher).
        if (reinterpret_cast<HWND>(lParam) != owner_)
            Cancel();
        return false;
    case WM_CANCELMODE:
        Cancel();
        return false;
    default:
        return false;
    }
}

bool DragTracker::PreTranslate(const MSG& message) {
    const UINT m = message.message;
    if (eatRightUp_ && (m == WM_RBUTTONUP || m == WM_NCRBUTTONUP || m == WM_CONTEXTMENU)) {
        eatRightUp_ = m == WM_CONTEXTMENU;
        return true;
    }
    if (!Active())
        return false;
    if (m == WM_KEYDOWN || m == WM_SYSKEYDOWN) {
        if (message.wParam == VK_ESCAPE)
            Cancel();
        return message.wParam != VK_MENU; // Alt goes on, so Alt+Tab still switches
    }
    if (m == WM_KEYUP || m == WM_CHAR || m == WM_SYSCHAR)
        return true;
    if (m == WM_RBUTTONDOWN || m == WM_NCRBUTTONDOWN) {
        Cancel();
        eatRightUp_ = true;
        return true;
    }
    return false;
}

void DragTracker::Cancel() {
    Finish();
}

bool DragTracker::Outside(POINT client) const {
    POINT screen = client;
    ClientToScreen(owner_, &screen);
    RECT frame{};
    GetWindowRect(owner_, &frame);
    return !PtInRect(&frame, screen);
}

void DragTracker::Hover() {
    const POINT at = CursorIn(owner_);
    POINT inTree = at;
    MapWindowPoints(owner_, tree_, &inTree, 1);
    RECT inside{};
    GetClientRect(tree_, &inside);
    const int band = std::max(8, static_cast<int>(TreeView_GetItemHeight(tree_)));
    const bool across = inTree.x >= inside.left && inTree.x < inside.right;
    int step = -1;
    if (across && inTree.y >= inside.top - band / 2 && inTree.y < inside.top + band)
        step = SB_LINEUP;
    else if (across && inTree.y >= inside.bottom - band && inTree.y < inside.bottom + band / 2)
        step = SB_LINEDOWN;
    if (step >= 0) {
        ImageList_DragShowNolock(FALSE);
        SendMessageW(tree_, WM_VSCROLL, MAKEWPARAM(step, 0), 0);
        UpdateWindow(tree_);
        ImageList_DragShowNolock(TRUE);
    }
    const bool aim = step >= 0;
    // A closed folder with sub-folders opens after a short rest over it.
    HTREEITEM node = NodeAt(at);
    const STOREFOLDERID id = node ? folder_tree::NodeId(tree_, node) : 0;
    if (id != hovered_) {
        hovered_ = id;
        hoverSince_ = GetTickCount();
    } else if (node && GetTickCount() - hoverSince_ >= kOpenAfter &&
               TreeView_GetChild(tree_, node) &&
               !(TreeView_GetItemState(tree_, node, TVIS_EXPANDED) & TVIS_EXPANDED)) {
        ImageList_DragShowNolock(FALSE);
        TreeView_Expand(tree_, node, TVE_EXPAND);
        UpdateWindow(tree_);
        ImageList_DragShowNolock(TRUE);
    }
    Track(at, aim);
}

HTREEITEM DragTracker::NodeAt(POINT client) const {
    if (!tree_)
        return nullptr;
    MapWindowPoints(owner_, tree_, &client, 1);
    RECT inside{};
    GetClientRect(tree_, &inside);
    if (!PtInRect(&inside, client))
        return nullptr;
    TVHITTESTINFO hit{};
    hit.pt = client;
    HTREEITEM node = TreeView_HitTest(tree_, &hit);
    return (hit.flags & TVHT_ONITEM) ? node : nullptr;
}

STOREFOLDERID DragTracker::TargetAt(POINT client) const {
    HTREEITEM node = NodeAt(client);
    return node ? folder_tree::NodeId(tree_, node) : 0;
}

void DragTracker::Track(POINT client, bool aim) {
    HTREEITEM node = NodeAt(client);
    const STOREFOLDERID id = node ? folder_tree::NodeId(tree_, node) : 0;
    if (aim) {
        aimed_ = id;
        aimedAt_ = client;
    }
    // A folder that slid under the pointer (the one aimed at went) is no target.
    const bool allowed = node && id == aimed_ && allowed_ && allowed_(id);
    HTREEITEM wanted = allowed ? node : nullptr;
    // Compared with what the tree shows, so a rebuild in the middle of the
    // drag (which drops the highlight with the old nodes) is caught up.
    if (TreeView_GetDropHilight(tree_) != wanted) {
        // The image is hidden while the tree repaints beneath it.
        ImageList_DragShowNolock(FALSE);
        TreeView_SelectDropTarget(tree_, wanted);
        UpdateWindow(tree_);
        ImageList_DragShowNolock(TRUE);
    }
    SetCursor(LoadCursorW(nullptr, allowed ? IDC_ARROW : IDC_NO));
    if (image_) {
        const POINT frame = FramePoint(owner_, client);
        ImageList_DragMove(frame.x, frame.y);
    }
}

void DragTracker::DropAt(POINT client, bool copy) {
    // A release elsewhere points there first.
    if (client.x != aimedAt_.x || client.y != aimedAt_.y)
        Track(client, true);
    STOREFOLDERID target = TargetAt(client);
    if (target != aimed_) // the tree changed since the user last pointed
        target = 0;
    const Allowed allowed = std::move(allowed_);
    const Drop drop = std::move(drop_);
    Finish();
    // Asked again at the drop: the tree may have changed since the last move.
    if (target && allowed && allowed(target) && drop)
        drop(target, copy);
}

void DragTracker::Finish() {
    // Cleared first: releasing the capture comes back here.
    HWND owner = std::exchange(owner_, nullptr);
    if (!owner)
        return;
    if (image_) {
        ImageList_DragLeave(owner);
        ImageList_EndDrag();
        image_.Reset();
    }
    if (tree_ && IsWindow(tree_))
        TreeView_SelectDropTarget(tree_, nullptr);
    tree_ = nullptr;
    allowed_ = nullptr;
    drop_ = nullptr;
    leave_ = nullptr;
    KillTimer(owner, kHoverTimer);
    if (GetCapture() == owner)
        ReleaseCapture();
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}
