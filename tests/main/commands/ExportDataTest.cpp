// Rows and a folder as the virtual files a drop target or a paste receives,
// read from the store double only when asked for.
#include "StoreDouble.h"
#include "main/commands/ExportData.h"

#include <gmock/gmock.h>
#include <shlobj.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using ::testing::ElementsAre;

namespace {

CLIPFORMAT Format(const wchar_t* name) {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name));
}

std::vector<std::wstring> Names(IDataObject* data) {
    FORMATETC want{Format(CFSTR_FILEDESCRIPTORW), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    std::vector<std::wstring> names;
    if (data->GetData(&want, &medium) != S_OK)
        return names;
    auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(medium.hGlobal));
    for (UINT i = 0; group && i < group->cItems; ++i)
        names.push_back(group->fgd[i].cFileName);
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    return names;
}

// A file's contents read in small pieces, as a target may, or as one block
// when asked for; "!" and the status when it cannot be had.
std::string Contents(IDataObject* data, LONG index, DWORD tymed = TYMED_ISTREAM) {
    FORMATETC want{Format(CFSTR_FILECONTENTS), nullptr, DVASPECT_CONTENT, index, tymed};
    STGMEDIUM medium{};
    const HRESULT hr = data->GetData(&want, &medium);
    if (hr != S_OK)
        return "!" + std::to_string(hr);
    std::string out;
    if (medium.tymed == TYMED_HGLOBAL) {
        out.assign(static_cast<const char*>(GlobalLock(medium.hGlobal)),
                   GlobalSize(medium.hGlobal));
        GlobalUnlock(medium.hGlobal);
        ReleaseStgMedium(&medium);
        return out;
    }
    char piece[7];
    ULONG got = 0;
    while (medium.pstm->Read(piece, sizeof piece, &got) == S_OK && got)
        out.append(piece, got);
    ReleaseStgMedium(&medium);
    return out;
}

TEST(ExportDataTest, RowsAreEmlFilesReadWhenAskedAndAFolderIsOneMbox) {
    auto store = storedouble::StoreDouble::Create();
    store->AddFolder(1, 0, "Inbox", FOLDER_INBOX).AddFolder(2, 1, "con");
    const FILETIME monday = storedouble::FileTime(134411040000000000ull); // 2026-12-07 08:00 UTC
    auto a = storedouble::Message(11, "A", "Re: a/b");
    a.received = monday;
    a.source = "Subject: x\r\n\r\nFrom here\r\n>From there\r\nlast";
    auto b = storedouble::Message(12, "B", "Re: a/b");
    b.received = monday;
    store->AddMessage(1, a).AddMessage(1, b);
    store->AddMessage(2, storedouble::Message(13, "C", "inside"));
    ComPtr<IStoreFolder> inbox;
    ASSERT_EQ(store->OpenFolder(1, 0, &inbox), S_OK);
    store->ClearCalls();

    auto leftOut = std::make_shared<export_data::LeftOut>();
    ComPtr<IDataObject> rows = export_data::MessageFiles(inbox, {11, 99, 12}, leftOut);
    EXPECT_EQ(store->CountCalls("GetMessageProps"), 0) << "nothing asked before the drop";
    EXPECT_THAT(Names(rows.Get()), ElementsAre(L"2026-12-07 08-00-00 Re_ a_b.eml",
                                               L"2026-12-07 08-00-00 Re_ a_b (2).eml"));
    EXPECT_EQ(leftOut->count, 1u) << "the message gone meanwhile";
    EXPECT_EQ(store->CountCalls("OpenMessage"), 0);
    EXPECT_EQ(Contents(rows.Get(), 1), b.source);
    EXPECT_EQ(Contents(rows.Get(), 0), a.source);
    EXPECT_EQ(Contents(rows.Get(), 0, TYMED_ISTREAM | TYMED_HGLOBAL), a.source) << "in memory";
    EXPECT_EQ(Contents(rows.Get(), 2), "!" + std::to_string(DV_E_LINDEX));
    EXPECT_EQ(store->OutstandingMessageProps(), 0);

    // The Inbox alone, mboxrd-quoted, the last line given its break.
    ComPtr<IDataObject> folder = export_data::FolderMbox(store, 1, L"Inbox", leftOut);
    EXPECT_THAT(Names(folder.Get()), ElementsAre(L"Inbox.mbox"));
    EXPECT_EQ(Contents(folder.Get(), 0),
              "From - Mon Dec  7 08:00:00 2026\nSubject: x\r\n\r\n>From here\r\n>>From there\r\n"
              "last\n\nFrom - Mon Dec  7 08:00:00 2026\n" +
                  b.source + "\n");
    EXPECT_THAT(Names(export_data::FolderMbox(store, 2, L"con", leftOut).Get()),
                ElementsAre(L"_con.mbox"));
    rows.Reset();
    folder.Reset();
    inbox.Reset();
    EXPECT_EQ(store->LiveMessageStreams(), 0);
    EXPECT_EQ(store->OpenEnumerations(), 0);
    EXPECT_EQ(store->LiveFolderObjects(), 0);
}

} // namespace
