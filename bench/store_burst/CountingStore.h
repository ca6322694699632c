// The server's namespace and folders seen through a thin layer that counts the
// folder walks the window makes and the time they take, passing every call on.
#pragma once

#include "BenchSupport.h"
#include "StoreApi.h"

#include <windows.h>

#include <atomic>

namespace bench {

struct WalkCounts {
    size_t walks = 0;     // GetFirstMessage calls
    size_t records = 0;   // records handed out by walks
    double ms = 0;        // from each walk's start to its close
    double startedAt = 0; // of the walk in progress
};

template <class Interface, const IID& kIid> class Forwarder : public Interface {
  public:
    explicit Forwarder(Interface* inner) : inner_(inner) { inner_->AddRef(); }
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;
    virtual ~Forwarder() { inner_->Release(); }
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == kIid) {
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
    Interface* inner() const { return inner_; }

  protected:
    Interface* inner_;

  private:
    std::atomic<ULONG> refs_{1};
};

class CountingFolder final : public Forwarder<IStoreFolder, IID_IStoreFolder> {
  public:
    CountingFolder(IStoreFolder* inner, WalkCounts* counts) : Forwarder(inner), counts_(counts) {}
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP GetMessageProps(MESSAGEID id, DWORD flags, MESSAGEPROPS* props) override {
        return inner_->GetMessageProps(id, flags, props);
    }
    STDMETHODIMP FreeMessageProps(MESSAGEPROPS* props) override {
        return inner_->FreeMessageProps(props);
    }
    STDMETHODIMP DeleteMessages(MESSAGEIDLIST* list, DWORD reserved, IUnknown* progress) override {
        return inner_->DeleteMessages(list, reserved, progress);
    }
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
    STDMETHODIMP MarkMessagesAsRead(BOOL read, DWORD reserved, MESSAGEIDLIST* list) override {
        return inner_->MarkMessagesAsRead(read, reserved, list);
    }
    STDMETHODIMP Reserved9() override { return E_NOTIMPL; }
    STDMETHODIMP OpenMessage(MESSAGEID id, REFIID riid, void** object) override {
        return inner_->OpenMessage(id, riid, object);
    }
    STDMETHODIMP Reserved11() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved12() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved13() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved14() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved16() override { return E_NOTIMPL; }
    STDMETHODIMP RegisterNotification(DWORD reserved, HWND window) override {
        return inner_->RegisterNotification(reserved, window);
    }
    STDMETHODIMP UnregisterNotification(DWORD reserved, HWND window) override {
        return inner_->UnregisterNotification(reserved, window);
    }
    STDMETHODIMP Reserved19() override { return E_NOTIMPL; }
    STDMETHODIMP GetFirstMessage(DWORD flags, DWORD msgFlags, MESSAGEID first, MESSAGEPROPS* props,
                                 HENUMSTORE* handle) override {
        ++counts_->walks;
        counts_->startedAt = Now();
        HRESULT hr = inner_->GetFirstMessage(flags, msgFlags, first, props, handle);
        if (hr == S_OK)
            ++counts_->records;
        else
            counts_->ms += Now() - counts_->startedAt;
        return hr;
    }
    STDMETHODIMP GetNextMessage(HENUMSTORE handle, DWORD flags, MESSAGEPROPS* props) override {
        HRESULT hr = inner_->GetNextMessage(handle, flags, props);
        counts_->records += hr == S_OK;
        return hr;
    }
    STDMETHODIMP GetMessageClose(HENUMSTORE handle) override {
        HRESULT hr = inner_->GetMessageClose(handle);
        counts_->ms += Now() - counts_->startedAt;
        return hr;
    }

  private:
    WalkCounts* counts_;
};

class CountingNamespace final : public Forwarder<IStoreNamespace, IID_IStoreNamespace> {
  public:
    CountingNamespace(IStoreNamespace* inner, WalkCounts* counts)
        : Forwarder(inner), counts_(counts) {}
    STDMETHODIMP Initialize(HWND owner, DWORD reserved) override {
        return inner_->Initialize(owner, reserved);
    }
    STDMETHODIMP GetDirectory(LPSTR path, DWORD size) override {
        return inner_->GetDirectory(path, size);
    }
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP OpenFolder(STOREFOLDERID id, DWORD reserved, IStoreFolder** folder) override {
        if (!folder)
            return E_POINTER;
        IStoreFolder* opened = nullptr;
        HRESULT hr = inner_->OpenFolder(id, reserved, &opened);
        *folder = nullptr;
        if (hr == S_OK) {
            *folder = new CountingFolder(opened, counts_);
            opened->Release();
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
    // The server knows only its own folders: hand it those behind ours.
    STDMETHODIMP CopyMoveMessages(IStoreFolder* source, IStoreFolder* target, MESSAGEIDLIST* list,
                                  DWORD flags, DWORD remove, IUnknown* progress) override {
        return inner_->CopyMoveMessages(Inner(source), Inner(target), list, flags, remove,
                                        progress);
    }
    STDMETHODIMP RegisterNotification(DWORD reserved, HWND window) override {
        return inner_->RegisterNotification(reserved, window);
    }
    STDMETHODIMP UnregisterNotification(DWORD reserved, HWND window) override {
        return inner_->UnregisterNotification(reserved, window);
    }
    STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
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
    static IStoreFolder* Inner(IStoreFolder* folder) {
        return folder ? static_cast<CountingFolder*>(folder)->inner() : nullptr;
    }
    WalkCounts* counts_;
};

} // namespace bench
