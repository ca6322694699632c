// "Properties" from the command to the dialog shown (labels filled, the first
// screenful of the source in its box), then the longest time the dialog went
// without taking a message while the rest of the source came in, for sources
// of 1, 10 and 50 MB, against the store's own copy of the same source into
// memory; and "Save to file" of a 50 MB source against a plain copy of a file
// of the same bytes.
#include "BenchSupport.h"
#include "main/commands/MessageSourceCommands.h"
#include "StoreDouble.h"
#include "UnitMessProps.h"
#include "ui/Modal.h"

#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Shows the dialog and lets it paint, then closes it; names the file to save to.
class BenchHost final : public ui::ModalHost {
  public:
    std::wstring saveAs;
    int errors = 0;
    double shownAt = 0;  // when the last dialog had painted
    double longest = 0;  // longest time without taking a message while it loaded
    double loadedMs = 0; // how long it loaded (at most kLoadMs)
    long loadedChars = 0;
    bool loadedAll = false;
    static constexpr double kLoadMs = 15000;

    int ShowMessage(HWND, const std::wstring&, const std::wstring&, UINT) override { return IDOK; }
    bool InputBox(HWND, const std::wstring&, const std::wstring&, std::wstring&) override {
        return false;
    }
    bool SaveFile(HWND, ui::SaveFileRequest& request) override {
        request.fileName = saveAs;
        return true;
    }
    INT_PTR ShowModal(HWND owner, ui::ModalDialog& dialog) override {
        auto& props = static_cast<TFormMessProps&>(dialog);
        // Made as it is when shown; this loop stands in for the modal one.
        if (!props.Create(owner))
            return IDCANCEL;
        HWND window = props.Hwnd();
        ShowWindow(window, SW_SHOW);
        // Painted now; the source's idle turns come from the loop below.
        RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        shownAt = bench::Now();
        longest = 0;
        MSG message;
        while (props.Loading() && bench::Now() - shownAt < kLoadMs) {
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                WaitMessage();
                continue;
            }
            const double taken = bench::Now();
            DispatchMessageW(&message);
            longest = std::max(longest, bench::Now() - taken);
        }
        loadedMs = bench::Now() - shownAt;
        loadedAll = !props.Loading();
        loadedChars = GetWindowTextLengthW(props.RichEdit1());
        SendMessageW(window, WM_COMMAND, IDCANCEL, 0); // the user closes it
        return IDCANCEL;
    }
    UINT ShowMenu(HWND, HMENU, POINT) override { return 0; }
    void ErrorBox(HWND, const std::wstring&) override { ++errors; }
};

std::string Source(size_t bytes) {
    std::string text = "From: bench@example.org\r\nSubject: bench\r\n\r\n";
    while (text.size() < bytes)
        text += "Line " + std::to_string(text.size()) + " of a long message body, and more.\r\n";
    text.resize(bytes);
    return text;
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

} // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    int failures = 0;
    {
        auto store = storedouble::StoreDouble::Create();
        store->AddFolder(1, 0, "Inbox", FOLDER_INBOX);
        Microsoft::WRL::ComPtr<IStoreFolder> folder;
        store->OpenFolder(1, 0, &folder);
        BenchHost host;

        std::printf("properties dialog (ms), the source loading for at most %.0f s\n",
                    BenchHost::kLoadMs / 1000);
        std::printf("%7s %11s %13s %14s %20s\n", "source", "store copy", "dialog shown",
                    "longest gap", "loaded");
        const std::pair<const char*, size_t> sizes[] = {
            {"1 MB", 1024 * 1024}, {"10 MB", 10 * 1024 * 1024}, {"50 MB", 50 * 1024 * 1024}};
        MESSAGEID id = 0;
        for (auto [label, bytes] : sizes) {
            auto message = storedouble::Message(++id, "Bench <bench@example.org>", "bench");
            message.source = Source(bytes);
            store->AddMessage(1, message);
            double copy = bench::BestOf(1, nullptr, [&] {
                if (message_source::ReadSource(folder.Get(), id).size != bytes)
                    ++failures;
            });
            const double start = bench::Now();
            message_source::ShowProperties(folder.Get(), id, nullptr, host);
            const double shown = host.shownAt - start;
            char loaded[64];
            std::snprintf(loaded, sizeof loaded, "%s %.1f MB in %.1f s",
                          host.loadedAll ? "all," : "part,", host.loadedChars / 1048576.0,
                          host.loadedMs / 1000);
            std::printf("%7s %11.1f %13.1f %14.1f %20s\n", label, copy, shown, host.longest,
                        loaded);
            std::fflush(stdout);
        }

        const size_t big = 50 * 1024 * 1024;
        auto message = storedouble::Message(++id, "Bench <bench@example.org>", "bench");
        message.source = Source(big);
        const std::wstring original = TempPath(L"bris-bench-source.eml");
        const std::wstring copied = TempPath(L"bris-bench-copy.eml");
        host.saveAs = TempPath(L"bris-bench-saved.eml");
        std::ofstream(original.c_str(), std::ios::binary) << message.source;
        store->AddMessage(1, std::move(message));
        double plain = bench::BestOf(3, nullptr, [&] {
            if (!CopyFileW(original.c_str(), copied.c_str(), FALSE))
                ++failures;
        });
        double saved = bench::BestOf(
            3, nullptr, [&] { message_source::SaveToFile(folder.Get(), id, nullptr, host); });
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (host.errors ||
            !GetFileAttributesExW(host.saveAs.c_str(), GetFileExInfoStandard, &data) ||
            data.nFileSizeLow != big)
            ++failures;
        // What the store itself takes to hand out the stream, part of every save.
        double opened = bench::BestOf(3, nullptr, [&] {
            Microsoft::WRL::ComPtr<IStream> stream;
            if (FAILED(folder->OpenMessage(id, IID_IStream,
                                           reinterpret_cast<void**>(stream.GetAddressOf()))))
                ++failures;
        });
        std::printf("save 50 MB (ms; best of 3)\n%14s %14s %8s %18s\n", "plain copy",
                    "save to file", "ratio", "of it, store open");
        std::printf("%14.1f %14.1f %8.2f %18.1f\n", plain, saved, saved / plain, opened);
        for (const auto& path : {original, copied, host.saveAs})
            DeleteFileW(path.c_str());
    }
    CoUninitialize();
    if (failures)
        std::printf("FAILED: %d runs did not do their work\n", failures);
    return failures ? 1 : 0;
}
