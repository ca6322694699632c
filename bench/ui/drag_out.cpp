// 10,000 rows dragged out of the window, on the real store server in process:
// how long the drag takes to start (the data offered), then the drop as a file
// manager takes it (the file list, then each file's contents written to disk),
// timed to the first file and to the last; and the folder as one mbox file.
// Floor: the store's own copy of the same sources into files, the same reads
// and writes without the data object. The store is seeded through the engine,
// which is not timed. A size may be given as the argument.
#include "BenchSupport.h"
#include "main/commands/ExportData.h"
#include "StoreObjects.h"

#include <shlobj.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

std::string Source(size_t i) {
    std::string body;
    for (int line = 0; line < 40; ++line)
        body += "Line " + std::to_string(line) + " of message " + std::to_string(i) + ".\r\n";
    return "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) +
           "@example.org>\r\nTo: team@example.org\r\nSubject: Drag " + std::to_string(i) +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0000\r\n\r\n" + body;
}

bool Seed(const std::filesystem::path& dir, size_t count, mailstore::FolderId* folder) {
    mailstore::OpenOptions options;
    options.create = true;
    std::unique_ptr<mailstore::Store> engine;
    const auto u8 = dir.generic_u8string();
    if (!mailstore::Store::Open(std::string(u8.begin(), u8.end()), options, &engine).ok() ||
        !engine->CreateFolder(mailstore::kRootFolder, "Drag", folder).ok())
        return false;
    std::vector<std::string> sources;
    for (size_t i = 0; i < count; ++i)
        sources.push_back(Source(i));
    std::vector<mailstore::ImportItem> items(count);
    for (size_t i = 0; i < count; ++i)
        items[i].source = sources[i];
    std::vector<mailstore::MessageId> ids;
    return engine->ImportMessages(*folder, items, &ids).ok();
}

// Reads the stream to its end into a new file; false on any failure.
bool StreamToFile(IStream* stream, const std::wstring& path, HANDLE into = nullptr) {
    HANDLE file = into ? into
                       : CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    static char buffer[64 * 1024];
    bool ok = true;
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream->Read(buffer, sizeof buffer, &got))) {
            ok = false;
            break;
        }
        DWORD put = 0;
        if (got == 0 || !WriteFile(file, buffer, got, &put, nullptr) || put != got) {
            ok = ok && got == 0;
            break;
        }
    }
    if (!into)
        CloseHandle(file);
    return ok;
}

struct Times {
    double first = -1;
    double last = -1;
    size_t files = 0;
};

void Done(Times& t, double start) {
    t.last = bench::Now() - start;
    if (t.first < 0)
        t.first = t.last;
    ++t.files;
}

// What a file manager does at the drop: the list, then every file's contents.
Times Drop(IDataObject* data, const std::wstring& dir) {
    const double start = bench::Now();
    Times t;
    const auto format = [](const wchar_t* name) {
        return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name));
    };
    FORMATETC list{format(CFSTR_FILEDESCRIPTORW), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (data->GetData(&list, &medium) != S_OK)
        return t;
    std::vector<std::wstring> names;
    if (auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(medium.hGlobal))) {
        for (UINT i = 0; i < group->cItems; ++i)
            names.push_back(group->fgd[i].cFileName);
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    for (size_t i = 0; i < names.size(); ++i) {
        FORMATETC contents{format(CFSTR_FILECONTENTS), nullptr, DVASPECT_CONTENT,
                           static_cast<LONG>(i), TYMED_ISTREAM};
        STGMEDIUM got{};
        if (data->GetData(&contents, &got) != S_OK)
            continue;
        const bool ok = StreamToFile(got.pstm, dir + L"\\" + names[i]);
        ReleaseStgMedium(&got);
        if (ok)
            Done(t, start);
    }
    return t;
}

// The floor: each source opened in the store and copied into a file of its own,
// or all of them into one file.
Times Floor(IStoreFolder* folder, const std::vector<MESSAGEID>& ids, const std::wstring& dir,
            bool oneFile) {
    const double start = bench::Now();
    Times t;
    HANDLE all = oneFile ? CreateFileW((dir + L"\\all").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                         : nullptr;
    for (MESSAGEID id : ids) {
        ComPtr<IStream> stream;
        if (folder->OpenMessage(id, IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())) !=
                S_OK ||
            !stream)
            continue;
        if (StreamToFile(stream.Get(), dir + L"\\" + std::to_wstring(id) + L".eml", all))
            Done(t, start);
    }
    if (all)
        CloseHandle(all);
    return t;
}

std::wstring Fresh(const std::filesystem::path& base, const wchar_t* name) {
    const auto dir = base / name;
    std::filesystem::create_directories(dir);
    return dir.wstring();
}

bool BenchSize(size_t count) {
    const auto base = std::filesystem::temp_directory_path() /
                      (L"bench-dragout-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       std::to_wstring(count));
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base);
    mailstore::FolderId seeded = 0;
    if (!Seed(base / "store", count, &seeded)) {
        std::printf("%8zu seeding failed\n", count);
        return false;
    }
    SetEnvironmentVariableW(L"MAILSTORE_DIR", (base / "store").c_str());
    ComPtr<IStoreNamespace> store;
    ComPtr<IStoreFolder> folder;
    if (FAILED(mailstore::com::CreateNamespace(IID_IStoreNamespace,
                                               reinterpret_cast<void**>(store.GetAddressOf()))) ||
        store->Initialize(nullptr, 0) != S_OK || store->OpenFolder(seeded, 0, &folder) != S_OK) {
        std::printf("%8zu the store did not open\n", count);
        return false;
    }
    std::vector<MESSAGEID> ids;
    MESSAGEPROPS props = store::NewMessageProps();
    HENUMSTORE walk = nullptr;
    if (folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &walk) == S_OK) {
        do {
            ids.push_back(props.dwMessageId);
            folder->FreeMessageProps(&props);
        } while (folder->GetNextMessage(walk, 0, &props) == S_OK);
        folder->GetMessageClose(walk);
    }

    auto leftOut = std::make_shared<export_data::LeftOut>();
    double start = bench::Now();
    ComPtr<IDataObject> rows = export_data::MessageFiles(folder, ids, leftOut);
    const double offered = bench::Now() - start;
    const Times floor = Floor(folder.Get(), ids, Fresh(base, L"floor"), false);
    const Times drop = Drop(rows.Get(), Fresh(base, L"drop"));
    std::printf("%8zu %-16s %10.2f %10.1f %10.1f %8s\n", count, "rows as .eml", offered, drop.first,
                drop.last, drop.files == count ? "ok" : "WRONG");
    std::printf("%8s %-16s %10s %10.1f %10.1f %8s\n", "", "floor: store copy", "", floor.first,
                floor.last, floor.files == count ? "ok" : "WRONG");

    start = bench::Now();
    ComPtr<IDataObject> mbox = export_data::FolderMbox(store, seeded, L"Drag", leftOut);
    const double mboxOffered = bench::Now() - start;
    const Times floorOne = Floor(folder.Get(), ids, Fresh(base, L"floor-one"), true);
    const Times whole = Drop(mbox.Get(), Fresh(base, L"mbox"));
    std::printf("%8zu %-16s %10.2f %10.1f %10.1f %8s\n", count, "folder as mbox", mboxOffered,
                whole.first, whole.last, whole.files == 1 ? "ok" : "WRONG");
    std::printf("%8s %-16s %10s %10s %10.1f %8s\n", "", "floor: one file", "", "", floorOne.last,
                floorOne.files == count ? "ok" : "WRONG");
    std::fflush(stdout);
    const bool ok = drop.files == count && whole.files == 1 && leftOut->count == 0;
    rows.Reset();
    mbox.Reset();
    folder.Reset();
    store.Reset();
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    OleInitialize(nullptr);
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(static_cast<size_t>(std::atol(argv[i])));
    if (sizes.empty())
        sizes = {10000};
    std::printf("messages dragged out of the window to a file manager, store server in process "
                "(ms)\n");
    std::printf("%8s %-16s %10s %10s %10s %8s\n", "messages", "what", "drag start", "1st file",
                "last file", "check");
    bool ok = true;
    for (size_t count : sizes)
        ok = BenchSize(count) && ok;
    OleUninitialize();
    return ok ? 0 : 1;
}
