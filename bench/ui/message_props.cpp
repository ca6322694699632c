// "Properties" from the command to the dialog shown (labels filled, the first
// screenful of the source in its box), then the longest wait of another
// process asking it WM_NULL while the rest of the source came in, and how long
// all of it took against a bare rich edit given the same text at once, for
// sources of 1 and 10 MB (or the sizes in MB given as arguments); and
// "Save to file" of a 50 MB source against a plain copy of a file of the same
// bytes.
#include "BenchSupport.h"
#include "main/commands/MessageSourceCommands.h"
#include "StoreDouble.h"
#include "UnitMessProps.h"
#include "ui/Modal.h"

#include <objbase.h>
#include <richedit.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>
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
    double longest = 0;  // longest wait of another process's WM_NULL while it loaded
    double loadedMs = 0; // how long it loaded (at most kLoadMs)
    long loadedChars = 0;
    bool loadedAll = false;
    double loadMs = 15000; // how long it may load

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
        bench::OutsideAsker asker(window, WM_NULL, 20);
        MSG message;
        while (props.Loading() && bench::Now() - shownAt < loadMs) {
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                WaitMessage();
                continue;
            }
            DispatchMessageW(&message);
        }
        longest = asker.Stop();
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

struct BareCookie {
    const char* data;
    size_t left;
};

DWORD CALLBACK GiveAll(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got) {
    auto* from = reinterpret_cast<BareCookie*>(cookie);
    const size_t count = std::min(from->left, static_cast<size_t>(wanted > 0 ? wanted : 0));
    std::memcpy(buffer, from->data, count);
    from->data += count;
    from->left -= count;
    *got = static_cast<LONG>(count);
    return 0;
}

// A bare rich edit given the whole text at once: the floor of the dialog's load.
double BareRichEdit(const std::string& text) {
    LoadLibraryW(L"riched20.dll");
    HWND box = CreateWindowExW(
        0, L"RichEdit20W", L"",
        WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_MULTILINE | WS_VSCROLL | ES_AUTOVSCROLL, 0, 0, 600,
        400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(box, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    BareCookie cookie{text.data(), text.size()};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&cookie), 0, GiveAll};
    const double start = bench::Now();
    SendMessageW(box, EM_STREAMIN, SF_TEXT, reinterpret_cast<LPARAM>(&stream));
    bench::Paint(box);
    const double took = bench::Now() - start;
    DestroyWindow(box);
    return took;
}

// The bare load in a process of its own: a box given more lines than it can
// hold may end its process, and the benchmark goes on. Milliseconds, or -1
// when the box ended the process.
constexpr const char* kBareFlag = "--bare";

double BareRichEditApart(size_t megabytes) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" --bare " + std::to_wstring(megabytes);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    // A clean exit carries tenths of a millisecond, far below the codes of a fault.
    return code < 0x40000000 ? code / 10.0 : -1;
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

} // namespace

int main(int argc, char** argv) {
    bench::OutsideAsker::RunIfAsked(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], kBareFlag) == 0)
        return static_cast<int>(
            BareRichEdit(Source(static_cast<size_t>(std::atol(argv[2])) * 1024 * 1024)) * 10);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    int failures = 0;
    {
        auto store = storedouble::StoreDouble::Create();
        store->AddFolder(1, 0, "Inbox", FOLDER_INBOX);
        Microsoft::WRL::ComPtr<IStoreFolder> folder;
        store->OpenFolder(1, 0, &folder);
        BenchHost host;

        std::printf("properties dialog (ms): the whole source in within 1.5 times a bare rich "
                    "edit given it at once wanted\n");
        std::printf("%7s %11s %13s %14s %12s %12s %7s\n", "source", "store copy", "dialog shown",
                    "longest gap", "all in", "bare edit", "ratio");
        std::vector<std::pair<std::string, size_t>> sizes;
        for (int i = 1; i < argc; ++i)
            sizes.emplace_back(std::string(argv[i]) + " MB",
                               static_cast<size_t>(std::atol(argv[i])) * 1024 * 1024);
        // Not 50 MB by default: under Wine the box itself ends its process
        // past about 11 MB of such lines, the bare one as the dialog's.
        if (sizes.empty())
            sizes = {{"1 MB", 1024 * 1024}, {"10 MB", 10 * 1024 * 1024}};
        MESSAGEID id = 0;
        for (const auto& [label, bytes] : sizes) {
            auto message = storedouble::Message(++id, "Bench <bench@example.org>", "bench");
            message.source = Source(bytes);
            const double bare = BareRichEditApart(bytes / (1024 * 1024));
            store->AddMessage(1, message);
            double copy = bench::BestOf(1, nullptr, [&] {
                if (message_source::ReadSource(folder.Get(), id).size != bytes)
                    ++failures;
            });
            // A box that cannot hold the source whole is watched for two minutes.
            host.loadMs = bare < 0 ? 120000.0 : std::max(15000.0, 3 * bare);
            const double start = bench::Now();
            message_source::ShowProperties(folder.Get(), id, nullptr, host);
            const double shown = host.shownAt - start;
            char loaded[64];
            if (host.loadedAll)
                std::snprintf(loaded, sizeof loaded, "%.0f", host.loadedMs);
            else
                std::snprintf(loaded, sizeof loaded, "%.1f MB of it", host.loadedChars / 1048576.0);
            if (bare < 0)
                std::printf("%7s %11.1f %13.1f %14.1f %12s %12s %7s\n", label.c_str(), copy, shown,
                            host.longest, loaded, "box failed", "-");
            else
                std::printf("%7s %11.1f %13.1f %14.1f %12s %12.1f %7.2f\n", label.c_str(), copy,
                            shown, host.longest, loaded, bare, host.loadedMs / bare);
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
