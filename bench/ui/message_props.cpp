// "Properties" from the command to the dialog shown with the whole source in
// its box, for sources of 10 KB, 1 MB and 10 MB, against the store's own copy
// of the same source into memory; and "Save to file" of a 50 MB source against
// a plain copy of a file of the same bytes.
#include "BenchSupport.h"
#include "MessageSource.h"
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
    double shownAt = 0; // when the last dialog had painted

    int ShowMessage(HWND, const std::wstring&, const std::wstring&, UINT) override { return IDOK; }
    bool InputBox(HWND, const std::wstring&, const std::wstring&, std::wstring&) override {
        return false;
    }
    bool SaveFile(HWND, ui::SaveFileRequest& request) override {
        request.fileName = saveAs;
        return true;
    }
    INT_PTR ShowModal(HWND, ui::ModalDialog& dialog) override {
        HWND window = static_cast<ui::Dialog&>(dialog).Hwnd();
        ShowWindow(window, SW_SHOW);
        bench::Paint(window);
        shownAt = bench::Now();
        return IDOK;
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

        std::printf("properties dialog with the whole source (ms; best of 3, one run at 10 MB)\n");
        std::printf("%8s %14s %14s %8s\n", "source", "store copy", "dialog shown", "ratio");
        const std::pair<const char*, size_t> sizes[] = {
            {"10 KB", 10 * 1024}, {"1 MB", 1024 * 1024}, {"10 MB", 10 * 1024 * 1024}};
        MESSAGEID id = 0;
        for (auto [label, bytes] : sizes) {
            auto message = storedouble::Message(++id, "Bench <bench@example.org>", "bench");
            message.source = Source(bytes);
            store->AddMessage(1, message);
            const int runs = bytes > 1024 * 1024 ? 1 : 3;
            double copy = bench::BestOf(3, nullptr, [&] {
                if (message_source::ReadSource(folder.Get(), id).size != bytes)
                    ++failures;
            });
            // Up to the painted dialog: closing it is not part of the wait.
            double shown = 1e300;
            for (int run = 0; run < runs; ++run) {
                const double start = bench::Now();
                message_source::ShowProperties(folder.Get(), id, nullptr, host);
                shown = std::min(shown, host.shownAt - start);
            }
            std::printf("%8s %14.1f %14.1f %8.1f\n", label, copy, shown, shown / copy);
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
