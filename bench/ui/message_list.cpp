// Filling the message list for 1,000, 10,000 and 100,000 messages, against the
// store's own enumeration of the same folder in the same run; and, for
// comparison, a plain report list view filled and emptied with the same rows.
#include "BenchSupport.h"
#include "ListHost.h"
#include "StoreDouble.h"
#include "main/views/MessageListSync.h"
#include "StoreRecords.h"

#include <wrl/client.h>

#include <cstdio>
#include <string>

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    bench::ListHost window(L"BenchListHost");
    HWND host = window.Host();
    HWND list = window.List();
    MessageRows& rows = window.Rows();

    std::printf("message list fill (ms; best of 3)\n");
    std::printf("%8s %12s %12s %8s %14s\n", "messages", "enumerate", "fill+paint", "ratio",
                "plain list");
    for (int count : {1000, 10000, 100000}) {
        Microsoft::WRL::ComPtr<storedouble::StoreDouble> store = storedouble::StoreDouble::Create();
        store->RecordCalls(false);
        store->AddFolder(1, FOLDERID_ROOT, "Inbox", FOLDER_INBOX);
        store->Messages(1) = storedouble::ManyMessages(1, count);
        Microsoft::WRL::ComPtr<IStoreFolder> opened;
        store->OpenFolder(1, 0, opened.GetAddressOf());
        IStoreFolder* folder = opened.Get();
        double enumerate = bench::EnumerateMessages(folder);
        double fill = bench::BestOf(
            3,
            [&] {
                list_sync::Clear(list, rows);
                bench::Paint(host);
            },
            [&] {
                list_sync::Clear(list, rows);
                list_sync::AppendFolder(list, rows, folder);
                bench::Paint(host);
            });

        // The plain list view: a row and its three texts per message, then emptied.
        double plain = 0;
        if (count <= 10000 || GetEnvironmentVariableW(L"BRIS_BENCH_PLAIN", nullptr, 0) > 0) {
            HWND plainList = CreateWindowExW(
                0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0,
                680, 460, host, nullptr, GetModuleHandleW(nullptr), nullptr);
            for (int c = 0; c < 4; ++c) {
                LVCOLUMNW column{};
                column.mask = LVCF_WIDTH;
                column.cx = 100;
                SendMessageW(plainList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c),
                             reinterpret_cast<LPARAM>(&column));
            }
            ShowWindow(list, SW_HIDE);
            double start = bench::Now();
            SendMessageW(plainList, WM_SETREDRAW, FALSE, 0);
            for (size_t i = 0; i < rows.Count(); ++i) {
                const MessageRow& row = rows.At(i);
                LVITEMW item{};
                item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
                item.iItem = static_cast<int>(i);
                item.pszText = const_cast<wchar_t*>(row.from.c_str());
                item.lParam = static_cast<LPARAM>(row.id);
                item.iImage = row.image;
                SendMessageW(plainList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
                item.mask = LVIF_TEXT;
                item.iSubItem = 1;
                item.pszText = const_cast<wchar_t*>(row.subject.c_str());
                SendMessageW(plainList, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
                item.iSubItem = 2;
                item.pszText = const_cast<wchar_t*>(row.Received().c_str());
                SendMessageW(plainList, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
            }
            SendMessageW(plainList, LVM_DELETEALLITEMS, 0, 0);
            SendMessageW(plainList, WM_SETREDRAW, TRUE, 0);
            bench::Paint(host);
            plain = bench::Now() - start;
            DestroyWindow(plainList);
            ShowWindow(list, SW_SHOW);
        }
        std::printf("%8d %12.1f %12.1f %8.2f %14.1f\n", count, enumerate, fill, fill / enumerate,
                    plain);
        std::fflush(stdout);
        list_sync::Clear(list, rows);
    }
    // The registered store, if there is one: its biggest top-level folder.
    {
        Microsoft::WRL::ComPtr<IStoreNamespace> real;
        if (SUCCEEDED(CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IStoreNamespace,
                                       reinterpret_cast<void**>(real.GetAddressOf()))) &&
            real->Initialize(host, 0) == S_OK) {
            FOLDERPROPS props = store::NewFolderProps();
            HENUMSTORE handle = nullptr;
            STOREFOLDERID biggest = 0;
            DWORD most = 0;
            if (real->GetFirstSubFolder(FOLDERID_ROOT, &props, &handle) == S_OK) {
                do
                    if (props.cMessage >= most) {
                        most = props.cMessage;
                        biggest = props.FolderId;
                    }
                while (real->GetNextSubFolder(handle, &props) == S_OK);
                real->GetSubFolderClose(handle);
            }
            Microsoft::WRL::ComPtr<IStoreFolder> folder;
            if (biggest && real->OpenFolder(biggest, 0, folder.GetAddressOf()) == S_OK) {
                double enumerate = bench::EnumerateMessages(folder.Get());
                double fill = bench::BestOf(
                    3,
                    [&] {
                        list_sync::Clear(list, rows);
                        bench::Paint(host);
                    },
                    [&] {
                        list_sync::Clear(list, rows);
                        list_sync::AppendFolder(list, rows, folder.Get());
                        bench::Paint(host);
                    });
                std::printf("%8lu %12.1f %12.1f %8.2f %14s  (registered store)\n",
                            static_cast<unsigned long>(most), enumerate, fill, fill / enumerate,
                            "-");
                list_sync::Clear(list, rows);
            }
        } else {
            std::printf("(no registered store to compare with)\n");
        }
    }
    CoUninitialize();
    return 0;
}
