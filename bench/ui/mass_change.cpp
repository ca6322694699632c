// Mass changes in the main window on the real store server, in process: all
// of a folder's 20,000 or 100,000 messages selected (Ctrl+A) and marked read,
// moved to another folder and back (sorted by Received the second time), then
// deleted, sorted and not. For each: the store call, the longest time the
// window went without taking a message from its queue, the longest wait of
// another process asking it WM_NULL every 20 ms meanwhile, and the time until
// the last row changed, beside the floor: a bare window taking as many posted
// messages and emptying a bare owner-data list; and until the log showed
// every line.
// Then the same at 20,000 with another process also reading the list's row
// count every millisecond.
// The store is seeded through the engine, which is not timed. Sizes may be
// given as arguments; "reader" adds the run with the reader at those sizes.
#include "BenchSupport.h"
#include "main/MainUnit.h"
#include "StoreObjects.h"
#include "UnitFoldersList.h"
#include "main/views/MessageSort.h"
#include "ui/Modal.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// Answers Yes, and picks the target folder in the folder dialog.
class BenchHost final : public ui::ModalHost {
  public:
    STOREFOLDERID target = 0;
    int ShowMessage(HWND, const std::wstring&, const std::wstring&, UINT) override { return IDYES; }
    bool InputBox(HWND, const std::wstring&, const std::wstring&, std::wstring&) override {
        return false;
    }
    bool SaveFile(HWND, ui::SaveFileRequest&) override { return false; }
    INT_PTR ShowModal(HWND, ui::ModalDialog& dialog) override {
        if (auto* folders = dynamic_cast<TFormFoldersList*>(&dialog))
            folders->ChosenId = target;
        return IDOK;
    }
    UINT ShowMenu(HWND, HMENU, POINT) override { return 0; }
    void ErrorBox(HWND, const std::wstring&) override {}
};

std::string Source(size_t i) {
    return "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) +
           "@example.org>\r\nTo: team@example.org\r\nSubject: Mass " + std::to_string(i) +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\nBody " + std::to_string(i) + "\r\n";
}

bool Seed(const std::filesystem::path& dir, size_t count, mailstore::FolderId* source,
          mailstore::FolderId* target, mailstore::FolderId* spare) {
    mailstore::OpenOptions options;
    options.create = true;
    std::unique_ptr<mailstore::Store> engine;
    const auto u8 = dir.generic_u8string();
    if (!mailstore::Store::Open(std::string(u8.begin(), u8.end()), options, &engine).ok() ||
        !engine->CreateFolder(mailstore::kRootFolder, "Mass", source).ok() ||
        !engine->CreateFolder(mailstore::kRootFolder, "Target", target).ok() ||
        !engine->CreateFolder(mailstore::kRootFolder, "Spare", spare).ok())
        return false;
    std::vector<std::string> sources;
    for (size_t i = 0; i < count; ++i)
        sources.push_back(Source(i));
    std::vector<mailstore::ImportItem> items(count);
    for (size_t i = 0; i < count; ++i)
        items[i].source = sources[i];
    std::vector<mailstore::MessageId> ids;
    return engine->ImportMessages(*source, items, &ids).ok() &&
           engine->ImportMessages(*spare, items, &ids).ok();
}

struct Timing {
    double call = 0;    // the command, store call included
    double longest = 0; // longest time without taking a message
    double done = 0;    // until the queue was idle and the rows painted
    double log = 0;     // until the log showed every line
    double asked = 0;   // longest wait of another process asking WM_NULL
};

// Runs the command as the menu would, then the queue until the window is idle.
Timing Run(TBrisvanderMain& window, UINT command) {
    Timing timing;
    bench::OutsideAsker asker(window.Handle(), WM_NULL, 20);
    const double start = bench::Now();
    SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
    timing.call = timing.longest = bench::Now() - start;
    timing.longest = std::max(timing.longest, bench::PumpWhile([&] { return window.Busy(); }));
    // Paints what waits; the log's slices go on below.
    const double painting = bench::Now();
    RedrawWindow(window.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    timing.longest = std::max(timing.longest, bench::Now() - painting);
    timing.done = bench::Now() - start;
    // The log catches up in slices from its timer, the queue answered between.
    timing.longest =
        std::max(timing.longest, bench::PumpWhile([&] { return window.LogPendingLines() > 0; }));
    bench::Paint(window.Handle());
    timing.log = bench::Now() - start;
    timing.asked = asker.Stop();
    return timing;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++count;
    return count;
}

// Sorts the list by Received and waits until it shows.
void SortByReceived(TBrisvanderMain& window) {
    window.Messages().SortBy(message_sort::kReceived);
    while (window.Messages().Sorting())
        bench::Paint(window.Handle());
    bench::Paint(window.Handle());
}

// The floor: a bare window given as many posted messages, in turns of the
// server's size each posted when the last one's drain message comes out, and
// a bare owner-data list of as many selected rows emptied once they are all
// in, then painted. What any window pays for the notifications alone.
struct BareReceiver {
    static constexpr UINT kNote = WM_APP + 1;
    static constexpr UINT kDrain = WM_APP + 2;
    static constexpr size_t kTurn = 4000; // the server's posts per turn
    size_t toPost = 0;
    size_t left = 0;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<BareReceiver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && message == kNote) {
            --self->left;
            return 0;
        }
        if (self && message == kDrain) {
            for (size_t i = 0; i < kTurn && self->toPost > 0; ++i, --self->toPost)
                PostMessageW(hwnd, kNote, 0, 0);
            if (self->toPost > 0)
                PostMessageW(hwnd, kDrain, 0, 0);
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
};

// With `reader`, the bare list is asked its row count every 1 ms too: the
// platform's own cost of answering the reader.
Timing BareFloor(size_t count, bool reader) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = BareReceiver::Proc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"BenchBareReceiver";
    RegisterClassW(&cls);
    HWND host = CreateWindowExW(0, cls.lpszClassName, L"bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 700, 500, nullptr, nullptr, cls.hInstance, nullptr);
    HWND list =
        CreateWindowExW(0, WC_LISTVIEWW, L"",
                        WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA, 0,
                        0, 680, 460, host, nullptr, cls.hInstance, nullptr);
    LVCOLUMNW column{};
    column.mask = LVCF_WIDTH;
    column.cx = 200;
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count), 0);
    ListView_SetItemState(list, -1, LVIS_SELECTED, LVIS_SELECTED);
    bench::Paint(host);
    std::unique_ptr<bench::OutsideAsker> rowCounts;
    if (reader)
        rowCounts = std::make_unique<bench::OutsideAsker>(list, LVM_GETITEMCOUNT, 1);
    BareReceiver receiver;
    receiver.toPost = receiver.left = count;
    SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&receiver));
    Timing timing;
    bench::OutsideAsker asker(host, WM_NULL, 20);
    const double start = bench::Now();
    PostMessageW(host, BareReceiver::kDrain, 0, 0);
    timing.longest = bench::PumpWhile([&] { return receiver.left > 0; });
    const double emptying = bench::Now();
    SendMessageW(list, LVM_SETITEMCOUNT, 0, 0);
    bench::Paint(host);
    timing.longest = std::max(timing.longest, bench::Now() - emptying);
    timing.done = bench::Now() - start;
    timing.asked = asker.Stop();
    SetWindowLongPtrW(host, GWLP_USERDATA, 0);
    DestroyWindow(host);
    return timing;
}

bool BenchSize(size_t count, bool reader) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        (L"bench-mass-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(count));
    std::filesystem::remove_all(dir);
    mailstore::FolderId source = 0, target = 0, spare = 0;
    if (!Seed(dir, count, &source, &target, &spare)) {
        std::printf("%8zu seeding failed\n", count);
        return false;
    }
    SetEnvironmentVariableW(L"MAILSTORE_DIR", dir.c_str());
    bool ok = true;
    const Timing floor = BareFloor(count, reader);
    std::printf(
        "%8zu %-19s %8s %10s %10.1f %10.1f %12.1f   (the floor: a bare window and list)%s\n", count,
        "bare", "", "", floor.longest, floor.asked, floor.done,
        reader ? "  (row count read every 1 ms)" : "");
    {
        BenchHost host;
        host.target = target;
        TBrisvanderMain window(
            [](IStoreNamespace** result) {
                return mailstore::com::CreateNamespace(IID_IStoreNamespace,
                                                       reinterpret_cast<void**>(result));
            },
            &host);
        window.Create(GetModuleHandleW(nullptr), SW_SHOW);
        const struct {
            const char* name;
            UINT command;
            STOREFOLDERID from, to;
            bool sorted;
            const char* line;
        } steps[] = {{"mark read", IDM_MARKASREAD1, source, target, false, "MARKEDASREAD MsgId="},
                     {"move", IDM_MOVETOFOLDER1, source, target, false, "DELETEMSGS MsgId="},
                     {"move", IDM_MOVETOFOLDER1, target, source, true, "DELETEMSGS MsgId="},
                     {"delete", IDM_DELETE2, source, 0, true, "DELETEMSGS MsgId="},
                     {"delete", IDM_DELETE2, spare, 0, false, "DELETEMSGS MsgId="}};
        std::unique_ptr<bench::OutsideAsker> rowCounts;
        if (reader)
            rowCounts = std::make_unique<bench::OutsideAsker>(window.ListViewMessages(),
                                                              LVM_GETITEMCOUNT, 1);
        for (const auto& step : steps) {
            window.RebuildTree(step.from);
            bench::Paint(window.Handle());
            if (step.sorted)
                SortByReceived(window);
            host.target = step.to;
            const double selecting = bench::Now();
            window.Messages().SelectAll(); // what Ctrl+A does
            bench::Paint(window.Handle());
            const double selectAll = bench::Now() - selecting;
            const size_t before = Count(window.LogText(), step.line);
            const Timing t = Run(window, step.command);
            const size_t lines = Count(window.LogText(), step.line) - before;
            const bool rowsOk = std::string(step.name) == "mark read"
                                    ? window.Rows().Count() == count
                                    : window.Rows().Count() == 0;
            ok = ok && rowsOk && lines == count;
            std::printf(
                "%8zu %-10s %-8s %8.1f %10.1f %10.1f %10.1f %12.1f %8.1f %7.2f %9.1f %6s%s\n",
                count, step.name, step.sorted ? "sorted" : "", selectAll, t.call, t.longest,
                t.asked, t.done, floor.done, t.done / floor.done, t.log,
                rowsOk && lines == count ? "ok" : "WRONG",
                reader ? "  (row count read every 1 ms)" : "");
            std::fflush(stdout);
        }
        if (rowCounts)
            rowCounts->Stop();
        window.Destroy();
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    bench::OutsideAsker::RunIfAsked(argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    // "reader" among the sizes: each size again with the row count read every 1 ms.
    std::vector<size_t> sizes;
    bool withReader = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "reader")
            withReader = true;
        else
            sizes.push_back(static_cast<size_t>(std::atol(argv[i])));
    }
    const bool defaults = sizes.empty();
    if (defaults)
        sizes = {20000, 100000};
    std::printf("mass changes on the store server, every message of a folder selected (ms; last "
                "row within 5,000 and never silent over 250 wanted)\n");
    std::printf("%8s %-10s %-8s %8s %10s %10s %10s %12s %8s %7s %9s %6s\n", "messages", "change",
                "list", "Ctrl+A", "command", "longest", "WM_NULL", "last row", "floor", "ratio",
                "log", "check");
    bool ok = true;
    for (size_t count : sizes)
        ok = BenchSize(count, false) && ok;
    if (defaults)
        ok = BenchSize(20000, true) && ok;
    for (size_t count : withReader ? sizes : std::vector<size_t>())
        ok = BenchSize(count, true) && ok;
    CoUninitialize();
    return ok ? 0 : 1;
}
