// The store's COM objects: the namespace (folders) and an open folder
// (messages). Apartment-threaded: each object is used on the thread that made it.
// The Reserved slots are ones the tool never calls.
#pragma once

#include "HandleTable.h"
#include "Records.h"
#include "RefCounted.h"
#include "StoreApi.h"
#include "StoreSession.h"

#include <memory>
#include <vector>

namespace mailstore::com {

// Creates a namespace object for `riid`; the class factory's CreateInstance.
HRESULT CreateNamespace(REFIID riid, void** ppv);

class Namespace final : public RefCounted<IStoreNamespace> {
  public:
    Namespace();
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP Initialize(HWND hwndOwner, DWORD dwReserved) override;
    STDMETHODIMP GetDirectory(LPSTR pszPath, DWORD cchMaxPath) override;
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP OpenFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                            IStoreFolder** ppFolder) override;
    STDMETHODIMP CreateFolder(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD dwReserved,
                              STOREFOLDERID* pdwFolderId) override;
    STDMETHODIMP RenameFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                              LPCSTR pszNewName) override;
    STDMETHODIMP MoveFolder(STOREFOLDERID dwFolderId, STOREFOLDERID dwParentId,
                            DWORD dwReserved) override;
    STDMETHODIMP DeleteFolder(STOREFOLDERID dwFolderId, DWORD dwReserved) override;
    STDMETHODIMP GetFolderProps(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                FOLDERPROPS* pProps) override;
    STDMETHODIMP CopyMoveMessages(IStoreFolder* pSource, IStoreFolder* pDest,
                                  MESSAGEIDLIST* pMsgIdList, DWORD dwFlags, DWORD dwFlagsRemove,
                                  IUnknown* pProgress) override;
    STDMETHODIMP RegisterNotification(DWORD dwReserved, HWND hwnd) override;
    STDMETHODIMP UnregisterNotification(DWORD dwReserved, HWND hwnd) override;
    STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
    STDMETHODIMP GetFirstSubFolder(STOREFOLDERID dwFolderId, FOLDERPROPS* pProps,
                                   HENUMSTORE* phEnum) override;
    STDMETHODIMP GetNextSubFolder(HENUMSTORE hEnum, FOLDERPROPS* pProps) override;
    STDMETHODIMP GetSubFolderClose(HENUMSTORE hEnum) override;

  private:
    ~Namespace();

    struct SubFolderEnum {
        STOREFOLDERID parent;
        STOREFOLDERID last; // the last child given out
    };

    HRESULT FillNextChild(SubFolderEnum& e, FOLDERPROPS* props);

    std::shared_ptr<StoreSession> session_;
    HandleTable<SubFolderEnum> enums_;
};

class Folder final : public RefCounted<IStoreFolder> {
  public:
    Folder(std::shared_ptr<StoreSession> session, STOREFOLDERID id);
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // The folder behind `folder` if it is one of ours; no reference is added.
    static Folder* FromInterface(IStoreFolder* folder);

    STOREFOLDERID id() const { return id_; }
    StoreSession* session() const { return session_.get(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP GetMessageProps(MESSAGEID dwMessageId, DWORD dwFlags,
                                 MESSAGEPROPS* pProps) override;
    STDMETHODIMP FreeMessageProps(MESSAGEPROPS* pProps) override;
    STDMETHODIMP DeleteMessages(MESSAGEIDLIST* pMsgIdList, DWORD dwReserved,
                                IUnknown* pProgress) override;
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
    STDMETHODIMP MarkMessagesAsRead(BOOL fRead, DWORD dwReserved,
                                    MESSAGEIDLIST* pMsgIdList) override;
    STDMETHODIMP Reserved9() override { return E_NOTIMPL; }
    STDMETHODIMP OpenMessage(MESSAGEID dwMessageId, REFIID riid, void** ppvObject) override;
    STDMETHODIMP Reserved11() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved12() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved13() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved14() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved16() override { return E_NOTIMPL; }
    STDMETHODIMP RegisterNotification(DWORD dwReserved, HWND hwnd) override;
    STDMETHODIMP UnregisterNotification(DWORD dwReserved, HWND hwnd) override;
    STDMETHODIMP Reserved19() override { return E_NOTIMPL; }
    STDMETHODIMP GetFirstMessage(DWORD dwFlags, DWORD dwMsgFlags, MESSAGEID dwMsgIdFirst,
                                 MESSAGEPROPS* pProps, HENUMSTORE* phEnum) override;
    STDMETHODIMP GetNextMessage(HENUMSTORE hEnum, DWORD dwFlags, MESSAGEPROPS* pProps) override;
    STDMETHODIMP GetMessageClose(HENUMSTORE hEnum) override;

  private:
    ~Folder();

    struct MessageEnum {
        std::vector<mailstore::MessageId> ids; // taken at the start; vanished ones are skipped
        size_t next = 0;
        mailstore::MessageInfo info; // reused, so its texts keep their buffers
    };

    HRESULT FillNext(MessageEnum& e, MESSAGEPROPS* props);

    std::shared_ptr<StoreSession> session_;
    STOREFOLDERID id_;
    HandleTable<MessageEnum> enums_;
};

// ReadIdList bounded by the number of messages `folder` holds now.
HRESULT ReadFolderIdList(StoreSession& session, STOREFOLDERID folder, const MESSAGEIDLIST* list,
                         std::vector<mailstore::MessageId>* ids);

} // namespace mailstore::com
