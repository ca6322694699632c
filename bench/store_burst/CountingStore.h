// A namespace that hands every call on to the real one and wraps the folders
// it opens, so a bench can count the window's walks of a folder (from
// GetFirstMessage to GetMessageClose) and the time they take.
#pragma once

#include "BenchSupport.h"
#include "StoreApi.h"

#include <windows.h>
#include <wrl/client.h>

#include <cstddef>

namespace bench {

struct WalkCount {
    size_t walks = 0;
    double ms = 0;
};

// IUnknown for one interface; the object starts with one reference.
template <class Interface> class Unknown : public Interface {
  public:
    Unknown() = default;
    Unknown(const Unknown&) = delete;
    Unknown& operator=(const Unknown&) = delete;
    virtual ~Unknown() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

  private:
    ULONG refs_ = 1;
};

class CountingFolder final : public Unknown<IStoreFolder> {
  public:
    CountingFolder(IStoreFolder* inner, WalkCount& count) : inner_(inner), count_(count) {}

    STDMETHODIMP Reserved3() override { return inner_->Reserved3(); }
    STDMETHODIMP GetMessageProps(MESSAGEID id, DWORD flags, MESSAGEPROPS* props) override {
        return inner_->GetMessageProps(id, flags, props);
    }
    STDMETHODIMP FreeMessageProps(MESSAGEPROPS* props) override {
        return inner_->FreeMessageProps(props);
    }
    STDMETHODIMP DeleteMessages(MESSAGEIDLIST* list, DWORD reserved, IUnknown* progress) override {
        return inner_->DeleteMessages(list, reserved, progress);
    }
    STDMETHODIMP Reserved7() override { return inner_->Reserved7(); }
    STDMETHODIMP MarkMessagesAsRead(BOOL read, DWORD reserved, MESSAGEIDLIST* list) override {
        return inner_->MarkMessagesAsRead(read, reserved, list);
    }
    STDMETHODIMP Reserved9() override { return inner_->Reserved9(); }
    STDMETHODIMP OpenMessage(MESSAGEID id, REFIID riid, void** object) override {
        return inner_->OpenMessage(id, riid, object);
    }
    STDMETHODIMP Reserved11() override { return inner_->Reserved11(); }
    STDMETHODIMP Reserved12() override { return inner_->Reserved12(); }
    STDMETHODIMP Reserved13() override { return inner_->Reserved13(); }
    STDMETHODIMP Reserved14() override { return inner_->Reserved14(); }
    STDMETHODIMP Reserved15() override { return inner_->Reserved15(); }
    STDMETHODIMP Reserved16() override { return inner_->Reserved16(); }
    STDMETHODIMP RegisterNotification(DWORD reserved, HWND hwnd) override {
        return inner_->RegisterNotification(reserved, hwnd);
    }
    STDMETHODIMP UnregisterNotification(DWORD reserved, HWND hwnd) override {
        return inner_->UnregisterNotification(reserved, hwnd);
    }
    STDMETHODIMP Reserved19() override { return inner_->Reserved19(); }
    STDMETHODIMP GetFirstMessage(DWORD flags, DWORD msgFlags, MESSAGEID first, MESSAGEPROPS* props,
                                 HENUMSTORE* handle) override {
        double start = Now();
        HRESULT hr = inner_->GetFirstMessage(flags, msgFlags, first, props, handle);
        ++count_.walks;
        if (hr == S_OK)
            walkStart_ = start; // the walk ends at GetMessageClose
        else
            count_.ms += Now() - start;
        return hr;
    }
    STDMETHODIMP GetNextMessage(HENUMSTORE handle, DWORD flags, MESSAGEPROPS* props) override {
        return inner_->GetNextMessage(handle, flags, props);
    }
    STDMETHODIMP GetMessageClose(HENUMSTORE handle) override {
        HRESULT hr = inner_->GetMessageClose(handle);
        count_.ms += Now() - walkStart_;
        return hr;
    }

  private:
    Microsoft::WRL::ComPtr<IStoreFolder> inner_;
    WalkCount& count_;
    double walkStart_ = 0;
};

class CountingNamespace final : public Unknown<IStoreNamespace> {
  public:
    CountingNamespace(IStoreNamespace* inner, WalkCount& count) : inner_(inner), count_(count) {}

    STDMETHODIMP Initialize(HWND owner, DWORD reserved) override {
        return inner_->Initialize(owner, reserved);
    }
    STDMETHODIMP GetDirectory(LPSTR path, DWORD size) override {
        return inner_->GetDirectory(path, size);
    }
    STDMETHODIMP Reserved5() override { return inner_->Reserved5(); }
    STDMETHODIMP OpenFolder(STOREFOLDERID id, DWORD reserved, IStoreFolder** folder) override {
        HRESULT hr = inner_->OpenFolder(id, reserved, folder);
        if (hr == S_OK && folder && *folder) {
            IStoreFolder* real = *folder;
            *folder = new CountingFolder(real, count_);
            real->Release(); // the wrapper holds it
        }
        return hr;
    }
    STDMETHODIMP CreateFolder(STOREFOLDERID parent, LPCSTR name, DWORD reserved,
                              STOREFOLDERID* id) override {
        return inner_->CreateFolder(parent, name, reserved, id);
    }
    STDMETHODIMP RenameFolder(STOREFOLDERID id, DWORD reserved, LPCSTR name) override {
        return inner_->RenameFolder(id, reserved, name);
    }
    STDMETHODIMP MoveFolder(STOREFOLDERID id, STOREFOLDERID parent, DWORD reserved) override {
        return inner_->MoveFolder(id, parent, reserved);
    }
    STDMETHODIMP DeleteFolder(STOREFOLDERID id, DWORD reserved) override {
        return inner_->DeleteFolder(id, reserved);
    }
    STDMETHODIMP GetFolderProps(STOREFOLDERID id, DWORD reserved, FOLDERPROPS* props) override {
        return inner_->GetFolderProps(id, reserved, props);
    }
    // Folders handed in are the wrappers; the real server wants its own.
    STDMETHODIMP CopyMoveMessages(IStoreFolder*, IStoreFolder*, MESSAGEIDLIST*, DWORD, DWORD,
                                  IUnknown*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP RegisterNotification(DWORD reserved, HWND hwnd) override {
        return inner_->RegisterNotification(reserved, hwnd);
    }
    STDMETHODIMP UnregisterNotification(DWORD reserved, HWND hwnd) override {
        return inner_->UnregisterNotification(reserved, hwnd);
    }
    STDMETHODIMP Reserved15() override { return inner_->Reserved15(); }
    STDMETHODIMP GetFirstSubFolder(STOREFOLDERID id, FOLDERPROPS* props,
                                   HENUMSTORE* handle) override {
        return inner_->GetFirstSubFolder(id, props, handle);
    }
    STDMETHODIMP GetNextSubFolder(HENUMSTORE handle, FOLDERPROPS* props) override {
        return inner_->GetNextSubFolder(handle, props);
    }
    STDMETHODIMP GetSubFolderClose(HENUMSTORE handle) override {
        return inner_->GetSubFolderClose(handle);
    }

  private:
    Microsoft::WRL::ComPtr<IStoreNamespace> inner_;
    WalkCount& count_;
};

} // namespace bench
