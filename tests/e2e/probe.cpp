// Looks at the running program from outside, as another program on the desktop
// would: finds its main window, reads the log panel's text, the folder tree, the
// folder panel and the message list, or closes the window.
//
//   probe log <seconds>    prints the log once it has text and stopped changing
//   probe state <seconds>  prints tree, panel, list, places, client area and log once
//                          the log has text
//   probe close <seconds>  asks the window to close and waits until it is gone;
//                          prints the milliseconds that took
//   probe bareclose 0      the same for a bare window of the probe's own
//   probe select <seconds> <folder id>
//                          selects the folder's node in the tree, as a click would
//   probe window <seconds> <caption> [text]
//                          waits for an enabled window with that caption (and a
//                          control whose text holds `text`), then prints its
//                          controls with their screen places and whole texts
//   probe look <seconds> <caption>
//                          prints a shown window's client area, controls and tree
//                          ("#menu": an open context menu)
//   probe gone <seconds> <caption>
//                          waits until no such window is shown
//   probe ping <seconds> rows|filled|lines|source|arrow <count>
//                          asks the main window WM_NULL every 20 ms until the
//                          list has at most (filled: at least) <count> rows, the log at least
//                          <count> lines, the properties dialog's source box
//                          at least <count> characters, or the list's header
//                          <count> shows a sort arrow; prints the milliseconds
//                          until then, the longest wait for an answer, and the
//                          wall-clock times (ms since 1970) of then and of the
//                          properties dialog's first sight
//
// The tree and the list keep their items in the program's memory, so their
// records go through a buffer allocated in the program's process.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {

constexpr UINT kReplyMs = 5000;      // a window that does not answer in this time is hung
constexpr size_t kTextChars = 1024;  // longest item text read back
constexpr size_t kTextOffset = 1024; // the text buffer's place in the remote block
constexpr size_t kRemoteBytes = kTextOffset + (kTextChars + 1) * sizeof(wchar_t);

HWND FindMain() {
    return FindWindowW(L"TBrisvanderMain", L"Brisvander");
}

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    return utf8;
}

// One field of a tab-separated output line: no tabs or line breaks inside.
std::string Field(const std::wstring& text) {
    std::wstring clean = text;
    for (wchar_t& c : clean) {
        if (c == L'\t' || c == L'\r' || c == L'\n')
            c = L' ';
    }
    return Utf8(clean);
}

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyMs, &answer))
        return false;
    result = static_cast<LRESULT>(answer);
    return true;
}

std::wstring TextOf(HWND window) {
    LRESULT length = 0;
    if (!window || !Ask(window, WM_GETTEXTLENGTH, 0, 0, length))
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT got = 0;
    if (!Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), got))
        return {};
    text.resize(static_cast<size_t>(got));
    return text;
}

std::wstring LogOf(HWND main) {
    return TextOf(FindWindowExW(main, nullptr, L"Edit", nullptr));
}

class UniqueHandle {
  public:
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() {
        if (handle_)
            CloseHandle(handle_);
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

// A block of memory in the process that owns a window, freed with the object.
class RemoteBlock {
  public:
    explicit RemoteBlock(HWND window) : process_(OpenOwner(window)) {
        if (process_.Get())
            base_ = static_cast<char*>(VirtualAllocEx(process_.Get(), nullptr, kRemoteBytes,
                                                      MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteBlock() {
        if (base_)
            VirtualFreeEx(process_.Get(), base_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool Ok() const { return base_ != nullptr; }
    char* Record() const { return base_; }
    wchar_t* TextBuffer() const { return reinterpret_cast<wchar_t*>(base_ + kTextOffset); }

    template <typename T> bool Put(const T& value) {
        SIZE_T done = 0;
        return WriteProcessMemory(process_.Get(), base_, &value, sizeof value, &done) &&
               done == sizeof value;
    }
    template <typename T> bool Take(T& value) const {
        SIZE_T done = 0;
        return ReadProcessMemory(process_.Get(), base_, &value, sizeof value, &done) &&
               done == sizeof value;
    }
    // Text at an address in the owner's memory (the control may point
    // elsewhere than the buffer it was given), up to its NUL.
    std::wstring TextAt(const wchar_t* where) const {
        if (!where)
            return {};
        std::wstring text(kTextChars, L'\0');
        SIZE_T done = 0;
        if (!ReadProcessMemory(process_.Get(), where, text.data(), kTextChars * sizeof(wchar_t),
                               &done) &&
            done == 0)
            return {};
        text.resize(done / sizeof(wchar_t));
        size_t end = text.find(L'\0');
        if (end != std::wstring::npos)
            text.resize(end);
        return text;
    }

  private:
    static HANDLE OpenOwner(HWND window) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        return pid ? OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                                 pid)
                   : nullptr;
    }

    UniqueHandle process_;
    char* base_ = nullptr;
};

std::string Number(long long value) {
    return std::to_string(value);
}

// tree  depth id image selectedImage expanded children selected iconX iconY text
// (icon place: the screen pixel just left of the item's text, at its middle)
bool DumpTree(HWND tree, std::string& out) {
    RemoteBlock remote(tree);
    if (!remote.Ok())
        return false;
    LRESULT caret = 0;
    Ask(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, caret);
    LRESULT count = 0;
    Ask(tree, TVM_GETCOUNT, 0, 0, count);
    out += "treecount\t" + Number(count) + "\n";

    struct Pending {
        HTREEITEM item;
        int depth;
    };
    std::vector<Pending> stack;
    LRESULT first = 0;
    Ask(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, first);
    if (first)
        stack.push_back({reinterpret_cast<HTREEITEM>(first), 0});
    size_t seen = 0;
    while (!stack.empty() && seen <= static_cast<size_t>(count)) {
        Pending node = stack.back();
        stack.pop_back();
        ++seen;
        TVITEMW item{};
        item.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE |
                    TVIF_STATE | TVIF_CHILDREN;
        item.hItem = node.item;
        item.stateMask = TVIS_EXPANDED | TVIS_SELECTED;
        item.pszText = remote.TextBuffer();
        item.cchTextMax = static_cast<int>(kTextChars);
        LRESULT ok = 0;
        if (!remote.Put(item) ||
            !Ask(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.Record()), ok) || !ok ||
            !remote.Take(item))
            return false;
        std::wstring text = remote.TextAt(item.pszText);

        // TVM_GETITEMRECT takes the item handle in the rectangle it fills.
        RECT rect{};
        std::memcpy(&rect, &node.item, sizeof node.item);
        POINT icon{-1, -1};
        LRESULT shown = 0;
        if (remote.Put(rect) &&
            Ask(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(remote.Record()), shown) &&
            shown && remote.Take(rect)) {
            icon = {rect.left - 1, (rect.top + rect.bottom) / 2};
            ClientToScreen(tree, &icon);
        }

        out += "tree\t" + Number(node.depth) + "\t" + Number(static_cast<DWORD>(item.lParam)) +
               "\t" + Number(item.iImage) + "\t" + Number(item.iSelectedImage) + "\t" +
               ((item.state & TVIS_EXPANDED) ? "1" : "0") + "\t" + Number(item.cChildren) + "\t" +
               (node.item == reinterpret_cast<HTREEITEM>(caret) ? "1" : "0") + "\t" +
               Number(icon.x) + "\t" + Number(icon.y) + "\t" + Field(text) + "\n";

        // Children before the next sibling: the tree's own order, depth first.
        LRESULT next = 0;
        Ask(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(node.item), next);
        if (next)
            stack.push_back({reinterpret_cast<HTREEITEM>(next), node.depth});
        LRESULT child = 0;
        Ask(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(node.item), child);
        if (child)
            stack.push_back({reinterpret_cast<HTREEITEM>(child), node.depth + 1});
    }
    return true;
}

// A child's rectangle in the main window's client pixels.
RECT PlaceIn(HWND main, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// panel  text   (the group box's labels row by row, each caption before its value)
// A value may overlap its caption and is drawn above it, so the drawing order
// says nothing: each row's two labels are the nearest in height.
void DumpPanel(HWND main, std::string& out) {
    HWND group = FindWindowExW(main, nullptr, L"Button", nullptr);
    struct Label {
        RECT place;
        std::wstring text;
    };
    std::vector<Label> labels;
    for (HWND label = FindWindowExW(group, nullptr, L"Static", nullptr); label;
         label = FindWindowExW(group, label, L"Static", nullptr))
        labels.push_back({PlaceIn(main, label), TextOf(label)});
    auto middle = [](const Label& l) { return l.place.top + l.place.bottom; };
    std::sort(labels.begin(), labels.end(),
              [&](const Label& a, const Label& b) { return middle(a) < middle(b); });
    for (size_t row = 0; row + 1 < labels.size(); row += 2)
        if (labels[row].place.left > labels[row + 1].place.left)
            std::swap(labels[row], labels[row + 1]);
    for (const Label& label : labels)
        out += "panel\t" + Field(label.text) + "\n";
}

// place  class left top right bottom text   (every control of the window and
// of its group box, in the main window's client pixels)
void DumpPlaces(HWND main, std::string& out) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
        for (HWND inner = GetWindow(child, GW_CHILD); inner; inner = GetWindow(inner, GW_HWNDNEXT))
            children.push_back(inner);
    }
    for (HWND child : children) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        RECT r = PlaceIn(main, child);
        std::wstring text = TextOf(child).substr(0, 80); // the log's first line is enough
        out += "place\t" + Field(name) + "\t" + Number(r.left) + "\t" + Number(r.top) + "\t" +
               Number(r.right) + "\t" + Number(r.bottom) + "\t" + Field(text) + "\n";
    }
}

std::wstring ItemText(HWND list, RemoteBlock& remote, int row, int column) {
    LVITEMW item{};
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = remote.TextBuffer();
    item.cchTextMax = static_cast<int>(kTextChars);
    LRESULT length = 0;
    if (!remote.Put(item) ||
        !Ask(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
             reinterpret_cast<LPARAM>(remote.Record()), length) ||
        !remote.Take(item))
        return L"<unreadable>";
    return remote.TextAt(item.pszText);
}

bool Selected(HWND list, int row) {
    LRESULT state = 0;
    return Ask(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED, state) &&
           (state & LVIS_SELECTED);
}

int ItemImage(HWND list, RemoteBlock& remote, int row, int column) {
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iSubItem = column;
    item.iImage = -100; // not an index the program uses: tells "left alone" apart
    LRESULT ok = 0;
    if (!remote.Put(item) ||
        !Ask(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.Record()), ok) || !ok ||
        !remote.Take(item))
        return -101;
    return item.iImage;
}

// header  index left top right bottom (on screen) arrow (1 up, 2 down, 0 none)
void DumpHeader(HWND list, RemoteBlock& remote, std::string& out) {
    LRESULT header = 0;
    if (!Ask(list, LVM_GETHEADER, 0, 0, header) || !header)
        return;
    auto* control = reinterpret_cast<HWND>(header);
    for (int index = 0;; ++index) {
        RECT rect{};
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        LRESULT ok = 0;
        if (!remote.Put(rect) ||
            !Ask(control, HDM_GETITEMRECT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(remote.Record()), ok) ||
            !ok || !remote.Take(rect))
            break;
        if (!remote.Put(item) ||
            !Ask(control, HDM_GETITEMW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(remote.Record()), ok) ||
            !ok || !remote.Take(item))
            break;
        MapWindowPoints(control, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
        const int arrow = (item.fmt & HDF_SORTUP) ? 1 : (item.fmt & HDF_SORTDOWN) ? 2 : 0;
        out += "header\t" + Number(index) + "\t" + Number(rect.left) + "\t" + Number(rect.top) +
               "\t" + Number(rect.right) + "\t" + Number(rect.bottom) + "\t" + Number(arrow) + "\n";
    }
}

// column  caption
// row     index image flagImage iconX iconY from subject received selected
bool DumpList(HWND list, std::string& out) {
    RemoteBlock remote(list);
    if (!remote.Ok())
        return false;
    for (int column = 0;; ++column) {
        LVCOLUMNW header{};
        header.mask = LVCF_TEXT;
        header.pszText = remote.TextBuffer();
        header.cchTextMax = static_cast<int>(kTextChars);
        LRESULT ok = 0;
        if (!remote.Put(header) ||
            !Ask(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(remote.Record()), ok) ||
            !ok || !remote.Take(header))
            break;
        out += "column\t" + Field(remote.TextAt(header.pszText)) + "\n";
    }
    DumpHeader(list, remote, out);
    LRESULT count = 0;
    if (!Ask(list, LVM_GETITEMCOUNT, 0, 0, count))
        return false;
    out += "rowcount\t" + Number(count) + "\n";
    for (int row = 0; row < static_cast<int>(count); ++row) {
        RECT rect{};
        rect.left = LVIR_ICON;
        POINT icon{-1, -1};
        LRESULT shown = 0;
        if (remote.Put(rect) &&
            Ask(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                reinterpret_cast<LPARAM>(remote.Record()), shown) &&
            shown && remote.Take(rect)) {
            icon = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
            ClientToScreen(list, &icon);
        }
        out += "row\t" + Number(row) + "\t" + Number(ItemImage(list, remote, row, 0)) + "\t" +
               Number(ItemImage(list, remote, row, 3)) + "\t" + Number(icon.x) + "\t" +
               Number(icon.y) + "\t" + Field(ItemText(list, remote, row, 0)) + "\t" +
               Field(ItemText(list, remote, row, 1)) + "\t" +
               Field(ItemText(list, remote, row, 2)) + "\t" + Number(Selected(list, row) ? 1 : 0) +
               "\n";
    }
    return true;
}

void DumpLog(const std::wstring& log, std::string& out) {
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find(L'\n', start);
        if (end == std::wstring::npos)
            end = log.size();
        std::wstring line = log.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        out += "log\t" + Field(line) + "\n";
        start = end + 1;
    }
}

int PrintState(DWORD deadline) {
    bool unreadable = false;
    while (GetTickCount() < deadline) {
        HWND main = FindMain();
        std::wstring log = main ? LogOf(main) : std::wstring();
        if (!log.empty()) {
            std::string out;
            HWND tree = FindWindowExW(main, nullptr, WC_TREEVIEWW, nullptr);
            HWND list = FindWindowExW(main, nullptr, WC_LISTVIEWW, nullptr);
            if (!tree || !list) {
                std::fprintf(stderr, "probe: the window has no tree or no list\n");
                return 1;
            }
            // A rebuild between two questions frees the nodes being read: read again.
            unreadable = !DumpTree(tree, out) || !DumpList(list, out);
            if (unreadable) {
                Sleep(100);
                continue;
            }
            DumpPanel(main, out);
            DumpPlaces(main, out);
            RECT client{};
            GetClientRect(main, &client);
            POINT origin{0, 0};
            ClientToScreen(main, &origin);
            out += "client\t" + Number(origin.x) + "\t" + Number(origin.y) + "\t" +
                   Number(client.right) + "\t" + Number(client.bottom) + "\n";
            DumpLog(log, out);
            Write(out);
            return 0;
        }
        Sleep(100);
    }
    std::fprintf(stderr, "probe: %s\n",
                 unreadable   ? "cannot read the tree or the list"
                 : FindMain() ? "the log stayed empty"
                              : "no main window appeared");
    return 1;
}

int PrintLog(DWORD deadline) {
    std::wstring last;
    DWORD stableSince = 0;
    while (GetTickCount() < deadline) {
        HWND main = FindMain();
        std::wstring text = main ? LogOf(main) : std::wstring();
        if (!text.empty() && text == last) {
            if (GetTickCount() - stableSince >= 500) {
                Write(Utf8(text));
                return 0;
            }
        } else {
            last = text;
            stableSince = GetTickCount();
        }
        Sleep(100);
    }
    std::fprintf(stderr, "probe: %s\n",
                 FindMain() ? "the log stayed empty" : "no main window appeared");
    return 1;
}

// The tree node whose data word is the folder id, searched depth first.
HTREEITEM FindNode(HWND tree, RemoteBlock& remote, DWORD folderId) {
    std::vector<HTREEITEM> stack;
    LRESULT first = 0;
    if (Ask(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0, first) && first)
        stack.push_back(reinterpret_cast<HTREEITEM>(first));
    while (!stack.empty()) {
        HTREEITEM node = stack.back();
        stack.pop_back();
        TVITEMW item{};
        item.mask = TVIF_HANDLE | TVIF_PARAM;
        item.hItem = node;
        LRESULT ok = 0;
        if (remote.Put(item) &&
            Ask(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.Record()), ok) && ok &&
            remote.Take(item) && static_cast<DWORD>(item.lParam) == folderId)
            return node;
        LRESULT next = 0;
        if (Ask(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(node), next) && next)
            stack.push_back(reinterpret_cast<HTREEITEM>(next));
        LRESULT child = 0;
        if (Ask(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(node), child) && child)
            stack.push_back(reinterpret_cast<HTREEITEM>(child));
    }
    return nullptr;
}

int Select(DWORD deadline, DWORD folderId) {
    while (GetTickCount() < deadline) {
        HWND main = FindMain();
        HWND tree = main ? FindWindowExW(main, nullptr, WC_TREEVIEWW, nullptr) : nullptr;
        if (tree) {
            RemoteBlock remote(tree);
            HTREEITEM node = remote.Ok() ? FindNode(tree, remote, folderId) : nullptr;
            LRESULT done = 0;
            if (node &&
                Ask(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node), done) && done)
                return 0;
        }
        Sleep(100);
    }
    std::fprintf(stderr, "probe: no node for folder %lu to select\n",
                 static_cast<unsigned long>(folderId));
    return 1;
}

// A shown top-level window with this caption; "#menu" is an open context menu.
HWND FindShown(const std::wstring& caption) {
    HWND window = caption == L"#menu" ? FindWindowW(L"#32768", nullptr)
                                      : FindWindowW(nullptr, caption.c_str());
    return window && IsWindowVisible(window) ? window : nullptr;
}

// client  screenX screenY width height   (where the window's client area is)
// then its controls' places and the nodes of any tree in it
int Look(DWORD deadline, const std::wstring& caption) {
    while (GetTickCount() < deadline) {
        if (HWND window = FindShown(caption)) {
            std::string out;
            RECT client{};
            GetClientRect(window, &client);
            POINT origin{0, 0};
            ClientToScreen(window, &origin);
            out += "client\t" + Number(origin.x) + "\t" + Number(origin.y) + "\t" +
                   Number(client.right) + "\t" + Number(client.bottom) + "\n";
            DumpPlaces(window, out);
            HWND tree = FindWindowExW(window, nullptr, WC_TREEVIEWW, nullptr);
            if (tree && !DumpTree(tree, out)) {
                Sleep(100); // changed while it was read
                continue;
            }
            Write(out);
            return 0;
        }
        Sleep(100);
    }
    std::fprintf(stderr, "probe: no window \"%ls\" appeared\n", caption.c_str());
    return 1;
}

// Waits until no shown window has this caption.
int WaitGone(DWORD deadline, const std::wstring& caption) {
    while (GetTickCount() < deadline) {
        if (!FindShown(caption))
            return 0;
        Sleep(100);
    }
    std::fprintf(stderr, "probe: window \"%ls\" stayed\n", caption.c_str());
    return 1;
}

double NowMs() {
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int Close(DWORD deadline) {
    HWND main = FindMain();
    if (!main) {
        std::fprintf(stderr, "probe: no main window to close\n");
        return 1;
    }
    const double start = NowMs();
    PostMessageW(main, WM_CLOSE, 0, 0);
    while (GetTickCount() < deadline) {
        if (!IsWindow(main)) {
            std::printf("closed\t%.0f\n", NowMs() - start);
            return 0;
        }
        Sleep(10);
    }
    std::fprintf(stderr, "probe: the window did not close\n");
    return 1;
}

LRESULT CALLBACK BareProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(w, m, wp, lp);
}

// The platform's own time to close a window: a bare one of this process's.
int CloseBare() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = BareProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ProbeBareWindow";
    RegisterClassW(&wc);
    HWND bare = CreateWindowW(wc.lpszClassName, L"Bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              400, 300, nullptr, nullptr, wc.hInstance, nullptr);
    if (!bare)
        return 1;
    MSG msg;
    for (DWORD until = GetTickCount() + 500; GetTickCount() < until;) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(10);
    }
    const double start = NowMs();
    PostMessageW(bare, WM_CLOSE, 0, 0);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    std::printf("closed\t%.0f\n", NowMs() - start);
    return 0;
}

// A text on one line: backslash, tab and line ends escaped.
std::string Escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\\')
            out += L"\\\\";
        else if (c == L'\t')
            out += L"\\t";
        else if (c == L'\r')
            out += L"\\r";
        else if (c == L'\n')
            out += L"\\n";
        else
            out += c;
    }
    return Utf8(out);
}

struct WindowSearch {
    std::wstring caption;
    std::wstring text;
    HWND found = nullptr;
};

BOOL CALLBACK HasText(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    if (TextOf(child).find(search->text) == std::wstring::npos)
        return TRUE;
    search->found = child;
    return FALSE;
}

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    if (!IsWindowVisible(window) || !IsWindowEnabled(window) || TextOf(window) != search->caption)
        return TRUE;
    WindowSearch inner{search->caption, search->text};
    if (!search->text.empty())
        EnumChildWindows(window, HasText, reinterpret_cast<LPARAM>(&inner));
    if (!search->text.empty() && !inner.found)
        return TRUE;
    search->found = window;
    return FALSE;
}

std::string Place(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return Number(rect.left) + "\t" + Number(rect.top) + "\t" + Number(rect.right) + "\t" +
           Number(rect.bottom);
}

BOOL CALLBACK PrintControl(HWND child, LPARAM) {
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    Write("control\t" + Number(GetDlgCtrlID(child)) + "\t" + Utf8(className) + "\t" + Place(child) +
          "\t" + (IsWindowVisible(child) ? "1" : "0") + "\t" + Escaped(TextOf(child)) + "\n");
    return TRUE;
}

int PrintWindow(DWORD deadline, const std::wstring& caption, const std::wstring& text) {
    for (;;) {
        WindowSearch search{caption, text};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            RECT client{};
            GetClientRect(search.found, &client);
            Write("window\t" + Place(search.found) + "\t" + Number(client.right) + "\t" +
                  Number(client.bottom) + "\n");
            EnumChildWindows(search.found, PrintControl, 0);
            return 0;
        }
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) {
            std::fprintf(stderr, "probe: no window \"%s\"\n", Utf8(caption).c_str());
            return 1;
        }
        Sleep(100);
    }
}

// Wall-clock milliseconds since 1970, to compare with the caller's clock.
double UnixMs() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 10000.0;
}

// Whether the list's header `index` shows a sort arrow.
bool HeaderArrow(HWND main, long index) {
    HWND list = FindWindowExW(main, nullptr, WC_LISTVIEWW, nullptr);
    LRESULT header = 0;
    if (!list || !Ask(list, LVM_GETHEADER, 0, 0, header) || !header)
        return false;
    auto* control = reinterpret_cast<HWND>(header);
    RemoteBlock remote(control);
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    LRESULT ok = 0;
    return remote.Ok() && remote.Put(item) &&
           Ask(control, HDM_GETITEMW, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(remote.Record()), ok) &&
           ok && remote.Take(item) && (item.fmt & (HDF_SORTUP | HDF_SORTDOWN)) != 0;
}

// Whether the awaited state is reached; every question here is a ping too.
bool Reached(HWND main, const char* what, long count) {
    if (std::strcmp(what, "arrow") == 0)
        return HeaderArrow(main, count);
    DWORD_PTR value = 0;
    HWND target = nullptr;
    UINT question = 0;
    if (std::strcmp(what, "rows") == 0 || std::strcmp(what, "filled") == 0) {
        target = FindWindowExW(main, nullptr, WC_LISTVIEWW, nullptr);
        question = LVM_GETITEMCOUNT;
    } else if (std::strcmp(what, "lines") == 0) {
        target = FindWindowExW(main, nullptr, L"Edit", nullptr);
        question = EM_GETLINECOUNT;
    } else {
        HWND dialog = FindWindowW(nullptr, L"Message Properties");
        target = dialog ? FindWindowExW(dialog, nullptr, L"RichEdit20W", nullptr) : nullptr;
        question = WM_GETTEXTLENGTH;
    }
    if (!target || !SendMessageTimeoutW(target, question, 0, 0, SMTO_NORMAL, 60000, &value))
        return false;
    const auto have = static_cast<long>(value);
    // The log's edit counts the empty line after the last line break.
    if (std::strcmp(what, "rows") == 0)
        return have <= count;
    return have - (what[0] == 'l' ? 1 : 0) >= count;
}

int Ping(DWORD deadline, const char* what, long count) {
    HWND main = FindMain();
    if (!main) {
        std::fprintf(stderr, "probe: no main window to ping\n");
        return 1;
    }
    const double start = NowMs();
    double longest = 0, longestAt = 0;
    long pings = 0;
    bool dialogSeen = false;
    for (;;) {
        if (!dialogSeen && FindWindowW(nullptr, L"Message Properties")) {
            dialogSeen = true;
            std::printf("dialog\t%.0f\n", UnixMs());
        }
        // Each question waits for the window's thread: the longest wait is
        // the longest time it went without answering.
        bool reached = false;
        double asked = NowMs();
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored)) {
            std::fprintf(stderr, "probe: no answer within 60 s\n");
            return 1;
        }
        ++pings;
        for (int question = 0;; ++question) {
            const double waited = NowMs() - asked;
            if (waited > longest) {
                longest = waited;
                longestAt = asked - start;
            }
            if (question == 1)
                break;
            asked = NowMs();
            reached = Reached(main, what, count);
        }
        const bool late = static_cast<LONG>(GetTickCount() - deadline) >= 0;
        if (reached || late) {
            std::printf("%s\t%.0f\tlongest\t%.0f\tpings\t%ld\tat\t%.0f\tlongest_from\t%.0f\n",
                        reached ? "reached" : "timeout", NowMs() - start, longest, pings, UnixMs(),
                        longestAt);
            return reached ? 0 : 1;
        }
        Sleep(20);
    }
}

std::wstring Wide(const char* utf8) {
    int chars = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring text(static_cast<size_t>(chars > 0 ? chars : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), chars);
    text.resize(text.find(L'\0'));
    return text;
}

// Puts text on the clipboard, as another program does when the user copies
// there: the text comes as UTF-8 in hex, which no command line can garble.
int Clip(const char* hex) {
    std::string utf8;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        utf8.push_back(
            static_cast<char>(std::strtoul(std::string(hex + i, 2).c_str(), nullptr, 16)));
    const std::wstring text = Wide(utf8.c_str());
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (!memory)
        return 1;
    std::memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(memory);
        return 1;
    }
    EmptyClipboard();
    const bool set = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    CloseClipboard();
    if (!set)
        GlobalFree(memory);
    return set ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: probe log|state|close <seconds>, probe select <seconds> <id>, "
                             "probe window <seconds> <caption> [text], "
                             "probe look|gone <seconds> <caption>, "
                             "probe ping <seconds> rows|filled|lines|source <count>, "
                             "probe clip <seconds> <UTF-8 in hex>\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    if (std::strcmp(argv[1], "log") == 0)
        return PrintLog(deadline);
    if (std::strcmp(argv[1], "state") == 0)
        return PrintState(deadline);
    if (std::strcmp(argv[1], "select") == 0 && argc >= 4)
        return Select(deadline, static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)));
    if (std::strcmp(argv[1], "look") == 0 && argc >= 4)
        return Look(deadline, Wide(argv[3]));
    if (std::strcmp(argv[1], "gone") == 0 && argc >= 4)
        return WaitGone(deadline, Wide(argv[3]));
    if (std::strcmp(argv[1], "close") == 0)
        return Close(deadline);
    if (std::strcmp(argv[1], "bareclose") == 0)
        return CloseBare();
    if (std::strcmp(argv[1], "ping") == 0 && argc >= 5)
        return Ping(deadline, argv[3], std::atol(argv[4]));
    if (std::strcmp(argv[1], "clip") == 0 && argc >= 4)
        return Clip(argv[3]);
    if (std::strcmp(argv[1], "window") == 0 && argc >= 4)
        return PrintWindow(deadline, Wide(argv[3]), argc >= 5 ? Wide(argv[4]) : std::wstring());
    std::fprintf(stderr, "probe: unknown command %s\n", argv[1]);
    return 2;
}
