// Sorting 20,000 and 100,000 rows as a header click does it in the window's
// list (steps from its timer included, until the sorted rows are painted),
// against a bare program sorting the same keys: a key per row from
// LCMapStringEx(LCMAP_SORTKEY) compared as bytes, or the times or flags,
// stable_sort. Beside each: the longest wait of another process asking the
// window WM_NULL meanwhile. Then Ctrl+A on the list unsorted and sorted
// against a bare owner-data list view; and a find that looks at every row.
#include "BenchSupport.h"
#include "main/views/MessageFind.h"
#include "main/views/MessageListView.h"
#include "main/views/MessageSort.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Rows as a big folder has them: every subject distinct, 500 senders (one in
// eight beyond ASCII), times in no order; the same every run.
std::vector<MessageRow> MakeRows(int count) {
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    std::vector<MessageRow> made;
    made.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        MessageRow row;
        row.id = static_cast<MESSAGEID>(i + 1);
        row.flagged = next() % 11 == 0;
        const uint32_t sender = next() % 500;
        row.from = (sender % 8 == 0 ? L"Ren\x00e9e " : L"Sender ") + std::to_wstring(sender) +
                   L" <sender@example.org>";
        row.subject = L"Re: subject line " + std::to_wstring((i * 7919u + 13u) % count) +
                      (i % 3 ? L" about the plan" : L" ABOUT the Plan");
        row.received.fixed = false;
        row.received.local = 133500000000000000ull + uint64_t{next()} * 10000000ull;
        made.push_back(std::move(row));
    }
    return made;
}

// The main window's list alone, in a bare top-level window.
class ViewHost {
  public:
    ViewHost() {
        WNDCLASSW cls{};
        cls.lpfnWndProc = Proc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"BenchSortViewHost";
        RegisterClassW(&cls);
        host_ = CreateWindowExW(0, cls.lpszClassName, L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 700, 500, nullptr, nullptr, cls.hInstance, nullptr);
        SetWindowLongPtrW(host_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&view_));
        view_.Create(host_, 1, {0, 0, 680, 460}, nullptr);
        images_ = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 5, 0);
        view_.SetImages(images_);
    }
    ~ViewHost() {
        DestroyWindow(host_);
        ImageList_Destroy(images_);
    }
    ViewHost(const ViewHost&) = delete;
    ViewHost& operator=(const ViewHost&) = delete;
    HWND Host() const { return host_; }
    MessageListView& View() { return view_; }

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* view = reinterpret_cast<MessageListView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (message == WM_NOTIFY && view) {
            LRESULT result = 0;
            if (view->HandleNotify(reinterpret_cast<NMHDR*>(lParam), result))
                return result;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    HWND host_ = nullptr;
    MessageListView view_;
    HIMAGELIST images_ = nullptr;
};

void Load(ViewHost& host, const std::vector<MessageRow>& rows) {
    MessageListView& view = host.View();
    view.Clear();
    for (const MessageRow& row : rows)
        view.Rows().Append(row);
    SendMessageW(view.Handle(), LVM_SETITEMCOUNT, rows.size(), 0);
    bench::Paint(host.Host());
}

struct Click {
    double shown = 0;   // until the sorted rows were painted
    double longest = 0; // longest message handled meanwhile
    double asked = 0;   // longest wait of another process asking WM_NULL
};

// A header click, then the message loop until the sort is shown.
Click ClickHeader(ViewHost& host, int column) {
    Click click;
    bench::OutsideAsker asker(host.Host(), WM_NULL, 10);
    const double start = bench::Now();
    NMLISTVIEW header{};
    header.hdr.hwndFrom = host.View().Handle();
    header.hdr.code = LVN_COLUMNCLICK;
    header.iSubItem = column;
    SendMessageW(host.Host(), WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header));
    click.longest = bench::Now() - start;
    click.longest =
        std::max(click.longest, bench::PumpWhile([&] { return host.View().Sorting(); }));
    const double painting = bench::Now();
    bench::Paint(host.Host());
    click.longest = std::max(click.longest, bench::Now() - painting);
    click.shown = bench::Now() - start;
    click.asked = asker.Stop();
    return click;
}

// The bare program: the same keys made and sorted, stable, nothing else.
double Floor(const std::vector<MessageRow>& rows, int column) {
    std::vector<uint32_t> order(rows.size());
    const double start = bench::Now();
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint32_t>(i);
    if (column == message_sort::kFrom || column == message_sort::kSubject) {
        std::vector<std::string> keys(rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const std::wstring& text =
                column == message_sort::kFrom ? rows[i].from : rows[i].subject;
            const int bytes = LCMapStringEx(
                LOCALE_NAME_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text.data(),
                static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr, 0);
            keys[i].resize(static_cast<size_t>(bytes > 0 ? bytes : 0));
            LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text.data(),
                          static_cast<int>(text.size()), reinterpret_cast<LPWSTR>(keys[i].data()),
                          bytes, nullptr, nullptr, 0);
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
    } else if (column == message_sort::kReceived) {
        std::vector<uint64_t> keys(rows.size());
        for (size_t i = 0; i < rows.size(); ++i)
            keys[i] = ReceivedKeyOf(rows[i].received);
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
    } else {
        std::stable_partition(order.begin(), order.end(),
                              [&](uint32_t i) { return rows[i].flagged; });
    }
    return bench::Now() - start;
}

// A bare owner-data list of `count` rows: all selected, then painted.
double BareSelectAll(HWND parent, int count) {
    HWND list =
        CreateWindowExW(0, WC_LISTVIEWW, L"",
                        WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA, 0,
                        0, 680, 460, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = 200;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), 0);
    const double took = bench::BestOf(
        3, [&] { ListView_SetItemState(list, -1, 0, LVIS_SELECTED); },
        [&] {
            ListView_SetItemState(list, -1, LVIS_SELECTED, LVIS_SELECTED);
            bench::Paint(parent);
        });
    DestroyWindow(list);
    return took;
}

double SelectAll(ViewHost& host) {
    HWND list = host.View().Handle();
    return bench::BestOf(
        3, [&] { ListView_SetItemState(list, -1, 0, LVIS_SELECTED); },
        [&] {
            host.View().SelectAll();
            bench::Paint(host.Host());
        });
}

} // namespace

int main(int argc, char** argv) {
    bench::OutsideAsker::RunIfAsked(argc, argv);
    bench::InitControls();
    ViewHost host;

    std::printf(
        "header click on the message list until the sorted rows are painted, against a "
        "bare program sorting the same keys (ms; at most 1 wanted; never silent over 250)\n");
    std::printf("%8s %9s %10s %10s %7s %12s %12s\n", "rows", "column", "click", "bare sort",
                "ratio", "longest msg", "WM_NULL wait");
    const char* names[] = {"From", "Subject", "Received", "Flag"};
    for (int count : {20000, 100000}) {
        const std::vector<MessageRow> rows = MakeRows(count);
        for (int column = message_sort::kFrom; column <= message_sort::kFlag; ++column) {
            Load(host, rows);
            const double floor = Floor(rows, column);
            const Click up = ClickHeader(host, column);
            const Click down = ClickHeader(host, column); // the other way
            std::printf("%8d %9s %10.1f %10.1f %7.2f %12.1f %12.1f\n", count, names[column],
                        up.shown, floor, up.shown / floor, std::max(up.longest, down.longest),
                        std::max(up.asked, down.asked));
            std::printf("%8d %9s %10.1f %10s %7s %12s %12s\n", count, "reversed", down.shown, "",
                        "", "", "");
        }
    }

    std::printf("\nCtrl+A on the message list, until painted (ms; best of 3; sorted at most 1.2 "
                "times unsorted)\n");
    std::printf("%8s %10s %10s %10s %7s\n", "rows", "unsorted", "sorted", "bare list", "ratio");
    for (int count : {20000, 100000}) {
        Load(host, MakeRows(count));
        const double unsorted = SelectAll(host);
        ClickHeader(host, message_sort::kSubject);
        const double sorted = SelectAll(host);
        const double bare = BareSelectAll(host.Host(), count);
        std::printf("%8d %10.1f %10.1f %10.1f %7.2f\n", count, unsorted, sorted, bare,
                    sorted / unsorted);
    }

    std::printf("\nfind in 100,000 rows, one sender in eight beyond ASCII, no row matching: every "
                "row looked at (ms; best of 3; at most 50 wanted)\n");
    Load(host, MakeRows(100000));
    for (const wchar_t* text : {L"no such text", L"n\x00f6 such t\x00e9xt"}) {
        std::ptrdiff_t found = 0;
        const double took = bench::BestOf(
            3, nullptr, [&] { found = message_find::Next(host.View().Rows(), text, 0, true); });
        std::printf("%14s %12.1f %s\n", text[1] == L'o' ? "ASCII text" : "accented text", took,
                    found < 0 ? "" : "(a row matched: not a full pass)");
    }
    return 0;
}
