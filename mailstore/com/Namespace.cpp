#include "StoreObjects.h"

#include "Module.h"
#include "Registration.h"
#include "Text.h"

#include <algorithm>
#include <cstring>

namespace mailstore::com {
namespace {

// Our own folders recognise this id and hand back their object.
// {67178864-446A-43D0-A512-4D7B922C661C}
constexpr IID IID_FolderObject = {
    0x67178864, 0x446A, 0x43D0, {0xA5, 0x12, 0x4D, 0x7B, 0x92, 0x2C, 0x66, 0x1C}};

constexpr HRESULT kNotInitialized = E_UNEXPECTED;

// Also hands out a failure the session met meanwhile.
HRESULT Initialized(const std::shared_ptr<StoreSession>& session) {
    return session ? session->TakeFailure() : kNotInitialized;
}

// For a change: a pick-up failure met before is stale, as the change reads the
// store as it is now and reports its own outcome. Returning the old failure
// instead would drop a change the caller does not check, such as a delete.
HRESULT ReadyToChange(const std::shared_ptr<StoreSession>& session) {
    if (!session)
        return kNotInitialized;
    session->TakeFailure();
    return S_OK;
}

// Picks up other processes' changes first, then reads the folder's record.
HRESULT ReadFolder(StoreSession& session, STOREFOLDERID id, mailstore::FolderInfo* info) {
    RETURN_IF_FAILED(session.Poll());
    return ToHResult(session.store().GetFolder(id, info));
}

} // namespace

HRESULT CreateNamespace(REFIID riid, void** ppv) {
    if (!ppv) {
        return E_POINTER;
    }
    *ppv = nullptr;
    return CreateObject<Namespace>(riid, ppv);
}

HRESULT ReadFolderIdList(StoreSession& session, STOREFOLDERID folder, const MESSAGEIDLIST* list,
                         std::vector<mailstore::MessageId>* ids) {
    std::vector<mailstore::MessageId> present;
    RETURN_IF_FAILED(ToHResult(session.store().GetMessageIds(folder, &present)));
    return ReadIdList(list, present.size(), ids);
}

Namespace::Namespace() {
    ObjectCreated();
}

Namespace::~Namespace() {
    if (session_) {
        session_->listeners().RemoveOwner(this);
    }
    ObjectDestroyed();
}

STDMETHODIMP Namespace::QueryInterface(REFIID riid, void** ppv) {
    return HandOut(static_cast<IStoreNamespace*>(this), riid, {IID_IUnknown, IID_IStoreNamespace},
                   ppv);
}

STDMETHODIMP Namespace::Initialize(HWND, DWORD) {
    return Guarded([&] {
        if (session_) {
            return S_OK;
        }
        // Only the default store starts from nothing: a first run on a fresh profile.
        return StoreSession::Open(StoreDirectory(), &session_, DefaultStoreDirectory());
    });
}

STDMETHODIMP Namespace::GetDirectory(LPSTR pszPath, DWORD cchMaxPath) {
    return Guarded([&]() -> HRESULT {
        if (!pszPath) {
            return E_POINTER;
        }
        if (cchMaxPath == 0) {
            return E_INVALIDARG;
        }
        const std::wstring dir = session_ ? session_->directory() : StoreDirectory();
        const std::string path = WideToCodePage(dir);
        if (path.size() >= cchMaxPath) {
            pszPath[0] = '\0';
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(pszPath, path.c_str(), path.size() + 1);
        return S_OK;
    });
}

STDMETHODIMP Namespace::OpenFolder(STOREFOLDERID dwFolderId, DWORD, IStoreFolder** ppFolder) {
    return Guarded([&]() -> HRESULT {
        if (!ppFolder) {
            return E_POINTER;
        }
        *ppFolder = nullptr;
        RETURN_IF_FAILED(Initialized(session_));
        if (dwFolderId == FOLDERID_ROOT) {
            return E_INVALIDARG; // the root holds no messages
        }
        mailstore::FolderInfo info;
        RETURN_IF_FAILED(ReadFolder(*session_, dwFolderId, &info));
        *ppFolder = new Folder(session_, dwFolderId);
        return S_OK;
    });
}

STDMETHODIMP Namespace::CreateFolder(STOREFOLDERID dwParentId, LPCSTR pszName, DWORD,
                                     STOREFOLDERID* pdwFolderId) {
    return Guarded([&]() -> HRESULT {
        if (pdwFolderId) {
            *pdwFolderId = 0;
        }
        if (!pszName || !pdwFolderId) {
            return E_POINTER;
        }
        RETURN_IF_FAILED(ReadyToChange(session_));
        mailstore::FolderId id = 0;
        const mailstore::Status st =
            session_->store().CreateFolder(dwParentId, CodePageToUtf8(pszName), &id);
        session_->Publish();
        if (st.ok()) {
            *pdwFolderId = id;
        }
        return ToHResult(st);
    });
}

STDMETHODIMP Namespace::RenameFolder(STOREFOLDERID dwFolderId, DWORD, LPCSTR pszNewName) {
    return Guarded([&]() -> HRESULT {
        if (!pszNewName) {
            return E_POINTER;
        }
        RETURN_IF_FAILED(ReadyToChange(session_));
        // The name exactly as this server hands it out is no new name: a name
        // the code page cannot show comes back as its '?' form and must not
        // replace the name.
        mailstore::FolderInfo current;
        if (ReadFolder(*session_, dwFolderId, &current) == S_OK &&
            Utf8ToCodePage(current.name, CP_ACP, kMaxNameBytes) == pszNewName) {
            return S_OK;
        }
        const mailstore::Status st =
            session_->store().RenameFolder(dwFolderId, CodePageToUtf8(pszNewName));
        session_->Publish();
        return ToHResult(st);
    });
}

STDMETHODIMP Namespace::MoveFolder(STOREFOLDERID dwFolderId, STOREFOLDERID dwParentId, DWORD) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(ReadyToChange(session_));
        const mailstore::Status st = session_->store().MoveFolder(dwFolderId, dwParentId);
        session_->Publish();
        return ToHResult(st);
    });
}

STDMETHODIMP Namespace::DeleteFolder(STOREFOLDERID dwFolderId, DWORD) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(ReadyToChange(session_));
        const mailstore::Status st = session_->store().DeleteFolder(dwFolderId);
        session_->Publish();
        return ToHResult(st);
    });
}

STDMETHODIMP Namespace::GetFolderProps(STOREFOLDERID dwFolderId, DWORD, FOLDERPROPS* pProps) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(CheckRecord(pProps, FOLDERPROPS_SIZE));
        RETURN_IF_FAILED(Initialized(session_));
        mailstore::FolderInfo info;
        RETURN_IF_FAILED(ReadFolder(*session_, dwFolderId, &info));
        FillFolderProps(info, pProps);
        return S_OK;
    });
}

STDMETHODIMP Namespace::CopyMoveMessages(IStoreFolder* pSource, IStoreFolder* pDest,
                                         MESSAGEIDLIST* pMsgIdList, DWORD dwFlags, DWORD,
                                         IUnknown*) {
    return Guarded([&]() -> HRESULT {
        if (!pSource || !pDest || !pMsgIdList) {
            return E_POINTER;
        }
        RETURN_IF_FAILED(ReadyToChange(session_));
        Folder* from = Folder::FromInterface(pSource);
        Folder* to = Folder::FromInterface(pDest);
        if (!from || !to || from->session() != session_.get() || to->session() != session_.get()) {
            return E_INVALIDARG; // folders of another store or another implementation
        }
        const bool move = (dwFlags & 1) != 0;
        if (move && from->id() == to->id()) {
            return E_INVALIDARG;
        }
        std::vector<mailstore::MessageId> ids;
        RETURN_IF_FAILED(ReadFolderIdList(*session_, from->id(), pMsgIdList, &ids));
        if (ids.empty()) {
            return S_OK;
        }
        std::vector<mailstore::MessageId> newIds;
        const mailstore::Status st =
            move ? session_->store().MoveMessages(from->id(), to->id(), ids, &newIds)
                 : session_->store().CopyMessages(from->id(), to->id(), ids, &newIds);
        session_->Publish();
        return ToHResult(st);
    });
}

STDMETHODIMP Namespace::RegisterNotification(DWORD, HWND hwnd) {
    return Guarded([&]() -> HRESULT {
        if (!session_) {
            return kNotInitialized;
        }
        if (!hwnd || !IsWindow(hwnd)) {
            return E_INVALIDARG;
        }
        session_->listeners().Add(this, hwnd, false, 0);
        return S_OK;
    });
}

STDMETHODIMP Namespace::UnregisterNotification(DWORD, HWND hwnd) {
    return Guarded([&]() -> HRESULT {
        if (session_) {
            session_->listeners().Remove(this, hwnd);
        }
        return S_OK;
    });
}

HRESULT Namespace::FillNextChild(SubFolderEnum& e, FOLDERPROPS* props) {
    // The next child is looked up afresh each time, so folders added or removed
    // meanwhile are seen or skipped; one lookup, not a copy of all children,
    // or a folder of many would cost a copy of them all per step.
    for (;;) {
        mailstore::FolderId next = 0;
        if (!session_->store().NextChild(e.parent, e.last, &next).ok() || next == 0) {
            return S_FALSE; // no more, or the parent went away: the enumeration is over
        }
        e.last = next;
        mailstore::FolderInfo info;
        if (session_->store().GetFolder(next, &info).ok()) {
            FillFolderProps(info, props);
            return S_OK;
        }
    }
}

STDMETHODIMP Namespace::GetFirstSubFolder(STOREFOLDERID dwFolderId, FOLDERPROPS* pProps,
                                          HENUMSTORE* phEnum) {
    return Guarded([&]() -> HRESULT {
        if (!pProps || !phEnum) {
            return E_POINTER;
        }
        *phEnum = nullptr;
        RETURN_IF_FAILED(CheckRecord(pProps, FOLDERPROPS_SIZE));
        RETURN_IF_FAILED(Initialized(session_));
        mailstore::FolderInfo parent;
        RETURN_IF_FAILED(ReadFolder(*session_, dwFolderId, &parent));
        SubFolderEnum e{dwFolderId, 0};
        const HRESULT hr = FillNextChild(e, pProps);
        if (hr != S_OK) {
            return hr;
        }
        *phEnum = enums_.Add(std::make_unique<SubFolderEnum>(e));
        return S_OK;
    });
}

STDMETHODIMP Namespace::GetNextSubFolder(HENUMSTORE hEnum, FOLDERPROPS* pProps) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(CheckRecord(pProps, FOLDERPROPS_SIZE));
        SubFolderEnum* e = enums_.Find(hEnum);
        if (!e || !session_) {
            return E_HANDLE;
        }
        RETURN_IF_FAILED(session_->TakeFailure());
        return FillNextChild(*e, pProps);
    });
}

STDMETHODIMP Namespace::GetSubFolderClose(HENUMSTORE hEnum) {
    return enums_.Remove(hEnum) ? S_OK : E_HANDLE;
}

// ---- Folder ------------------------------------------------------------------

Folder::Folder(std::shared_ptr<StoreSession> session, STOREFOLDERID id)
    : session_(std::move(session)), id_(id) {
    ObjectCreated();
}

Folder::~Folder() {
    session_->listeners().RemoveOwner(this);
    ObjectDestroyed();
}

Folder* Folder::FromInterface(IStoreFolder* folder) {
    void* object = nullptr;
    if (!folder || FAILED(folder->QueryInterface(IID_FolderObject, &object)) || !object) {
        return nullptr;
    }
    auto* ours = static_cast<Folder*>(object);
    ours->Release(); // the caller's reference keeps it alive
    return ours;
}

STDMETHODIMP Folder::QueryInterface(REFIID riid, void** ppv) {
    if (ppv && riid == IID_FolderObject) {
        *ppv = this;
        AddRef();
        return S_OK;
    }
    return HandOut(static_cast<IStoreFolder*>(this), riid, {IID_IUnknown, IID_IStoreFolder}, ppv);
}

} // namespace mailstore::com
