// Every operation of the server, reached through CoCreateInstance.
#include "ServerFixture.h"

#include "StoreRecords.h"

#include <shlwapi.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace comtest;

namespace {

// {2499E836-5D88-42AF-A658-AE2993879DFF}: the server's own class.
constexpr wchar_t kServerClass[] = L"{2499E836-5D88-42AF-A658-AE2993879DFF}";

std::wstring RegString(const std::wstring& key, const wchar_t* value) {
    wchar_t buf[1024] = {};
    DWORD bytes = sizeof buf;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buf, &bytes) !=
        ERROR_SUCCESS) {
        return {};
    }
    return buf;
}

MESSAGEIDLIST IdList(std::vector<MESSAGEID>& ids) {
    return MESSAGEIDLIST{MESSAGEIDLIST_SIZE, static_cast<DWORD>(ids.size()), ids.data()};
}

// Calls a slot the tool never uses, through the object's table.
HRESULT CallSlot(IUnknown* object, int slot) {
    using Fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*);
    auto* table = *reinterpret_cast<Fn**>(object);
    return table[slot](object);
}

} // namespace

TEST_F(ServerTest, RegistrationRoutesTheStoreClassToTheServer) {
    EXPECT_EQ(
        _wcsicmp(
            RegString(L"CLSID\\{E70C92A9-4BFD-11D1-8A95-00C04FB951F3}\\TreatAs", nullptr).c_str(),
            kServerClass),
        0);
    const std::wstring server = std::wstring(L"CLSID\\") + kServerClass + L"\\InprocServer32";
    const std::wstring path = RegString(server, nullptr);
    ASSERT_GE(path.size(), 13u);
    EXPECT_EQ(_wcsicmp(path.c_str() + path.size() - 13, L"mailstore.dll"), 0);
    EXPECT_EQ(RegString(server, L"ThreadingModel"), L"Apartment");

    auto ns = Connect();
    ASSERT_TRUE(ns);
    ComPtr<IStoreFolder> notAFolder;
    EXPECT_EQ(ns.As(&notAFolder), E_NOINTERFACE);
    // {2499E836-5D88-42AF-A658-AE2993879DFF}
    const CLSID serverClass = {
        0x2499E836, 0x5D88, 0x42AF, {0xA6, 0x58, 0xAE, 0x29, 0x93, 0x87, 0x9D, 0xFF}};
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(serverClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(ns.Get(), IID_IUnknown,
                                      reinterpret_cast<void**>(aggregated.GetAddressOf())),
              CLASS_E_NOAGGREGATION);
}

TEST_F(ServerTest, InitializeOpensTheConfiguredDirectoryAndReportsIt) {
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IStoreNamespace, reinterpret_cast<void**>(ns.GetAddressOf())),
              S_OK);
    FOLDERPROPS props = store::NewFolderProps();
    HENUMSTORE handle = nullptr;
    EXPECT_EQ(ns->GetFirstSubFolder(FOLDERID_ROOT, &props, &handle), E_UNEXPECTED)
        << "nothing works before Initialize";
    ASSERT_EQ(ns->Initialize(nullptr, 0), S_OK);
    EXPECT_EQ(ns->Initialize(nullptr, 0), S_OK);

    char path[260];
    std::memset(path, 'x', sizeof path);
    ASSERT_EQ(ns->GetDirectory(path, sizeof path), S_OK);
    char expected[260] = {};
    WideCharToMultiByte(CP_ACP, 0, dir.path().c_str(), -1, expected, sizeof expected, nullptr,
                        nullptr);
    EXPECT_EQ(_stricmp(path, expected), 0) << path;

    char tiny[4];
    EXPECT_TRUE(FAILED(ns->GetDirectory(tiny, sizeof tiny)));
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_EQ(ns->GetDirectory(nullptr, 260), E_POINTER);

    // A new store has the five special folders at the top, in type order.
    const auto top = Children(ns.Get(), FOLDERID_ROOT);
    ASSERT_EQ(top.size(), 5u);
    for (LONG type = 0; type < 5; ++type) {
        EXPECT_EQ(top[type].sfType, type);
        EXPECT_EQ(top[type].cbSize, FOLDERPROPS_SIZE);
        EXPECT_NE(top[type].FolderId, 0u);
        EXPECT_GT(std::strlen(top[type].szName), 0u);
    }
}

// A store folder set to one that does not exist (a typing mistake) is refused
// and nothing is created, not even its parent; GetDirectory still names it.
TEST_F(ServerTest, InitializeRefusesAMissingStoreFolderOtherThanTheDefault) {
    const std::filesystem::path missing = dir.path() / L"no such parent" / L"store";
    ASSERT_TRUE(SetEnvironmentVariableW(L"MAILSTORE_DIR", missing.c_str()));
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IStoreNamespace, reinterpret_cast<void**>(ns.GetAddressOf())),
              S_OK);
    EXPECT_EQ(ns->Initialize(nullptr, 0), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));
    char path[260] = {};
    ASSERT_EQ(ns->GetDirectory(path, sizeof path), S_OK);
    EXPECT_NE(std::string(path).find("no such parent"), std::string::npos) << path;
}

TEST_F(ServerTest, FolderOperationsSucceedAndFailWithoutChangingAnything) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const STOREFOLDERID sent = SpecialFolder(ns.Get(), FOLDER_SENT);

    STOREFOLDERID work = 0;
    ASSERT_EQ(ns->CreateFolder(inbox, "Work", 0, &work), S_OK);
    EXPECT_NE(work, 0u);
    STOREFOLDERID clash = 77;
    EXPECT_TRUE(FAILED(ns->CreateFolder(inbox, "Work", 0, &clash)));
    EXPECT_EQ(clash, 0u);
    STOREFOLDERID other = 0;
    EXPECT_EQ(ns->CreateFolder(inbox, "work", 0, &other), S_OK) << "names differ by case";
    EXPECT_EQ(ns->CreateFolder(inbox, nullptr, 0, &other), E_POINTER);
    EXPECT_EQ(ns->CreateFolder(inbox, "No out pointer", 0, nullptr), E_POINTER);
    EXPECT_TRUE(FAILED(ns->CreateFolder(inbox, "", 0, &other)));
    EXPECT_TRUE(FAILED(ns->CreateFolder(999999, "Lost", 0, &other)));
    EXPECT_EQ(Props(ns.Get(), inbox).cSubFolders, 2);

    FOLDERPROPS props = Props(ns.Get(), work);
    EXPECT_EQ(props.cbSize, FOLDERPROPS_SIZE);
    EXPECT_EQ(props.FolderId, work);
    EXPECT_EQ(props.sfType, FOLDER_NOTSPECIAL);
    EXPECT_EQ(props.cSubFolders, 0);
    EXPECT_EQ(props.cMessage, 0u);
    EXPECT_STREQ(props.szName, "Work");

    ASSERT_EQ(ns->RenameFolder(work, 0, "Projects"), S_OK);
    EXPECT_STREQ(Props(ns.Get(), work).szName, "Projects");
    EXPECT_TRUE(FAILED(ns->RenameFolder(work, 0, "work")));
    const std::string inboxName = Props(ns.Get(), inbox).szName;
    EXPECT_TRUE(FAILED(ns->RenameFolder(inbox, 0, "Mail")));
    EXPECT_EQ(ns->RenameFolder(work, 0, nullptr), E_POINTER);
    EXPECT_STREQ(Props(ns.Get(), work).szName, "Projects");
    EXPECT_EQ(Props(ns.Get(), inbox).szName, inboxName);

    STOREFOLDERID child = 0;
    ASSERT_EQ(ns->CreateFolder(work, "Child", 0, &child), S_OK);
    EXPECT_TRUE(FAILED(ns->MoveFolder(work, child, 0))) << "under its own descendant";
    EXPECT_TRUE(FAILED(ns->MoveFolder(inbox, sent, 0))) << "special folders stay";
    ASSERT_EQ(ns->MoveFolder(work, sent, 0), S_OK);
    EXPECT_EQ(Props(ns.Get(), sent).cSubFolders, 1);
    EXPECT_EQ(Props(ns.Get(), inbox).cSubFolders, 1);

    EXPECT_TRUE(FAILED(ns->DeleteFolder(sent, 0)));
    EXPECT_TRUE(FAILED(ns->DeleteFolder(999999, 0)));
    ASSERT_EQ(ns->DeleteFolder(work, 0), S_OK);
    FOLDERPROPS gone = store::NewFolderProps();
    EXPECT_TRUE(FAILED(ns->GetFolderProps(work, 0, &gone)));
    EXPECT_TRUE(FAILED(ns->GetFolderProps(child, 0, &gone))) << "sub-folders go with it";
    EXPECT_EQ(Props(ns.Get(), sent).cSubFolders, 0);
}

TEST_F(ServerTest, RecordsWithAWrongSizeWordAreRefusedAndLeftUntouched) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    Seed(inbox, {Mail("one")});

    for (DWORD size : {0ul, 279ul, 281ul}) {
        FOLDERPROPS props;
        std::memset(&props, 0xCC, sizeof props);
        props.cbSize = size;
        FOLDERPROPS before = props;
        EXPECT_EQ(ns->GetFolderProps(inbox, 0, &props), E_INVALIDARG);
        HENUMSTORE handle = nullptr;
        EXPECT_EQ(ns->GetFirstSubFolder(FOLDERID_ROOT, &props, &handle), E_INVALIDARG);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(std::memcmp(&props, &before, sizeof props), 0);
    }
    EXPECT_EQ(ns->GetFolderProps(inbox, 0, nullptr), E_POINTER);

    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);
    const MESSAGEID id = MessageIds(folder.Get()).at(0);
    MESSAGEPROPS props;
    std::memset(&props, 0xCC, sizeof props);
    props.cbSize = 64;
    MESSAGEPROPS before = props;
    EXPECT_EQ(folder->GetMessageProps(id, 0, &props), E_INVALIDARG);
    HENUMSTORE handle = nullptr;
    EXPECT_EQ(folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &handle),
              E_INVALIDARG);
    EXPECT_EQ(folder->FreeMessageProps(&props), E_INVALIDARG);
    EXPECT_EQ(std::memcmp(&props, &before, sizeof props), 0);

    std::vector<MESSAGEID> ids{id};
    MESSAGEIDLIST list{16, 1, ids.data()};
    EXPECT_EQ(folder->DeleteMessages(&list, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(folder->MarkMessagesAsRead(TRUE, 0, &list), E_INVALIDARG);
    EXPECT_EQ(MessageIds(folder.Get()).size(), 1u);
}

TEST_F(ServerTest, LongAndForeignNamesFitTheNameField) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const std::string longest(255, 'n');
    STOREFOLDERID id = 0;
    ASSERT_EQ(ns->CreateFolder(inbox, longest.c_str(), 0, &id), S_OK);
    FOLDERPROPS props = Props(ns.Get(), id);
    EXPECT_EQ(std::string(props.szName), longest);
    EXPECT_EQ(props.szName[255], '\0');
    EXPECT_TRUE(FAILED(ns->CreateFolder(inbox, std::string(256, 'n').c_str(), 0, &id)));

    // A name the code page cannot show, made outside the server.
    auto engine = Engine();
    mailstore::FolderId cjk = 0;
    ASSERT_TRUE(engine->CreateFolder(inbox, "\xE6\x97\xA5\xE6\x9C\xAC", &cjk).ok());
    engine.reset();
    ASSERT_TRUE(PumpUntil([&] { return Children(ns.Get(), inbox).size() == 2; }, 5000));
    if (GetACP() == 1252) {
        EXPECT_STREQ(Props(ns.Get(), cjk).szName, "??");
    }
    // The name as handed out, given back: no new name, and nothing changes.
    const std::string shown = Props(ns.Get(), cjk).szName;
    EXPECT_EQ(ns->RenameFolder(cjk, 0, shown.c_str()), S_OK);
    mailstore::FolderInfo info;
    ASSERT_TRUE(Engine()->GetFolder(cjk, &info).ok());
    EXPECT_EQ(info.name, "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST_F(ServerTest, TenThousandLevelsDeepAreWalkedAndDeletedWithoutAStackPerLevel) {
    constexpr int kDepth = 10000;
    {
        auto engine = Engine();
        mailstore::FolderId parent = mailstore::kRootFolder;
        for (int level = 0; level < kDepth; ++level)
            ASSERT_TRUE(engine->CreateFolder(parent, "L" + std::to_string(level), &parent).ok());
    }
    auto ns = Connect();
    ASSERT_TRUE(ns);
    // Down the chain as a tree rebuild goes: every level's enumeration open.
    std::vector<HENUMSTORE> open;
    FOLDERPROPS props = store::NewFolderProps();
    STOREFOLDERID top = 0;
    for (STOREFOLDERID parent = FOLDERID_ROOT;;) {
        HENUMSTORE handle = nullptr;
        HRESULT hr = ns->GetFirstSubFolder(parent, &props, &handle);
        while (hr == S_OK && props.sfType != FOLDER_NOTSPECIAL)
            hr = ns->GetNextSubFolder(handle, &props); // past the special folders
        if (handle)
            open.push_back(handle);
        if (hr != S_OK)
            break;
        if (parent == FOLDERID_ROOT)
            top = props.FolderId;
        parent = props.FolderId;
    }
    EXPECT_EQ(open.size(), static_cast<size_t>(kDepth));
    EXPECT_STREQ(props.szName, ("L" + std::to_string(kDepth - 1)).c_str());
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        EXPECT_EQ(ns->GetSubFolderClose(*it), S_OK);
    ASSERT_EQ(ns->DeleteFolder(top, 0), S_OK);
    EXPECT_EQ(Children(ns.Get(), FOLDERID_ROOT).size(), 5u) << "the special folders remain";
}

TEST_F(ServerTest, EnumerationHandlesAreCheckedAndSurviveChanges) {
    auto ns = Connect();
    auto other = Connect();
    ASSERT_TRUE(ns && other);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    FOLDERPROPS props = store::NewFolderProps();
    HENUMSTORE handle = nullptr;
    EXPECT_EQ(ns->GetFirstSubFolder(inbox, &props, &handle), S_FALSE) << "no children";
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(FAILED(ns->GetFirstSubFolder(999999, &props, &handle)));
    EXPECT_EQ(ns->GetFirstSubFolder(inbox, &props, nullptr), E_POINTER);

    std::vector<STOREFOLDERID> made(4);
    for (size_t i = 0; i < made.size(); ++i) {
        ASSERT_EQ(ns->CreateFolder(inbox, ("F" + std::to_string(i)).c_str(), 0, &made[i]), S_OK);
    }
    ASSERT_EQ(ns->GetFirstSubFolder(inbox, &props, &handle), S_OK);
    EXPECT_EQ(props.FolderId, made[0]);
    EXPECT_EQ(other->GetNextSubFolder(handle, &props), E_HANDLE) << "another object's handle";
    EXPECT_EQ(other->GetSubFolderClose(handle), E_HANDLE);
    // The next folder goes away while enumerating; a new one comes.
    ASSERT_EQ(ns->DeleteFolder(made[1], 0), S_OK);
    STOREFOLDERID late = 0;
    ASSERT_EQ(ns->CreateFolder(inbox, "Late", 0, &late), S_OK);
    std::vector<STOREFOLDERID> rest;
    while (ns->GetNextSubFolder(handle, &props) == S_OK) {
        rest.push_back(props.FolderId);
    }
    EXPECT_EQ(rest, (std::vector<STOREFOLDERID>{made[2], made[3], late}));
    EXPECT_EQ(ns->GetNextSubFolder(handle, &props), S_FALSE);
    EXPECT_EQ(ns->GetSubFolderClose(handle), S_OK);
    EXPECT_EQ(ns->GetSubFolderClose(handle), E_HANDLE);
    EXPECT_EQ(ns->GetNextSubFolder(handle, &props), E_HANDLE);
    EXPECT_EQ(ns->GetNextSubFolder(reinterpret_cast<HENUMSTORE>(1), &props), E_HANDLE);

    // Messages: one deleted under a running enumeration is skipped.
    const auto ids = Seed(inbox, {Mail("a"), Mail("b"), Mail("c")});
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return MessageIds(folder.Get()).size() == 3; }, 5000));
    MESSAGEPROPS m = store::NewMessageProps();
    HENUMSTORE mh = nullptr;
    ASSERT_EQ(folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &m, &mh), S_OK);
    EXPECT_EQ(m.dwMessageId, ids[0]);
    folder->FreeMessageProps(&m);
    std::vector<MESSAGEID> doomed{ids[1]};
    MESSAGEIDLIST list = IdList(doomed);
    ASSERT_EQ(folder->DeleteMessages(&list, 0, nullptr), S_OK);
    ASSERT_EQ(folder->GetNextMessage(mh, 0, &m), S_OK);
    EXPECT_EQ(m.dwMessageId, ids[2]);
    folder->FreeMessageProps(&m);
    EXPECT_EQ(folder->GetNextMessage(mh, 0, &m), S_FALSE);
    EXPECT_EQ(folder->GetMessageClose(mh), S_OK);
    EXPECT_EQ(folder->GetMessageClose(mh), E_HANDLE);
    EXPECT_EQ(folder->GetNextMessage(handle, 0, &m), E_HANDLE) << "a folder enumeration's handle";

    // Starting from a given id.
    ASSERT_EQ(folder->GetFirstMessage(0, 0, ids[2], &m, &mh), S_OK);
    EXPECT_EQ(m.dwMessageId, ids[2]);
    folder->FreeMessageProps(&m);
    EXPECT_EQ(folder->GetMessageClose(mh), S_OK);
}

TEST_F(ServerTest, MessageRecordsCarryTheMessageAndAreFreedOnce) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const std::string first =
        Mail("=?utf-8?B?R3LDvMOfZQ==?=", "Alice Example <alice@example.org>",
             "Bob Example <bob@example.com>, carol@example.com", "X-Priority: 1\r\n");
    const std::string second =
        Mail("Low", "dave@example.org", "Bob Example <bob@example.com>", "X-Priority: 5\r\n");
    const auto ids = Seed(inbox, {first, second});

    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);
    auto all = Messages(folder.Get());
    ASSERT_EQ(all.size(), 2u);
    MESSAGEPROPS& m = all[0];
    EXPECT_EQ(m.cbSize, MESSAGEPROPS_SIZE);
    EXPECT_EQ(m.dwMessageId, ids[0]);
    EXPECT_EQ(m.cbMessage, first.size());
    EXPECT_EQ(m.priority, MSGPRI_HIGH);
    EXPECT_NE(m.dwState & MSGSTATE_UNREAD, 0u);
    EXPECT_EQ(m.pStmOffsetTable, nullptr);
    const uint64_t sent = (uint64_t{m.ftSent.dwHighDateTime} << 32) | m.ftSent.dwLowDateTime;
    EXPECT_EQ(sent, mailstore::FileTimeFromUtc(2026, 3, 3, 10, 20, 30));
    if (GetACP() == 1252) {
        EXPECT_STREQ(m.pszSubject, "Gr\xFC\xDF"
                                   "e");
    }
    EXPECT_STREQ(m.pszDisplayFrom, "Alice Example");
    EXPECT_STREQ(m.pszDisplayTo, "Bob Example; carol@example.com");
    EXPECT_EQ(all[1].priority, MSGPRI_LOW);
    EXPECT_STREQ(all[1].pszDisplayFrom, "dave@example.org");

    EXPECT_EQ(folder->FreeMessageProps(&m), S_OK);
    EXPECT_EQ(m.pszSubject, nullptr);
    EXPECT_EQ(m.pszDisplayTo, nullptr);
    EXPECT_EQ(m.pszDisplayFrom, nullptr);
    EXPECT_EQ(folder->FreeMessageProps(&m), S_OK) << "twice is safe";
    EXPECT_EQ(folder->FreeMessageProps(&all[1]), S_OK);
    EXPECT_EQ(folder->FreeMessageProps(nullptr), E_POINTER);

    // A stream left in the record is released with it.
    ComPtr<IStream> offsets;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, offsets.GetAddressOf()), S_OK);
    MESSAGEPROPS held = store::NewMessageProps();
    ASSERT_EQ(folder->GetMessageProps(ids[0], 0, &held), S_OK);
    held.pStmOffsetTable = offsets.Get();
    offsets->AddRef(); // the record's reference
    EXPECT_EQ(folder->FreeMessageProps(&held), S_OK);
    EXPECT_EQ(held.pStmOffsetTable, nullptr);
    EXPECT_EQ(offsets->AddRef(), 2u) << "only the test's own reference is left";
    offsets->Release();

    MESSAGEPROPS one = store::NewMessageProps();
    ASSERT_EQ(folder->GetMessageProps(ids[1], 0, &one), S_OK);
    EXPECT_STREQ(one.pszSubject, "Low");
    folder->FreeMessageProps(&one);
    EXPECT_TRUE(FAILED(folder->GetMessageProps(ids[1] + 1000, 0, &one)));
    EXPECT_EQ(one.pszSubject, nullptr);
    EXPECT_EQ(folder->GetMessageProps(ids[1], 0, nullptr), E_POINTER);

    ComPtr<IStoreFolder> none;
    EXPECT_TRUE(FAILED(ns->OpenFolder(999999, 0, none.GetAddressOf())));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ns->OpenFolder(inbox, 0, nullptr), E_POINTER);
}

TEST_F(ServerTest, MarkDeleteCopyAndMoveChangeExactlyWhatTheySay) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const STOREFOLDERID drafts = SpecialFolder(ns.Get(), FOLDER_DRAFT);
    auto ids = Seed(inbox, {Mail("a"), Mail("b"), Mail("c"), Mail("d")});
    ComPtr<IStoreFolder> in, out;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, in.GetAddressOf()), S_OK);
    ASSERT_EQ(ns->OpenFolder(drafts, 0, out.GetAddressOf()), S_OK);
    EXPECT_EQ(Props(ns.Get(), inbox).cUnread, 4u);

    std::vector<MESSAGEID> two{ids[0], ids[2]};
    MESSAGEIDLIST list = IdList(two);
    ASSERT_EQ(in->MarkMessagesAsRead(TRUE, 0, &list), S_OK);
    EXPECT_EQ(Props(ns.Get(), inbox).cUnread, 2u);
    ASSERT_EQ(in->MarkMessagesAsRead(FALSE, 0, nullptr), S_OK) << "no list: the whole folder";
    EXPECT_EQ(Props(ns.Get(), inbox).cUnread, 4u);
    ASSERT_EQ(in->MarkMessagesAsRead(-1, 0, nullptr), S_OK);
    EXPECT_EQ(Props(ns.Get(), inbox).cUnread, 0u);

    // Bad lists change nothing.
    std::vector<MESSAGEID> unknown{ids[1], 999999};
    MESSAGEIDLIST bad = IdList(unknown);
    EXPECT_TRUE(FAILED(in->DeleteMessages(&bad, 0, nullptr)));
    EXPECT_TRUE(FAILED(in->MarkMessagesAsRead(FALSE, 0, &bad)));
    MESSAGEIDLIST tooMany{MESSAGEIDLIST_SIZE, 50, two.data()};
    EXPECT_EQ(in->DeleteMessages(&tooMany, 0, nullptr), E_INVALIDARG);
    MESSAGEIDLIST noArray{MESSAGEIDLIST_SIZE, 2, nullptr};
    EXPECT_EQ(in->DeleteMessages(&noArray, 0, nullptr), E_POINTER);
    EXPECT_EQ(in->DeleteMessages(nullptr, 0, nullptr), E_POINTER);
    EXPECT_EQ(ns->CopyMoveMessages(in.Get(), nullptr, &list, 1, 2, nullptr), E_POINTER);
    EXPECT_EQ(ns->CopyMoveMessages(in.Get(), out.Get(), &tooMany, 1, 2, nullptr), E_INVALIDARG);
    EXPECT_TRUE(FAILED(ns->CopyMoveMessages(in.Get(), out.Get(), &bad, 1, 2, nullptr)));
    EXPECT_TRUE(FAILED(ns->CopyMoveMessages(in.Get(), in.Get(), &list, 1, 2, nullptr)));
    EXPECT_EQ(MessageIds(in.Get()), ids);
    EXPECT_TRUE(MessageIds(out.Get()).empty());
    EXPECT_EQ(Props(ns.Get(), inbox).cUnread, 0u);

    ASSERT_EQ(ns->CopyMoveMessages(in.Get(), out.Get(), &list, 0, 2, nullptr), S_OK);
    EXPECT_EQ(MessageIds(in.Get()).size(), 4u);
    EXPECT_EQ(MessageIds(out.Get()).size(), 2u);
    ASSERT_EQ(ns->CopyMoveMessages(in.Get(), out.Get(), &list, 1, 2, nullptr), S_OK);
    EXPECT_EQ(MessageIds(in.Get()), (std::vector<MESSAGEID>{ids[1], ids[3]}));
    EXPECT_EQ(MessageIds(out.Get()).size(), 4u);
    EXPECT_EQ(Props(ns.Get(), drafts).cMessage, 4u);

    // A folder from another store is refused.
    TempDir elsewhere(L"mailstore-com-other");
    SetEnvironmentVariableW(L"MAILSTORE_DIR", elsewhere.path().c_str());
    {
        auto foreignNs = Connect();
        ASSERT_TRUE(foreignNs);
        ComPtr<IStoreFolder> foreign;
        ASSERT_EQ(foreignNs->OpenFolder(SpecialFolder(foreignNs.Get(), FOLDER_INBOX), 0,
                                        foreign.GetAddressOf()),
                  S_OK);
        std::vector<MESSAGEID> rest{ids[1]};
        MESSAGEIDLIST restList = IdList(rest);
        EXPECT_EQ(ns->CopyMoveMessages(in.Get(), foreign.Get(), &restList, 0, 2, nullptr),
                  E_INVALIDARG);
        EXPECT_TRUE(MessageIds(foreign.Get()).empty());
    }

    std::vector<MESSAGEID> last{ids[1], ids[3]};
    MESSAGEIDLIST lastList = IdList(last);
    ASSERT_EQ(in->DeleteMessages(&lastList, 0, nullptr), S_OK);
    EXPECT_TRUE(MessageIds(in.Get()).empty());
}

TEST_F(ServerTest, OpenMessageStreamsTheSourceByteForByte) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    std::string body;
    for (int line = 0; body.size() < 6 * 1024 * 1024; ++line) {
        body += "Line " + std::to_string(line) + " of a long message, with bytes \xE9\xFF\x01.\r\n";
    }
    const std::string source =
        Mail("Big", "Alice Example <alice@example.org>", "Bob Example <bob@example.com>", "", body);
    const MESSAGEID id = Seed(inbox, {source}).at(0);
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);

    ComPtr<IUnknown> wrong;
    EXPECT_EQ(folder->OpenMessage(id, IID_IStorage, reinterpret_cast<void**>(wrong.GetAddressOf())),
              E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);
    ComPtr<IStream> missing;
    EXPECT_TRUE(FAILED(folder->OpenMessage(id + 1000, IID_IStream,
                                           reinterpret_cast<void**>(missing.GetAddressOf()))));
    EXPECT_EQ(folder->OpenMessage(id, IID_IStream, nullptr), E_POINTER);

    ComPtr<IStream> stream;
    ASSERT_EQ(folder->OpenMessage(id, IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())),
              S_OK);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, 0), S_OK);
    ASSERT_EQ(stat.cbSize.QuadPart, source.size());

    const std::wstring file = (dir.path() / L"saved.eml").wstring();
    {
        ComPtr<IStream> out;
        ASSERT_EQ(SHCreateStreamOnFileEx(file.c_str(), STGM_CREATE | STGM_WRITE,
                                         FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, out.GetAddressOf()),
                  S_OK);
        ULARGE_INTEGER read{}, written{};
        ASSERT_EQ(stream->CopyTo(out.Get(), stat.cbSize, &read, &written), S_OK);
        EXPECT_EQ(read.QuadPart, source.size());
        EXPECT_EQ(written.QuadPart, source.size());
    }
    std::ifstream in(dir.path() / L"saved.eml", std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved.size(), source.size());
    EXPECT_TRUE(saved == source) << "the saved file differs from the source";
}

TEST_F(ServerTest, UnlistedSlotsAreNotImplemented) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    EXPECT_EQ(CallSlot(ns.Get(), 5), E_NOTIMPL);
    EXPECT_EQ(CallSlot(ns.Get(), 15), E_NOTIMPL);
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(SpecialFolder(ns.Get(), FOLDER_INBOX), 0, folder.GetAddressOf()),
              S_OK);
    for (int slot : {3, 7, 9, 11, 12, 13, 14, 15, 16, 19}) {
        EXPECT_EQ(CallSlot(folder.Get(), slot), E_NOTIMPL) << "slot " << slot;
    }
}
