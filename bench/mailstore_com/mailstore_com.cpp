// Times the server's namespace and folder objects over a store of many
// messages: opening, enumerating, reading records, marking with the
// notifications delivered to a window, and streaming a large source.
#include "StoreObjects.h"

#include <shlwapi.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace mailstore::com;

namespace {

constexpr size_t kMessages = 20000;

double Ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

std::string Source(size_t i, size_t bodyBytes = 400) {
    return "From: Alice Example <alice@example.org>\r\nTo: Bob Example <bob@example.com>\r\n"
           "Subject: Message number " +
           std::to_string(i) + "\r\nDate: Tue, 03 Mar 2026 10:20:30 +0000\r\n\r\n" +
           std::string(bodyBytes, 'x') + "\r\n";
}

int g_received = 0;

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg >= WM_FOLDERNOTIFY && msg <= WM_MARKEDASUNREAD) {
        if (msg == WM_FOLDERNOTIFY) {
            CoTaskMemFree(reinterpret_cast<void*>(lp));
        }
        ++g_received;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void PumpUntilReceived(int count) {
    MSG msg;
    while (g_received < count && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
}

} // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const auto dir = std::filesystem::temp_directory_path() /
                     (L"bench-mailstore-com-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(dir);
    SetEnvironmentVariableW(L"MAILSTORE_DIR", dir.c_str());
    {
        // Seeding goes through the engine in one batch; it is not what is timed.
        mailstore::OpenOptions options;
        options.create = true;
        std::unique_ptr<mailstore::Store> engine;
        const auto u8 = dir.generic_u8string();
        mailstore::Store::Open(std::string(u8.begin(), u8.end()), options, &engine);
        std::vector<std::string> sources;
        for (size_t i = 0; i < kMessages; ++i) {
            sources.push_back(Source(i));
        }
        sources.push_back(Source(kMessages, 50u << 20)); // one 50 MB message
        std::vector<mailstore::ImportItem> items(sources.size());
        for (size_t i = 0; i < sources.size(); ++i) {
            items[i].source = sources[i];
        }
        std::vector<mailstore::MessageId> ids;
        const auto st = engine->ImportMessages(1, items, &ids);
        if (!st.ok()) {
            std::fprintf(stderr, "seeding failed: %s\n", st.message().c_str());
            return 1;
        }
    }

    WNDCLASSW wc{};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"BenchReceiver";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"BenchReceiver", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                wc.hInstance, nullptr);

    {
        auto t = std::chrono::steady_clock::now();
        ComPtr<IStoreNamespace> ns;
        CreateNamespace(IID_IStoreNamespace, reinterpret_cast<void**>(ns.GetAddressOf()));
        ns->Initialize(nullptr, 0);
        ComPtr<IStoreFolder> inbox;
        ns->OpenFolder(1, 0, inbox.GetAddressOf());
        std::printf("open store of %zu messages:            %9.1f ms\n", kMessages + 1, Ms(t));

        t = std::chrono::steady_clock::now();
        std::vector<MESSAGEID> ids;
        MESSAGEPROPS props{};
        props.cbSize = MESSAGEPROPS_SIZE;
        HENUMSTORE handle = nullptr;
        HRESULT hr = inbox->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &handle);
        while (hr == S_OK) {
            ids.push_back(props.dwMessageId);
            inbox->FreeMessageProps(&props);
            hr = inbox->GetNextMessage(handle, 0, &props);
        }
        inbox->GetMessageClose(handle);
        const double enumMs = Ms(t);
        std::printf("enumerate all (records filled, freed): %9.1f ms, %.2f us per message\n",
                    enumMs, enumMs * 1000 / ids.size());

        t = std::chrono::steady_clock::now();
        for (MESSAGEID id : ids) {
            inbox->GetMessageProps(id, 0, &props);
            inbox->FreeMessageProps(&props);
        }
        const double propsMs = Ms(t);
        std::printf("GetMessageProps for each:              %9.1f ms, %.2f us per message\n",
                    propsMs, propsMs * 1000 / ids.size());

        inbox->RegisterNotification(0, window);
        ns->RegisterNotification(0, window);
        t = std::chrono::steady_clock::now();
        MESSAGEIDLIST list{MESSAGEIDLIST_SIZE, static_cast<DWORD>(ids.size()), ids.data()};
        inbox->MarkMessagesAsRead(TRUE, 0, &list);
        const double markMs = Ms(t);
        // One MARKEDASREAD per message, then UNREAD_CHANGE and FOLDER_PROPS_CHANGED.
        PumpUntilReceived(static_cast<int>(ids.size()) + 2);
        std::printf("mark %zu read, call:                  %9.1f ms\n", ids.size(), markMs);
        std::printf("  ... and every notification delivered: %8.1f ms, %.2f us per notification\n",
                    Ms(t), Ms(t) * 1000 / g_received);

        t = std::chrono::steady_clock::now();
        ComPtr<IStream> stream;
        inbox->OpenMessage(ids.back(), IID_IStream,
                           reinterpret_cast<void**>(stream.GetAddressOf()));
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        const auto file = (dir / L"copy.eml").wstring();
        ComPtr<IStream> out;
        SHCreateStreamOnFileEx(file.c_str(), STGM_CREATE | STGM_WRITE, FILE_ATTRIBUTE_NORMAL, TRUE,
                               nullptr, out.GetAddressOf());
        ULARGE_INTEGER read{}, written{};
        stream->CopyTo(out.Get(), stat.cbSize, &read, &written);
        out.Reset();
        const double copyMs = Ms(t);
        std::printf("CopyTo a file, %.1f MB:                %9.1f ms, %.0f MB/s\n",
                    stat.cbSize.QuadPart / 1048576.0, copyMs,
                    stat.cbSize.QuadPart / 1048576.0 / (copyMs / 1000));
        inbox->UnregisterNotification(0, window);
        ns->UnregisterNotification(0, window);
    }
    DestroyWindow(window);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    CoUninitialize();
    return 0;
}
