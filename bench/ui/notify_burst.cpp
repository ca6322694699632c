// Bursts of store notifications reaching the main window while its list shows
// a folder of 100,000 messages: NEWMSGS, DELETEMSGS and single-message
// MARKEDASREAD, each posted 10,000 times (or the count given as the first
// argument), then timed from the first taken from the queue until the window
// has handled them all, shown the log and painted; against the store's own
// enumeration of the folder in the same run.
#include "BenchSupport.h"
#include "StoreDouble.h"
#include "main/MainUnit.h"
#include "main/views/MessageRows.h"
#include "StoreRecords.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kFolderSize = 100000;
constexpr STOREFOLDERID kFolder = 1;

// Handles everything queued, shows the log and paints: what the user waits for.
double Drain(TBrisvanderMain& window, double start) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    window.FlushLog();
    bench::Paint(window.Handle());
    return bench::Now() - start;
}

bool RowsMatchStore(TBrisvanderMain& window, storedouble::StoreDouble& store) {
    MessageRows& rows = window.Rows();
    const std::vector<storedouble::MessageSpec>& messages = store.Messages(kFolder);
    if (rows.Count() != messages.size())
        return false;
    for (size_t i = 0; i < rows.Count(); ++i)
        if (rows.At(i).id != messages[i].id)
            return false;
    return true;
}

size_t LogLines(TBrisvanderMain& window) {
    std::string text = window.LogText();
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2)
        ++lines;
    return lines;
}

} // namespace

int main(int argc, char** argv) {
    int burst = argc > 1 ? std::atoi(argv[1]) : 10000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    Microsoft::WRL::ComPtr<storedouble::StoreDouble> store = storedouble::StoreDouble::Create();
    store->RecordCalls(false);
    store->AddFolder(kFolder, FOLDERID_ROOT, "Inbox", FOLDER_INBOX);
    std::vector<storedouble::MessageSpec>& messages = store->Messages(kFolder);
    messages = storedouble::ManyMessages(1, kFolderSize);
    double start = bench::Now();
    int failedPosts = 0;
    {
        TBrisvanderMain window([&](IStoreNamespace** result) {
            *result = store.Get();
            (*result)->AddRef();
            return S_OK;
        });
        window.Create(GetModuleHandleW(nullptr), SW_SHOW);
        double open = Drain(window, start);
        HWND hwnd = window.Handle();
        Microsoft::WRL::ComPtr<IStoreFolder> folder;
        store->OpenFolder(kFolder, 0, folder.GetAddressOf());
        double enumerate = bench::EnumerateMessages(folder.Get());
        std::printf("notification bursts on a folder of %d messages (ms)\n", kFolderSize);
        std::printf("start-up with the folder loaded: %.1f; one enumeration: %.1f\n", open,
                    enumerate);
        std::printf("%-34s %10s %14s %6s\n", "burst", "ms", "enumerations", "check");

        auto report = [&](const char* name, double ms, bool ok) {
            std::printf("%-34s %10.1f %14.2f %6s\n", name, ms, ms / enumerate, ok ? "ok" : "WRONG");
            std::fflush(stdout);
        };

        // New messages spread through the folder: each lands after an old one.
        std::vector<storedouble::MessageSpec> fresh = storedouble::ManyMessages(1000001, burst);
        std::vector<storedouble::MessageSpec> merged;
        merged.reserve(messages.size() + fresh.size());
        size_t step = messages.size() / static_cast<size_t>(burst > 0 ? burst : 1);
        for (size_t i = 0, f = 0; i < messages.size(); ++i) {
            merged.push_back(messages[i]);
            if (f < fresh.size() && step > 0 && i % step == step - 1)
                merged.push_back(fresh[f++]);
        }
        messages = std::move(merged);
        size_t linesBefore = LogLines(window);
        for (const storedouble::MessageSpec& message : fresh)
            failedPosts += !PostMessageW(hwnd, WM_NEWMSGS, message.id, 0);
        start = bench::Now();
        double ms = Drain(window, start);
        report("NEWMSGS", ms,
               RowsMatchStore(window, *store.Get()) &&
                   LogLines(window) == linesBefore + fresh.size());

        // Deleting every tenth message.
        std::vector<MESSAGEID> gone;
        std::vector<storedouble::MessageSpec> kept;
        for (size_t i = 0; i < messages.size(); ++i) {
            if (i % 10 == 3 && gone.size() < static_cast<size_t>(burst))
                gone.push_back(messages[i].id);
            else
                kept.push_back(messages[i]);
        }
        messages = std::move(kept);
        for (const MESSAGEID& id : gone)
            failedPosts += !PostMessageW(hwnd, WM_DELETEMSGS, reinterpret_cast<WPARAM>(&id), 0);
        start = bench::Now();
        ms = Drain(window, start);
        report("DELETEMSGS", ms, RowsMatchStore(window, *store.Get()));

        // Marking single messages read.
        std::vector<MESSAGEID> marked;
        for (size_t i = 0; i < messages.size() && marked.size() < gone.size(); i += 3)
            if (window.Rows().At(i).image == 1)
                marked.push_back(messages[i].id);
        start = bench::Now();
        for (const MESSAGEID& id : marked)
            failedPosts += !PostMessageW(hwnd, WM_MARKEDASREAD, reinterpret_cast<WPARAM>(&id), 0);
        ms = Drain(window, start);
        bool allRead = true;
        for (MESSAGEID id : marked) {
            std::ptrdiff_t row = window.Rows().FindFirst(id);
            allRead = allRead && row >= 0 && window.Rows().At(static_cast<size_t>(row)).image == 0;
        }
        report("MARKEDASREAD (single messages)", ms, allRead && marked.size() > 0);
        // The same new and deleted messages while the list is sorted by time:
        // each lands in, or leaves, its sorted place.
        window.Messages().SortBy(message_sort::kReceived);
        std::vector<storedouble::MessageSpec> later = storedouble::ManyMessages(2000001, burst);
        messages.insert(messages.end(), later.begin(), later.end());
        const size_t sortedBefore = window.Rows().Count();
        for (const storedouble::MessageSpec& message : later)
            failedPosts += !PostMessageW(hwnd, WM_NEWMSGS, message.id, 0);
        start = bench::Now();
        ms = Drain(window, start);
        report("NEWMSGS, sorted by Received", ms,
               window.Rows().Count() == sortedBefore + later.size());
        messages.resize(messages.size() - later.size());
        std::vector<MESSAGEID> laterIds;
        for (const storedouble::MessageSpec& message : later)
            laterIds.push_back(message.id);
        for (const MESSAGEID& id : laterIds)
            failedPosts += !PostMessageW(hwnd, WM_DELETEMSGS, reinterpret_cast<WPARAM>(&id), 0);
        start = bench::Now();
        ms = Drain(window, start);
        report("DELETEMSGS, sorted by Received", ms, window.Rows().Count() == sortedBefore);
        // Taking as many posted messages from the queue that nobody handles.
        for (int i = 0; i < burst; ++i)
            failedPosts += !PostMessageW(hwnd, WM_APP + 7, 0, 0);
        start = bench::Now();
        ms = Drain(window, start);
        report("unhandled messages (for comparison)", ms, true);

        // The log alone: as many lines as one burst writes, through the same panel.
        start = bench::Now();
        for (int i = 0; i < burst; ++i)
            window.Log("MARKEDASREAD MsgId=" + std::to_string(1000000 + i));
        ms = Drain(window, start);
        report("log lines alone (for comparison)", ms, true);

        if (failedPosts)
            std::printf("posts refused: %d\n", failedPosts);
        window.Destroy();
    }
    CoUninitialize();
    return 0;
}
