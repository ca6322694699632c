// A lean in-memory store for the benchmarks: one folder under the root, its
// messages in a vector, enumeration in constant time per message, three text
// copies per record as a real store hands out. The test double records every
// call and finds messages by scanning, which would swamp the figures.
#pragma once

#include "StoreApi.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace bench {

struct BenchMessage {
    MESSAGEID id = 0;
    DWORD state = 0;
    FILETIME received{};
    std::string from;
    std::string subject;
};

class BenchStore final : public IStoreNamespace, public IStoreFolder {
  public:
    static constexpr STOREFOLDERID kFolder = 1;
    std::vector<BenchMessage> messages;
    HWND folderWindow = nullptr; // registered for message notifications

    BenchStore() = default;
    BenchStore(const BenchStore&) = delete;
    BenchStore& operator=(const BenchStore&) = delete;

    // ---- IUnknown (both interfaces share one object; it lives on the stack) ----
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IStoreNamespace)
            *object = static_cast<IStoreNamespace*>(this);
        else if (riid == IID_IStoreFolder)
            *object = static_cast<IStoreFolder*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // ---- IStoreNamespace ----
    STDMETHODIMP Initialize(HWND, DWORD) override { return S_OK; }
    STDMETHODIMP GetDirectory(LPSTR path, DWORD size) override {
        return lstrcpynA(path, "C:\\Bench", static_cast<int>(size)) ? S_OK : E_FAIL;
    }
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP OpenFolder(STOREFOLDERID id, DWORD, IStoreFolder** folder) override {
        if (!folder || id != kFolder)
            return E_FAIL;
        *folder = static_cast<IStoreFolder*>(this);
        return S_OK;
    }
    STDMETHODIMP CreateFolder(STOREFOLDERID, LPCSTR, DWORD, STOREFOLDERID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP RenameFolder(STOREFOLDERID, DWORD, LPCSTR) override { return E_NOTIMPL; }
    STDMETHODIMP MoveFolder(STOREFOLDERID, STOREFOLDERID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteFolder(STOREFOLDERID, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetFolderProps(STOREFOLDERID id, DWORD, FOLDERPROPS* props) override {
        if (id != kFolder || !props || props->cbSize != FOLDERPROPS_SIZE)
            return E_FAIL;
        FillFolder(*props);
        return S_OK;
    }
    STDMETHODIMP CopyMoveMessages(IStoreFolder*, IStoreFolder*, MESSAGEIDLIST*, DWORD, DWORD,
                                  IUnknown*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP RegisterNotification(DWORD, HWND) override { return S_OK; }
    STDMETHODIMP UnregisterNotification(DWORD, HWND) override { return S_OK; }
    STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
    STDMETHODIMP GetFirstSubFolder(STOREFOLDERID id, FOLDERPROPS* props,
                                   HENUMSTORE* handle) override {
        if (id != FOLDERID_ROOT || !props || !handle)
            return S_FALSE;
        FillFolder(*props);
        *handle = reinterpret_cast<HENUMSTORE>(1);
        return S_OK;
    }
    STDMETHODIMP GetNextSubFolder(HENUMSTORE, FOLDERPROPS*) override { return S_FALSE; }
    STDMETHODIMP GetSubFolderClose(HENUMSTORE) override { return S_OK; }

    // ---- IStoreFolder ----
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP GetMessageProps(MESSAGEID, DWORD, MESSAGEPROPS*) override { return E_NOTIMPL; }
    STDMETHODIMP FreeMessageProps(MESSAGEPROPS* props) override {
        delete[] props->pszSubject;
        delete[] props->pszDisplayFrom;
        delete[] props->pszDisplayTo;
        props->pszSubject = props->pszDisplayFrom = props->pszDisplayTo = nullptr;
        return S_OK;
    }
    STDMETHODIMP DeleteMessages(MESSAGEIDLIST*, DWORD, IUnknown*) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
    STDMETHODIMP MarkMessagesAsRead(BOOL, DWORD, MESSAGEIDLIST*) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved9() override { return E_NOTIMPL; }
    STDMETHODIMP OpenMessage(MESSAGEID, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved11() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved12() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved13() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved14() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved16() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved19() override { return E_NOTIMPL; }
    STDMETHODIMP GetFirstMessage(DWORD, DWORD, MESSAGEID, MESSAGEPROPS* props,
                                 HENUMSTORE* handle) override {
        if (!props || !handle || messages.empty())
            return S_FALSE;
        position_ = 0;
        Fill(messages[0], *props);
        *handle = reinterpret_cast<HENUMSTORE>(2);
        return S_OK;
    }
    STDMETHODIMP GetNextMessage(HENUMSTORE, DWORD, MESSAGEPROPS* props) override {
        if (++position_ >= messages.size())
            return S_FALSE;
        Fill(messages[position_], *props);
        return S_OK;
    }
    STDMETHODIMP GetMessageClose(HENUMSTORE) override { return S_OK; }

  private:
    static LPSTR Copy(const std::string& text) {
        auto* copy = new char[text.size() + 1];
        std::memcpy(copy, text.c_str(), text.size() + 1);
        return copy;
    }
    void Fill(const BenchMessage& message, MESSAGEPROPS& props) {
        props.dwMessageId = message.id;
        props.dwState = message.state;
        props.ftReceived = message.received;
        props.pszDisplayFrom = Copy(message.from);
        props.pszSubject = Copy(message.subject);
        props.pszDisplayTo = Copy("Alice Example <alice@example.org>");
    }
    void FillFolder(FOLDERPROPS& props) const {
        props.FolderId = kFolder;
        props.cSubFolders = 0;
        props.sfType = FOLDER_INBOX;
        props.cMessage = static_cast<DWORD>(messages.size());
        props.cUnread = 0;
        lstrcpynA(props.szName, "Inbox", STORE_FOLDERNAME_BYTES);
    }

    size_t position_ = 0;
};

// Messages 1..count with varied texts, states and times.
inline std::vector<BenchMessage> MakeMessages(MESSAGEID firstId, int count) {
    std::vector<BenchMessage> made;
    made.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        BenchMessage message;
        message.id = firstId + static_cast<MESSAGEID>(i);
        message.state = (i % 3 == 0 ? MSGSTATE_UNREAD : 0) | (i % 11 == 0 ? MSGSTATE_FLAGGED : 0);
        unsigned long long when =
            133500000000000000ull - static_cast<unsigned long long>(i) * 4200000000ull;
        message.received.dwLowDateTime = static_cast<DWORD>(when);
        message.received.dwHighDateTime = static_cast<DWORD>(when >> 32);
        message.from = "Sender " + std::to_string(i % 97) + " <sender@example.org>";
        message.subject = "Subject line number " + std::to_string(message.id);
        made.push_back(std::move(message));
    }
    return made;
}

} // namespace bench
