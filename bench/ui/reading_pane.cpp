// The reading pane: from a row's selection to the pane's first screen painted,
// for messages of 1 KB, 1 MB and 50 MB (and the part of it that is the pane's,
// past the store's open), and the longest time the window took
// for one message while the rest came in; then, while the Down key goes through
// 1,000 rows, the longest turn and the longest another process waited for the
// window to answer, beside the same with the pane off. Each beside the store's
// own copy of the same source into memory.
#include "BenchSupport.h"
#include "StoreDouble.h"
#include "main/MainUnit.h"
#include "main/commands/MessageSourceCommands.h"

#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string Source(size_t bytes) {
    std::string text = "From: Bench <bench@example.org>\r\nSubject: bench\r\n"
                       "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                       "Content-Type: text/plain\r\n\r\n";
    const size_t textBytes = std::min<size_t>(bytes / 2, 2 * 1024 * 1024);
    while (text.size() < textBytes)
        text += "Line " + std::to_string(text.size()) + " of a long message body, and more.\r\n";
    text += "--b\r\nContent-Type: application/octet-stream; name=data.bin\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n";
    while (text.size() + 80 < bytes)
        text += "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n";
    return text + "--b--\r\n";
}

TBrisvanderMain* g_window = nullptr; // its keys go through it, as the program's loop does

// Dispatches until nothing came for `quietMs`; the longest one dispatch took.
double Drain(double quietMs) {
    double longest = 0;
    double last = bench::Now();
    MSG message;
    while (bench::Now() - last < quietMs) {
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            Sleep(1);
            continue;
        }
        const double taken = bench::Now();
        if (!g_window || !g_window->PreTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        last = bench::Now();
        longest = std::max(longest, last - taken);
    }
    return longest;
}

} // namespace

int main(int argc, char** argv) {
    bench::OutsideAsker::RunIfAsked(argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    int failures = 0;
    {
        auto store = storedouble::StoreDouble::Create();
        store->AddFolder(1, 0, "Inbox", FOLDER_INBOX);
        const std::pair<const char*, size_t> sizes[] = {
            {"1 KB", 1024}, {"1 MB", 1024 * 1024}, {"50 MB", 50 * 1024 * 1024}};
        MESSAGEID id = 0;
        for (auto [label, bytes] : sizes) {
            auto message = storedouble::Message(++id, "Bench", label);
            message.source = Source(bytes);
            store->AddMessage(1, message);
        }
        for (int i = 0; i < 1000; ++i) {
            auto message = storedouble::Message(++id, "Bench", "row");
            message.source = Source(4096);
            store->AddMessage(1, message);
        }
        TBrisvanderMain window([&](IStoreNamespace** result) {
            *result = store.Get();
            (*result)->AddRef();
            return S_OK;
        });
        if (!window.Create(GetModuleHandleW(nullptr), SW_SHOW))
            return 1;
        g_window = &window;
        Drain(200);
        window.ToggleReadingPane();
        HWND list = window.ListViewMessages();
        Microsoft::WRL::ComPtr<IStoreFolder> folder = window.OpenedFolder();

        // The store's open alone is what the first screen cannot beat: this test
        // store copies the whole source at open (the real one streams it).
        std::printf("reading pane (ms)\n%7s %11s %11s %13s %11s %14s %10s\n", "message",
                    "store copy", "store open", "first screen", "pane's part", "longest turn",
                    "complete");
        for (int row = 0; row < 3; ++row) {
            const MESSAGEID mid = window.Rows().Id(static_cast<size_t>(row));
            double copy = bench::BestOf(1, nullptr, [&] {
                if (!message_source::ReadSource(folder.Get(), mid).stream)
                    ++failures;
            });
            double open = bench::BestOf(1, nullptr, [&] {
                Microsoft::WRL::ComPtr<IStream> stream;
                if (folder->OpenMessage(mid, IID_IStream,
                                        reinterpret_cast<void**>(stream.GetAddressOf())) != S_OK)
                    ++failures;
            });
            const double start = bench::Now();
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
            ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            window.Reading().Follow();
            UpdateWindow(window.Handle());
            RedrawWindow(window.Reading().Handle(), nullptr, nullptr,
                         RDW_UPDATENOW | RDW_ALLCHILDREN);
            const double first = bench::Now() - start;
            const double longest = Drain(300);
            const double complete = bench::Now() - start - 300;
            if (!window.Reading().Complete() || window.Reading().Attachments().size() != 1)
                ++failures;
            std::printf("%7s %11.1f %11.1f %13.1f %11.1f %14.1f %10.1f\n", sizes[row].first, copy,
                        open, first, first - open, longest, complete);
            std::fflush(stdout);
        }

        // Down through 1,000 rows of 4 KB messages, a key every 30 ms as a held key
        // repeats, while another process asks the window WM_NULL every 10 ms:
        // first with the pane off (the list alone, the floor), then with it on.
        double copy = bench::BestOf(3, nullptr, [&] {
            if (!message_source::ReadSource(folder.Get(), window.Rows().Id(4)).stream)
                ++failures;
        });
        std::printf("arrowing down 1,000 rows (ms)\n%11s %11s %14s %13s %12s %12s\n", "pane",
                    "store copy", "longest turn", "longest wait", "per row", "last shown");
        for (bool pane : {false, true}) {
            if (window.Reading().Visible() != pane)
                window.ToggleReadingPane();
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
            ListView_SetItemState(list, 3, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            SetFocus(list);
            Drain(100);
            bench::OutsideAsker asker(window.Handle(), WM_NULL, 10);
            double longest = 0;
            const double start = bench::Now();
            double lastKey = start;
            for (int i = 0; i < 999; ++i) {
                // Bit 30 on every key after the first: a held key's repeats.
                PostMessageW(list, WM_KEYDOWN, VK_DOWN, i == 0 ? 1 : 1 | (1 << 30));
                const double turn = lastKey = bench::Now();
                longest = std::max(longest, Drain(5));
                // The rest of the key's 30 ms, answering what comes.
                while (bench::Now() - turn < 30)
                    longest = std::max(longest, Drain(1));
            }
            // The key let go: until the row it stopped on shows, from its last key.
            PostMessageW(list, WM_KEYUP, VK_DOWN, 1 | (3u << 30));
            const double total = bench::Now() - start;
            while (pane && window.Reading().MessageId() != window.Rows().Id(1002) &&
                   bench::Now() - lastKey < 2000)
                longest = std::max(longest, Drain(1));
            char shown[16] = "-";
            if (pane)
                std::snprintf(shown, sizeof shown, "%.1f", bench::Now() - lastKey);
            Drain(100);
            const double waited = asker.Stop();
            if (pane && window.Reading().MessageId() != window.Rows().Id(1002))
                ++failures;
            std::printf("%11s %11.2f %14.1f %13.1f %12.2f %12s\n", pane ? "on" : "off (floor)",
                        copy, longest, waited, total / 999, shown);
            std::fflush(stdout);
        }
        window.Destroy();
    }
    CoUninitialize();
    if (failures)
        std::printf("FAILED: %d runs did not do their work\n", failures);
    return failures ? 1 : 0;
}
