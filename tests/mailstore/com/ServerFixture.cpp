#include "ServerFixture.h"

#include "StoreRecords.h"

namespace comtest {

std::string Mail(const std::string& subject, const std::string& from, const std::string& to,
                 const std::string& extraHeaders, const std::string& body) {
    return "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject +
           "\r\nDate: Tue, 03 Mar 2026 10:20:30 +0000\r\n" + extraHeaders + "\r\n" + body;
}

void ServerTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    comReady_ = true;
    ASSERT_TRUE(SetEnvironmentVariableW(L"MAILSTORE_DIR", dir.path().c_str()));
}

void ServerTest::TearDown() {
    if (comReady_) {
        CoUninitialize();
    }
}

ComPtr<IStoreNamespace> ServerTest::Connect() {
    ComPtr<IStoreNamespace> ns;
    const HRESULT hr =
        CoCreateInstance(CLSID_StoreNamespace, nullptr, CLSCTX_INPROC_SERVER, IID_IStoreNamespace,
                         reinterpret_cast<void**>(ns.GetAddressOf()));
    EXPECT_EQ(hr, S_OK) << "is mailstore.dll registered? scripts/test-windows.sh registers it";
    if (ns) {
        EXPECT_EQ(ns->Initialize(nullptr, 0), S_OK);
    }
    return ns;
}

std::unique_ptr<mailstore::Store> ServerTest::Engine() {
    mailstore::OpenOptions options;
    options.create = true;
    std::unique_ptr<mailstore::Store> store;
    const auto u8 = dir.path().generic_u8string();
    const mailstore::Status st =
        mailstore::Store::Open(std::string(u8.begin(), u8.end()), options, &store);
    EXPECT_TRUE(st.ok()) << st.message();
    return store;
}

std::vector<MESSAGEID> ServerTest::Seed(STOREFOLDERID folder,
                                        const std::vector<std::string>& sources) {
    auto store = Engine();
    std::vector<MESSAGEID> ids;
    for (const auto& source : sources) {
        mailstore::MessageId id = 0;
        const mailstore::Status st = store->ImportMessage(folder, source, &id);
        EXPECT_TRUE(st.ok()) << st.message();
        ids.push_back(id);
    }
    return ids;
}

std::vector<FOLDERPROPS> ServerTest::Children(IStoreNamespace* ns, STOREFOLDERID parent) {
    std::vector<FOLDERPROPS> out;
    FOLDERPROPS props = store::NewFolderProps();
    HENUMSTORE handle = nullptr;
    if (ns->GetFirstSubFolder(parent, &props, &handle) != S_OK) {
        return out;
    }
    do {
        out.push_back(props);
    } while (ns->GetNextSubFolder(handle, &props) == S_OK);
    EXPECT_EQ(ns->GetSubFolderClose(handle), S_OK);
    return out;
}

STOREFOLDERID ServerTest::SpecialFolder(IStoreNamespace* ns, LONG type) {
    for (const auto& f : Children(ns, FOLDERID_ROOT)) {
        if (f.sfType == type) {
            return f.FolderId;
        }
    }
    ADD_FAILURE() << "no special folder of type " << type;
    return 0;
}

std::vector<MESSAGEPROPS> ServerTest::Messages(IStoreFolder* folder) {
    std::vector<MESSAGEPROPS> out;
    MESSAGEPROPS props = store::NewMessageProps();
    HENUMSTORE handle = nullptr;
    if (folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &handle) != S_OK) {
        return out;
    }
    do {
        out.push_back(props);
        props = store::NewMessageProps();
    } while (folder->GetNextMessage(handle, 0, &props) == S_OK);
    EXPECT_EQ(folder->GetMessageClose(handle), S_OK);
    return out;
}

std::vector<MESSAGEID> ServerTest::MessageIds(IStoreFolder* folder) {
    std::vector<MESSAGEID> ids;
    for (auto& m : Messages(folder)) {
        ids.push_back(m.dwMessageId);
        folder->FreeMessageProps(&m);
    }
    return ids;
}

FOLDERPROPS ServerTest::Props(IStoreNamespace* ns, STOREFOLDERID id) {
    FOLDERPROPS props = store::NewFolderProps();
    EXPECT_EQ(ns->GetFolderProps(id, 0, &props), S_OK);
    return props;
}

} // namespace comtest
