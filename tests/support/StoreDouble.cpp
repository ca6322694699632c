#include "StoreDouble.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <utility>

namespace storedouble {

namespace {

// Lets the namespace recognise its own folder objects in CopyMoveMessages.
// {6B1F0C4E-3A52-4D7E-9C1A-2F5E8D4B7A10}
constexpr IID IID_FolderDoubleSelf = {
    0x6B1F0C4E, 0x3A52, 0x4D7E, {0x9C, 0x1A, 0x2F, 0x5E, 0x8D, 0x4B, 0x7A, 0x10}};

// Runs a COM method body; nothing thrown may leave the method.
template <typename Body> HRESULT Guard(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

std::string IdList(const MESSAGEIDLIST* list) {
    std::string text = "[";
    if (list && list->prgdwMsgId) {
        for (DWORD i = 0; i < list->cMsgs; ++i) {
            if (i)
                text += ' ';
            text += std::to_string(list->prgdwMsgId[i]);
        }
    }
    return text + "]";
}

// Counts CoTaskMemFree calls on the folder-notify records while a send is under way.
class FreeSpy final : public IMallocSpy {
  public:
    std::set<void*> watched;
    int freed = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMallocSpy) {
            *object = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Static lifetime: the runtime may hold it past a revoke.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
    STDMETHODIMP_(void*) PostAlloc(void* actual) override { return actual; }
    STDMETHODIMP_(void*) PreFree(void* request, BOOL) override {
        if (request && watched.erase(request))
            ++freed;
        return request;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T)
    PreRealloc(void* request, SIZE_T cbRequest, void** newRequest, BOOL) override {
        *newRequest = request;
        return cbRequest;
    }
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}
};

FreeSpy& Spy() {
    static FreeSpy spy;
    return spy;
}

// Keeps the spy registered for one scope. A revoke the runtime postpones (it
// was handed blocks while registered) leaves the same spy in place, which is
// harmless: it only counts frees of watched blocks.
class SpyScope {
  public:
    SpyScope() { CoRegisterMallocSpy(&Spy()); }
    ~SpyScope() { CoRevokeMallocSpy(); }
    SpyScope(const SpyScope&) = delete;
    SpyScope& operator=(const SpyScope&) = delete;
};

} // namespace

// ---- Shared state -------------------------------------------------------------------------

struct Enumeration {
    bool messages = false;
    STOREFOLDERID folder = 0;
    std::vector<DWORD> ids;
    size_t next = 0;
    size_t hint = 0; // where the next id stood in the folder's order when the walk began
};

struct FailureRule {
    std::string method;
    HRESULT status = E_FAIL;
    int nth = 0;
    int seen = 0;
};

struct CallEntry {
    std::string text;
    std::string qualified; // "IStoreFolder::GetFirstMessage"
    std::string name;      // "GetFirstMessage"
    bool release = false;
};

struct PendingNotify {
    enum Kind { Folder, New, Delete, Marked } kind = Folder;
    DWORD type = 0;
    STOREFOLDERID a = 0; // folder-notify old id, or the message's folder
    STOREFOLDERID b = 0; // folder-notify new id, or the message id
    bool read = false;
    bool all = false;
};

class FolderDouble;

struct StoreState {
    std::map<STOREFOLDERID, FolderSpec> folders;
    std::map<STOREFOLDERID, std::vector<STOREFOLDERID>> children;
    std::map<STOREFOLDERID, std::vector<MessageSpec>> messages;
    std::string directory = "C:\\Store";

    std::vector<FailureRule> failures;
    HRESULT endStatus = S_FALSE;
    std::vector<CallEntry> calls;
    bool recording = true;

    DWORD nextSerial = 1;
    std::map<DWORD, std::vector<std::unique_ptr<char[]>>> outstanding;
    int unknownFrees = 0;
    int wrongSizes = 0;
    std::map<HENUMSTORE, std::unique_ptr<Enumeration>> enumerations;
    std::vector<FolderDouble*> folderObjects;
    // Folder objects whose last reference went: kept, so that a call made on
    // one afterwards is counted and refused instead of touching freed memory.
    std::vector<std::shared_ptr<void>> releasedFolders;
    int callsAfterRelease = 0;
    int liveStreams = 0;

    HWND initHwnd = nullptr;
    std::vector<HWND> namespaceHwnds;
    std::multimap<STOREFOLDERID, HWND> folderHwnds;
    int notifiesSent = 0;
    std::vector<PendingNotify> pending;

    void Record(const char* iface, const char* name, std::string args, bool release = false) {
        if (!recording)
            return;
        calls.push_back({std::string(name) + "(" + args + ")", std::string(iface) + "::" + name,
                         name, release});
    }

    HRESULT Failure(const char* iface, const char* name) {
        std::string qualified = std::string(iface) + "::" + name;
        HRESULT result = S_OK;
        for (FailureRule& rule : failures) {
            if (rule.method != name && rule.method != qualified)
                continue;
            ++rule.seen;
            if ((rule.nth == 0 || rule.nth == rule.seen) && result == S_OK)
                result = rule.status;
        }
        return result;
    }

    bool CheckSize(DWORD cbSize, DWORD wanted) {
        if (cbSize == wanted)
            return true;
        ++wrongSizes;
        return false;
    }

    FolderSpec* FindFolder(STOREFOLDERID id) {
        auto it = folders.find(id);
        return it == folders.end() ? nullptr : &it->second;
    }

    std::vector<MessageSpec>& MessagesOf(STOREFOLDERID folder) { return messages[folder]; }

    MessageSpec* FindMessage(STOREFOLDERID folder, MESSAGEID id) {
        auto& list = MessagesOf(folder);
        auto it = std::find_if(list.begin(), list.end(),
                               [id](const MessageSpec& m) { return m.id == id; });
        return it == list.end() ? nullptr : &*it;
    }

    void FillFolder(const FolderSpec& folder, FOLDERPROPS& props) {
        props.FolderId = folder.id;
        props.cSubFolders =
            folder.subFolders ? *folder.subFolders : static_cast<LONG>(children[folder.id].size());
        props.sfType = folder.type;
        const auto& list = MessagesOf(folder.id);
        DWORD unread =
            static_cast<DWORD>(std::count_if(list.begin(), list.end(), [](const MessageSpec& m) {
                return m.state & MSGSTATE_UNREAD;
            }));
        props.cUnread = folder.unread ? *folder.unread : unread;
        props.cMessage = folder.messages ? *folder.messages : static_cast<DWORD>(list.size());
        std::memset(props.szName, 0, sizeof props.szName);
        std::memcpy(props.szName, folder.name.data(),
                    std::min(folder.name.size(), sizeof props.szName));
    }

    static char* Copy(const std::optional<std::string>& text,
                      std::vector<std::unique_ptr<char[]>>& owned) {
        if (!text)
            return nullptr;
        owned.push_back(std::make_unique<char[]>(text->size() + 1));
        std::memcpy(owned.back().get(), text->c_str(), text->size() + 1);
        return owned.back().get();
    }

    void FillMessage(const MessageSpec& message, MESSAGEPROPS& props) {
        std::vector<std::unique_ptr<char[]>> owned;
        DWORD serial = nextSerial++;
        props.dwReserved = serial; // the tool never reads it; it finds the strings again
        props.dwMessageId = message.id;
        props.dwUnused12 = 0;
        props.dwState = message.state;
        props.cbMessage = message.size ? *message.size : static_cast<DWORD>(message.source.size());
        props.priority = message.priority;
        props.ftReceived = message.received;
        props.ftSent = message.sent;
        props.pszSubject = Copy(message.subject, owned);
        props.pszDisplayTo = Copy(message.to, owned);
        props.pszDisplayFrom = Copy(message.from, owned);
        props.pszUnused56 = nullptr;
        props.dwUnused60 = 0;
        outstanding[serial] = std::move(owned);
    }

    HENUMSTORE OpenEnumeration(std::unique_ptr<Enumeration> enumeration) {
        auto handle = reinterpret_cast<HENUMSTORE>(enumeration.get());
        enumerations[handle] = std::move(enumeration);
        return handle;
    }

    Enumeration* FindEnumeration(HENUMSTORE handle, bool messages) {
        auto it = enumerations.find(handle);
        if (it == enumerations.end() || it->second->messages != messages)
            return nullptr;
        return it->second.get();
    }

    void RemoveFolderTree(STOREFOLDERID id) {
        for (STOREFOLDERID child : std::vector<STOREFOLDERID>(children[id]))
            RemoveFolderTree(child);
        children.erase(id);
        messages.erase(id);
        auto it = folders.find(id);
        if (it == folders.end())
            return;
        auto& siblings = children[it->second.parent];
        siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
        folders.erase(it);
    }

    bool IsInside(STOREFOLDERID id, STOREFOLDERID ancestor) {
        for (FolderSpec* folder = FindFolder(id); folder; folder = FindFolder(folder->parent)) {
            if (folder->id == ancestor)
                return true;
            if (folder->parent == FOLDERID_ROOT)
                break;
        }
        return false;
    }

    STOREFOLDERID NextFolderId() const { return folders.empty() ? 1 : folders.rbegin()->first + 1; }

    MESSAGEID NextMessageId(STOREFOLDERID folder) {
        MESSAGEID next = 1;
        for (const MessageSpec& m : MessagesOf(folder))
            next = std::max(next, m.id + 1);
        return next;
    }
};

// ---- Message stream ---------------------------------------------------------------------------

namespace {

// Forwards to a memory stream and counts itself, so tests see unreleased streams.
class TrackedStream final : public IStream {
  public:
    TrackedStream(Microsoft::WRL::ComPtr<IStream> inner, std::shared_ptr<StoreState> state,
                  std::optional<size_t> breakAt)
        : inner_(std::move(inner)), state_(std::move(state)), breakAt_(breakAt) {
        ++state_->liveStreams;
    }
    ~TrackedStream() { --state_->liveStreams; }
    TrackedStream(const TrackedStream&) = delete;
    TrackedStream& operator=(const TrackedStream&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IStream || riid == IID_ISequentialStream) {
            *object = static_cast<IStream*>(this);
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
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (breakAt_) {
            ULARGE_INTEGER at{};
            inner_->Seek({}, STREAM_SEEK_CUR, &at);
            if (at.QuadPart >= *breakAt_) {
                if (pcbRead)
                    *pcbRead = 0;
                return STG_E_READFAULT;
            }
            cb = static_cast<ULONG>(std::min<ULONGLONG>(cb, *breakAt_ - at.QuadPart));
        }
        return inner_->Read(pv, cb, pcbRead);
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        return inner_->Write(pv, cb, pcbWritten);
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner_->Seek(move, origin, position);
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override { return inner_->SetSize(size); }
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read,
                        ULARGE_INTEGER* written) override {
        if (HRESULT hr = state_->Failure("IStream", "CopyTo"))
            return hr;
        // Through Read in large pieces, as a store copies, so the copy breaks
        // where reading does.
        ULARGE_INTEGER done{};
        HRESULT status = S_OK;
        std::vector<char> piece(64 * 1024);
        while (done.QuadPart < cb.QuadPart) {
            ULONG got = 0;
            const ULONGLONG left = cb.QuadPart - done.QuadPart;
            status = Read(piece.data(), static_cast<ULONG>(std::min<ULONGLONG>(piece.size(), left)),
                          &got);
            if (FAILED(status) || got == 0)
                break;
            ULONG put = 0;
            status = target->Write(piece.data(), got, &put);
            done.QuadPart += put;
            if (FAILED(status))
                break;
        }
        if (read)
            *read = done;
        if (written)
            *written = done;
        return status;
    }
    STDMETHODIMP Commit(DWORD flags) override { return inner_->Commit(flags); }
    STDMETHODIMP Revert() override { return inner_->Revert(); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override {
        return inner_->LockRegion(offset, cb, type);
    }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) override {
        return inner_->UnlockRegion(offset, cb, type);
    }
    STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override {
        if (HRESULT hr = state_->Failure("IStream", "Stat"))
            return hr;
        return inner_->Stat(stat, flags);
    }
    STDMETHODIMP Clone(IStream** clone) override { return inner_->Clone(clone); }

  private:
    ULONG refs_ = 1;
    Microsoft::WRL::ComPtr<IStream> inner_;
    std::shared_ptr<StoreState> state_;
    std::optional<size_t> breakAt_;
};

} // namespace

// ---- Folder object ----------------------------------------------------------------------------

class FolderDouble final : public IStoreFolder {
  public:
    FolderDouble(STOREFOLDERID id, std::shared_ptr<StoreState> state)
        : id_(id), state_(std::move(state)) {
        state_->folderObjects.push_back(this);
    }
    ~FolderDouble() = default;
    FolderDouble(const FolderDouble&) = delete;
    FolderDouble& operator=(const FolderDouble&) = delete;

    STOREFOLDERID Id() const { return id_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object)
            return E_POINTER;
        if (Released()) {
            *object = nullptr;
            return kAfterRelease;
        }
        if (riid == IID_FolderDoubleSelf) {
            *object = this; // no reference: only for identifying our own objects
            return S_OK;
        }
        if (riid == IID_IUnknown || riid == IID_IStoreFolder) {
            *object = static_cast<IStoreFolder*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return Released() ? 0 : ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        if (Released())
            return 0;
        ULONG left = --refs_;
        if (left == 0) {
            try {
                state_->Record("IStoreFolder", "Release", Tag(), true);
                auto& objects = state_->folderObjects;
                objects.erase(std::remove(objects.begin(), objects.end(), this), objects.end());
                // The state keeps this object; this object no longer keeps the state.
                released_ = state_.get();
                released_->releasedFolders.push_back(std::shared_ptr<void>(
                    this, [](void* self) { delete static_cast<FolderDouble*>(self); }));
                state_.reset();
            } catch (...) {
                delete this;
            }
        }
        return left;
    }

    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }

    STDMETHODIMP GetMessageProps(MESSAGEID id, DWORD, MESSAGEPROPS* props) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "GetMessageProps", Tag() + ", " + std::to_string(id));
            if (HRESULT hr = state_->Failure(kIface, "GetMessageProps"))
                return hr;
            if (!props)
                return E_POINTER;
            if (!state_->CheckSize(props->cbSize, MESSAGEPROPS_SIZE))
                return E_INVALIDARG;
            MessageSpec* message = state_->FindMessage(id_, id);
            if (!message)
                return E_FAIL;
            state_->FillMessage(*message, *props);
            return S_OK;
        });
    }

    STDMETHODIMP FreeMessageProps(MESSAGEPROPS* props) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "FreeMessageProps", Tag());
            if (HRESULT hr = state_->Failure(kIface, "FreeMessageProps"))
                return hr;
            if (!props)
                return E_POINTER;
            auto it = state_->outstanding.find(props->dwReserved);
            if (it == state_->outstanding.end()) {
                ++state_->unknownFrees;
                return E_INVALIDARG;
            }
            state_->outstanding.erase(it);
            props->pszSubject = props->pszDisplayTo = props->pszDisplayFrom = nullptr;
            props->dwReserved = 0;
            return S_OK;
        });
    }

    STDMETHODIMP DeleteMessages(MESSAGEIDLIST* list, DWORD, IUnknown*) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "DeleteMessages", Tag() + ", " + IdList(list));
            if (HRESULT hr = state_->Failure(kIface, "DeleteMessages"))
                return hr;
            if (!list || !state_->CheckSize(list->cbSize, MESSAGEIDLIST_SIZE))
                return E_INVALIDARG;
            auto& messages = state_->MessagesOf(id_);
            for (DWORD i = 0; i < list->cMsgs; ++i) {
                MESSAGEID id = list->prgdwMsgId[i];
                auto it = std::find_if(messages.begin(), messages.end(),
                                       [id](const MessageSpec& m) { return m.id == id; });
                if (it == messages.end())
                    continue;
                messages.erase(it);
                state_->pending.push_back({PendingNotify::Delete, 0, id_, id, false, false});
            }
            return S_OK;
        });
    }

    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }

    STDMETHODIMP MarkMessagesAsRead(BOOL read, DWORD, MESSAGEIDLIST* list) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "MarkMessagesAsRead",
                           Tag() + ", " + std::to_string(read) + ", " + IdList(list));
            if (HRESULT hr = state_->Failure(kIface, "MarkMessagesAsRead"))
                return hr;
            auto mark = [&](MessageSpec& m) {
                m.state = read ? (m.state & ~MSGSTATE_UNREAD) : (m.state | MSGSTATE_UNREAD);
            };
            if (!list) {
                for (MessageSpec& m : state_->MessagesOf(id_))
                    mark(m);
                state_->pending.push_back({PendingNotify::Marked, 0, id_, 0, read != 0, true});
                return S_OK;
            }
            if (!state_->CheckSize(list->cbSize, MESSAGEIDLIST_SIZE))
                return E_INVALIDARG;
            for (DWORD i = 0; i < list->cMsgs; ++i) {
                if (MessageSpec* m = state_->FindMessage(id_, list->prgdwMsgId[i])) {
                    mark(*m);
                    state_->pending.push_back(
                        {PendingNotify::Marked, 0, id_, m->id, read != 0, false});
                }
            }
            return S_OK;
        });
    }

    STDMETHODIMP Reserved9() override { return E_NOTIMPL; }

    STDMETHODIMP OpenMessage(MESSAGEID id, REFIID riid, void** object) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "OpenMessage", Tag() + ", " + std::to_string(id));
            if (!object)
                return E_POINTER;
            *object = nullptr;
            if (HRESULT hr = state_->Failure(kIface, "OpenMessage"))
                return hr;
            if (riid != IID_IStream)
                return E_NOINTERFACE;
            MessageSpec* message = state_->FindMessage(id_, id);
            if (!message)
                return E_FAIL;
            Microsoft::WRL::ComPtr<IStream> inner;
            HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &inner);
            if (FAILED(hr))
                return hr;
            ULONG written = 0;
            inner->Write(message->source.data(), static_cast<ULONG>(message->source.size()),
                         &written);
            inner->Seek({}, STREAM_SEEK_SET, nullptr);
            *object = static_cast<IStream*>(
                new TrackedStream(std::move(inner), state_, message->breakAt));
            return S_OK;
        });
    }

    STDMETHODIMP Reserved11() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved12() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved13() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved14() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved16() override { return E_NOTIMPL; }

    STDMETHODIMP RegisterNotification(DWORD, HWND hwnd) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "RegisterNotification", Tag());
            if (HRESULT hr = state_->Failure(kIface, "RegisterNotification"))
                return hr;
            state_->folderHwnds.emplace(id_, hwnd);
            return S_OK;
        });
    }

    STDMETHODIMP UnregisterNotification(DWORD, HWND hwnd) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "UnregisterNotification", Tag());
            if (HRESULT hr = state_->Failure(kIface, "UnregisterNotification"))
                return hr;
            auto range = state_->folderHwnds.equal_range(id_);
            for (auto it = range.first; it != range.second; ++it) {
                if (it->second == hwnd) {
                    state_->folderHwnds.erase(it);
                    return S_OK;
                }
            }
            return E_FAIL;
        });
    }

    STDMETHODIMP Reserved19() override { return E_NOTIMPL; }

    // A start other than -1 walks on, in the folder's order, from the message
    // with that id or, when it is gone, from the first with a higher id.
    STDMETHODIMP GetFirstMessage(DWORD, DWORD, MESSAGEID start, MESSAGEPROPS* props,
                                 HENUMSTORE* handle) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "GetFirstMessage", Tag());
            if (!handle)
                return E_POINTER;
            *handle = nullptr;
            if (HRESULT hr = state_->Failure(kIface, "GetFirstMessage"))
                return hr;
            if (!props)
                return E_POINTER;
            if (!state_->CheckSize(props->cbSize, MESSAGEPROPS_SIZE))
                return E_INVALIDARG;
            const auto& messages = state_->MessagesOf(id_);
            auto first = messages.begin();
            if (start != static_cast<MESSAGEID>(-1)) {
                first = std::find_if(messages.begin(), messages.end(),
                                     [&](const MessageSpec& m) { return m.id == start; });
                if (first == messages.end())
                    first = std::find_if(messages.begin(), messages.end(),
                                         [&](const MessageSpec& m) { return m.id > start; });
            }
            if (first == messages.end())
                return state_->endStatus;
            auto enumeration = std::make_unique<Enumeration>();
            enumeration->messages = true;
            enumeration->folder = id_;
            for (auto m = first; m != messages.end(); ++m)
                enumeration->ids.push_back(m->id);
            state_->FillMessage(*first, *props);
            enumeration->next = 1;
            enumeration->hint = static_cast<size_t>(first - messages.begin()) + 1;
            *handle = state_->OpenEnumeration(std::move(enumeration));
            return S_OK;
        });
    }

    STDMETHODIMP GetNextMessage(HENUMSTORE handle, DWORD, MESSAGEPROPS* props) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "GetNextMessage", Tag());
            if (HRESULT hr = state_->Failure(kIface, "GetNextMessage"))
                return hr;
            Enumeration* enumeration = state_->FindEnumeration(handle, true);
            if (!enumeration)
                return E_HANDLE;
            if (!props)
                return E_POINTER;
            if (!state_->CheckSize(props->cbSize, MESSAGEPROPS_SIZE))
                return E_INVALIDARG;
            auto& list = state_->MessagesOf(enumeration->folder);
            while (enumeration->next < enumeration->ids.size()) {
                MESSAGEID id = enumeration->ids[enumeration->next++];
                // Where it stood unless the folder changed since; a search otherwise.
                size_t at = enumeration->hint++;
                MessageSpec* m = at < list.size() && list[at].id == id
                                     ? &list[at]
                                     : state_->FindMessage(enumeration->folder, id);
                if (m) {
                    state_->FillMessage(*m, *props);
                    return S_OK;
                }
            }
            return state_->endStatus;
        });
    }

    STDMETHODIMP GetMessageClose(HENUMSTORE handle) override {
        if (Released())
            return kAfterRelease;
        return Guard([&]() -> HRESULT {
            state_->Record(kIface, "GetMessageClose", Tag());
            if (HRESULT hr = state_->Failure(kIface, "GetMessageClose"))
                return hr;
            if (!state_->FindEnumeration(handle, true))
                return E_HANDLE;
            state_->enumerations.erase(handle);
            return S_OK;
        });
    }

  private:
    static constexpr const char* kIface = "IStoreFolder";
    static constexpr HRESULT kAfterRelease = E_UNEXPECTED;
    std::string Tag() const { return "folder " + std::to_string(id_); }
    // Counts a call made after the last release.
    bool Released() {
        if (!released_)
            return false;
        ++released_->callsAfterRelease;
        return true;
    }

    ULONG refs_ = 1;
    STOREFOLDERID id_;
    std::shared_ptr<StoreState> state_;
    StoreState* released_ = nullptr; // the state that keeps this object after its last release
};

// ---- Helpers -----------------------------------------------------------------------------------

MessageSpec Message(MESSAGEID id, std::string from, std::string subject, DWORD state) {
    MessageSpec m;
    m.id = id;
    m.state = state;
    m.from = std::move(from);
    m.subject = std::move(subject);
    m.to = std::string("Bob Example <bob@example.org>");
    m.source = "From: " + *m.from + "\r\nSubject: " + *m.subject + "\r\n\r\nHello.\r\n";
    return m;
}

std::vector<MessageSpec> ManyMessages(MESSAGEID firstId, int count) {
    std::vector<MessageSpec> made;
    made.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        MessageSpec message;
        message.id = firstId + static_cast<MESSAGEID>(i);
        message.state = (i % 3 == 0 ? MSGSTATE_UNREAD : 0) | (i % 11 == 0 ? MSGSTATE_FLAGGED : 0);
        message.received =
            FileTime(133500000000000000ull - static_cast<unsigned long long>(i) * 4200000000ull);
        message.from = "Sender " + std::to_string(i % 97) + " <sender@example.org>";
        message.subject = "Subject line number " + std::to_string(message.id);
        message.to = std::string("Alice Example <alice@example.org>");
        made.push_back(std::move(message));
    }
    return made;
}

FILETIME FileTime(unsigned long long value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

// ---- The namespace ------------------------------------------------------------------------------

namespace {
constexpr const char* kNs = "IStoreNamespace";
}

StoreDouble::StoreDouble() : state_(std::make_shared<StoreState>()) {}
StoreDouble::~StoreDouble() = default;

Microsoft::WRL::ComPtr<StoreDouble> StoreDouble::Create() {
    // Attach differs between compilers (one adds a reference); this does not.
    Microsoft::WRL::ComPtr<StoreDouble> store(new StoreDouble());
    store->Release();
    store->ClearCalls();
    return store;
}

StoreDouble& StoreDouble::AddFolder(FolderSpec folder) {
    if (folder.id == FOLDERID_ROOT || state_->folders.count(folder.id))
        throw std::invalid_argument("folder id 0 or already taken");
    if (folder.parent != FOLDERID_ROOT && !state_->folders.count(folder.parent))
        throw std::invalid_argument("parent folder absent");
    state_->children[folder.parent].push_back(folder.id);
    state_->children[folder.id];
    STOREFOLDERID id = folder.id;
    state_->folders.emplace(id, std::move(folder));
    return *this;
}

StoreDouble& StoreDouble::AddFolder(STOREFOLDERID id, STOREFOLDERID parent, std::string name,
                                    LONG type) {
    FolderSpec folder;
    folder.id = id;
    folder.parent = parent;
    folder.name = std::move(name);
    folder.type = type;
    return AddFolder(std::move(folder));
}

void StoreDouble::RemoveFolder(STOREFOLDERID id) {
    state_->RemoveFolderTree(id);
}

void StoreDouble::RenameFolderTo(STOREFOLDERID id, std::string name) {
    Folder(id).name = std::move(name);
}

void StoreDouble::MoveFolderTo(STOREFOLDERID id, STOREFOLDERID newParent) {
    FolderSpec& folder = Folder(id);
    auto& siblings = state_->children[folder.parent];
    siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    folder.parent = newParent;
    state_->children[newParent].push_back(id);
}

FolderSpec& StoreDouble::Folder(STOREFOLDERID id) {
    return state_->folders.at(id);
}

bool StoreDouble::HasFolder(STOREFOLDERID id) const {
    return state_->folders.count(id) != 0;
}

void StoreDouble::SetChildOrder(STOREFOLDERID parent, std::vector<STOREFOLDERID> order) {
    auto current = state_->children[parent];
    auto sorted = order;
    std::sort(current.begin(), current.end());
    std::sort(sorted.begin(), sorted.end());
    if (current != sorted)
        throw std::invalid_argument("order must name every child once");
    state_->children[parent] = std::move(order);
}

std::vector<STOREFOLDERID> StoreDouble::ChildIds(STOREFOLDERID parent) const {
    auto it = state_->children.find(parent);
    return it == state_->children.end() ? std::vector<STOREFOLDERID>{} : it->second;
}

StoreDouble& StoreDouble::AddMessage(STOREFOLDERID folder, MessageSpec message,
                                     std::optional<size_t> position) {
    if (!state_->folders.count(folder))
        throw std::invalid_argument("folder absent");
    auto& list = state_->MessagesOf(folder);
    size_t at = std::min(position.value_or(list.size()), list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(message));
    return *this;
}

void StoreDouble::RemoveMessage(STOREFOLDERID folder, MESSAGEID id) {
    auto& list = state_->MessagesOf(folder);
    list.erase(
        std::remove_if(list.begin(), list.end(), [id](const MessageSpec& m) { return m.id == id; }),
        list.end());
}

void StoreDouble::SetMessageState(STOREFOLDERID folder, MESSAGEID id, DWORD state) {
    Message(folder, id).state = state;
}

MessageSpec& StoreDouble::Message(STOREFOLDERID folder, MESSAGEID id) {
    MessageSpec* message = state_->FindMessage(folder, id);
    if (!message)
        throw std::out_of_range("message absent");
    return *message;
}

void StoreDouble::SetMessageOrder(STOREFOLDERID folder, std::vector<MESSAGEID> order) {
    auto& list = state_->MessagesOf(folder);
    if (order.size() != list.size())
        throw std::invalid_argument("order must name every message once");
    std::vector<MessageSpec> reordered;
    for (MESSAGEID id : order)
        reordered.push_back(Message(folder, id));
    list = std::move(reordered);
}

std::vector<MessageSpec>& StoreDouble::Messages(STOREFOLDERID folder) {
    return state_->MessagesOf(folder);
}

std::vector<MESSAGEID> StoreDouble::MessageIds(STOREFOLDERID folder) const {
    std::vector<MESSAGEID> ids;
    auto it = state_->messages.find(folder);
    if (it != state_->messages.end())
        for (const MessageSpec& m : it->second)
            ids.push_back(m.id);
    return ids;
}

void StoreDouble::SetDirectory(std::string path) {
    state_->directory = std::move(path);
}

void StoreDouble::FailOn(std::string method, HRESULT status, int nth) {
    state_->failures.push_back({std::move(method), status, nth, 0});
}

void StoreDouble::ClearFailures() {
    state_->failures.clear();
}

void StoreDouble::SetEndStatus(HRESULT status) {
    state_->endStatus = status;
}

std::vector<std::string> StoreDouble::Calls() const {
    std::vector<std::string> calls;
    for (const CallEntry& call : state_->calls)
        if (!call.release)
            calls.push_back(call.text);
    return calls;
}

std::vector<std::string> StoreDouble::CallsWithReleases() const {
    std::vector<std::string> calls;
    for (const CallEntry& call : state_->calls)
        calls.push_back(call.text);
    return calls;
}

int StoreDouble::CountCalls(std::string_view method) const {
    return static_cast<int>(
        std::count_if(state_->calls.begin(), state_->calls.end(), [&](const CallEntry& call) {
            return !call.release && (call.name == method || call.qualified == method);
        }));
}

void StoreDouble::ClearCalls() {
    state_->calls.clear();
}

void StoreDouble::RecordCalls(bool on) {
    state_->recording = on;
}

int StoreDouble::OutstandingMessageProps() const {
    return static_cast<int>(state_->outstanding.size());
}
int StoreDouble::UnknownFrees() const {
    return state_->unknownFrees;
}
int StoreDouble::WrongSizes() const {
    return state_->wrongSizes;
}
int StoreDouble::OpenEnumerations() const {
    return static_cast<int>(state_->enumerations.size());
}
int StoreDouble::LiveFolderObjects() const {
    return static_cast<int>(state_->folderObjects.size());
}
ULONG StoreDouble::References() const {
    return refs_;
}
int StoreDouble::CallsAfterRelease() const {
    return state_->callsAfterRelease;
}
int StoreDouble::LiveMessageStreams() const {
    return state_->liveStreams;
}

HWND StoreDouble::InitializedWith() const {
    return state_->initHwnd;
}
size_t StoreDouble::NamespaceRegistrations() const {
    return state_->namespaceHwnds.size();
}
size_t StoreDouble::FolderRegistrations(STOREFOLDERID folder) const {
    return state_->folderHwnds.count(folder);
}

int StoreDouble::NotifyFolder(DWORD type, STOREFOLDERID idOld, STOREFOLDERID idNew) {
    int reached = 0;
    for (HWND hwnd : std::vector<HWND>(state_->namespaceHwnds)) {
        auto* record = static_cast<FOLDERNOTIFY*>(CoTaskMemAlloc(sizeof(FOLDERNOTIFY)));
        if (!record)
            throw std::bad_alloc();
        record->type = type;
        record->idFolderOld = idOld;
        record->idFolderNew = idNew;
        Spy().watched.insert(record);
        ++state_->notifiesSent;
        {
            SpyScope spy;
            SendMessageW(hwnd, WM_FOLDERNOTIFY, 0, reinterpret_cast<LPARAM>(record));
        }
        // A record the receiver kept is not ours to free; forget it so a later
        // block at the same address is not miscounted.
        Spy().watched.erase(record);
        ++reached;
    }
    return reached;
}

namespace {
std::vector<HWND> WindowsOf(const StoreState& state, STOREFOLDERID folder) {
    std::vector<HWND> windows;
    auto range = state.folderHwnds.equal_range(folder);
    for (auto it = range.first; it != range.second; ++it)
        windows.push_back(it->second);
    return windows;
}
} // namespace

int StoreDouble::NotifyNewMessage(STOREFOLDERID folder, MESSAGEID id) {
    auto windows = WindowsOf(*state_, folder);
    for (HWND hwnd : windows)
        SendMessageW(hwnd, WM_NEWMSGS, static_cast<WPARAM>(id), 0);
    return static_cast<int>(windows.size());
}

int StoreDouble::NotifyDeleteMessage(STOREFOLDERID folder, MESSAGEID id) {
    auto windows = WindowsOf(*state_, folder);
    for (HWND hwnd : windows) {
        MESSAGEID copy = id; // the receiver gets a pointer to it
        SendMessageW(hwnd, WM_DELETEMSGS, reinterpret_cast<WPARAM>(&copy), 0);
    }
    return static_cast<int>(windows.size());
}

int StoreDouble::NotifyMarked(STOREFOLDERID folder, bool read, std::optional<MESSAGEID> id) {
    auto windows = WindowsOf(*state_, folder);
    UINT message = read ? WM_MARKEDASREAD : WM_MARKEDASUNREAD;
    for (HWND hwnd : windows) {
        MESSAGEID copy = id.value_or(0);
        WPARAM wParam = id ? reinterpret_cast<WPARAM>(&copy) : MARKED_ALL_MESSAGES;
        SendMessageW(hwnd, message, wParam, 0);
    }
    return static_cast<int>(windows.size());
}

int StoreDouble::FolderNotifiesSent() const {
    return state_->notifiesSent;
}
int StoreDouble::FolderNotifiesFreed() const {
    return Spy().freed;
}

size_t StoreDouble::PendingNotifications() const {
    return state_->pending.size();
}

int StoreDouble::DeliverPending() {
    auto pending = std::move(state_->pending);
    state_->pending.clear();
    int reached = 0;
    for (const PendingNotify& n : pending) {
        switch (n.kind) {
        case PendingNotify::Folder:
            reached += NotifyFolder(n.type, n.a, n.b);
            break;
        case PendingNotify::New:
            reached += NotifyNewMessage(n.a, n.b);
            break;
        case PendingNotify::Delete:
            reached += NotifyDeleteMessage(n.a, n.b);
            break;
        case PendingNotify::Marked:
            reached += NotifyMarked(n.a, n.read, n.all ? std::nullopt : std::optional(n.b));
            break;
        }
    }
    return reached;
}

void StoreDouble::DropPending() {
    state_->pending.clear();
}

// ---- IUnknown ---------------------------------------------------------------------------------

STDMETHODIMP StoreDouble::QueryInterface(REFIID riid, void** object) {
    if (!object)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IStoreNamespace) {
        *object = static_cast<IStoreNamespace*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) StoreDouble::AddRef() {
    return ++refs_;
}

STDMETHODIMP_(ULONG) StoreDouble::Release() {
    ULONG left = --refs_;
    try {
        state_->Record(kNs, "Release", "namespace", true);
    } catch (...) {
    }
    if (left == 0)
        delete this;
    return left;
}

// ---- IStoreNamespace ------------------------------------------------------------------------

STDMETHODIMP StoreDouble::Initialize(HWND hwndOwner, DWORD) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "Initialize", "");
        if (HRESULT hr = state_->Failure(kNs, "Initialize"))
            return hr;
        state_->initHwnd = hwndOwner;
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::GetDirectory(LPSTR path, DWORD cchMaxPath) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "GetDirectory", std::to_string(cchMaxPath));
        if (HRESULT hr = state_->Failure(kNs, "GetDirectory"))
            return hr;
        if (!path || cchMaxPath == 0)
            return E_INVALIDARG;
        size_t length = std::min<size_t>(state_->directory.size(), cchMaxPath - 1);
        std::memcpy(path, state_->directory.data(), length);
        path[length] = '\0';
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::Reserved5() {
    return E_NOTIMPL;
}

STDMETHODIMP StoreDouble::OpenFolder(STOREFOLDERID id, DWORD, IStoreFolder** folder) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "OpenFolder", std::to_string(id));
        if (!folder)
            return E_POINTER;
        *folder = nullptr;
        if (HRESULT hr = state_->Failure(kNs, "OpenFolder"))
            return hr;
        if (!state_->FindFolder(id))
            return E_FAIL;
        *folder = new FolderDouble(id, state_);
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::CreateFolder(STOREFOLDERID parent, LPCSTR name, DWORD,
                                       STOREFOLDERID* newId) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "CreateFolder",
                       std::to_string(parent) + ", " + (name ? name : "(null)"));
        if (HRESULT hr = state_->Failure(kNs, "CreateFolder"))
            return hr;
        if (!name || (parent != FOLDERID_ROOT && !state_->FindFolder(parent)))
            return E_INVALIDARG;
        STOREFOLDERID id = state_->NextFolderId();
        AddFolder(id, parent, name);
        if (newId)
            *newId = id;
        state_->pending.push_back({PendingNotify::Folder, NEW_FOLDER, parent, id, false, false});
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::RenameFolder(STOREFOLDERID id, DWORD, LPCSTR name) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "RenameFolder", std::to_string(id) + ", " + (name ? name : "(null)"));
        if (HRESULT hr = state_->Failure(kNs, "RenameFolder"))
            return hr;
        FolderSpec* folder = state_->FindFolder(id);
        if (!folder || !name)
            return E_INVALIDARG;
        folder->name = name;
        state_->pending.push_back({PendingNotify::Folder, RENAME_FOLDER, id, id, false, false});
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::MoveFolder(STOREFOLDERID id, STOREFOLDERID parent, DWORD) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "MoveFolder", std::to_string(id) + ", " + std::to_string(parent));
        if (HRESULT hr = state_->Failure(kNs, "MoveFolder"))
            return hr;
        FolderSpec* folder = state_->FindFolder(id);
        if (!folder || (parent != FOLDERID_ROOT && !state_->FindFolder(parent)) ||
            state_->IsInside(parent, id))
            return E_INVALIDARG;
        STOREFOLDERID oldParent = folder->parent;
        MoveFolderTo(id, parent);
        state_->pending.push_back(
            {PendingNotify::Folder, MOVE_FOLDER, oldParent, id, false, false});
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::DeleteFolder(STOREFOLDERID id, DWORD) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "DeleteFolder", std::to_string(id));
        if (HRESULT hr = state_->Failure(kNs, "DeleteFolder"))
            return hr;
        FolderSpec* folder = state_->FindFolder(id);
        if (!folder)
            return E_INVALIDARG;
        STOREFOLDERID parent = folder->parent;
        state_->RemoveFolderTree(id);
        state_->pending.push_back({PendingNotify::Folder, DELETE_FOLDER, parent, id, false, false});
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::GetFolderProps(STOREFOLDERID id, DWORD, FOLDERPROPS* props) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "GetFolderProps", std::to_string(id));
        if (HRESULT hr = state_->Failure(kNs, "GetFolderProps"))
            return hr;
        if (!props)
            return E_POINTER;
        if (!state_->CheckSize(props->cbSize, FOLDERPROPS_SIZE))
            return E_INVALIDARG;
        FolderSpec* folder = state_->FindFolder(id);
        if (!folder)
            return E_FAIL;
        state_->FillFolder(*folder, *props);
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::CopyMoveMessages(IStoreFolder* source, IStoreFolder* target,
                                           MESSAGEIDLIST* list, DWORD flags, DWORD flagsRemove,
                                           IUnknown*) {
    return Guard([&]() -> HRESULT {
        auto idOf = [](IStoreFolder* folder) -> std::optional<STOREFOLDERID> {
            void* self = nullptr;
            if (!folder || FAILED(folder->QueryInterface(IID_FolderDoubleSelf, &self)))
                return std::nullopt;
            return static_cast<FolderDouble*>(self)->Id();
        };
        auto from = idOf(source);
        auto to = idOf(target);
        auto name = [](std::optional<STOREFOLDERID> id) {
            return id ? std::to_string(*id) : std::string("?");
        };
        state_->Record(kNs, "CopyMoveMessages",
                       name(from) + ", " + name(to) + ", " + IdList(list) + ", " +
                           std::to_string(flags) + ", " + std::to_string(flagsRemove));
        if (HRESULT hr = state_->Failure(kNs, "CopyMoveMessages"))
            return hr;
        if (!from || !to || !list || !state_->CheckSize(list->cbSize, MESSAGEIDLIST_SIZE))
            return E_INVALIDARG;
        bool move = (flags & 1) != 0;
        for (DWORD i = 0; i < list->cMsgs; ++i) {
            MessageSpec* message = state_->FindMessage(*from, list->prgdwMsgId[i]);
            if (!message)
                continue;
            MessageSpec copy = *message;
            copy.id = state_->NextMessageId(*to);
            MESSAGEID oldId = message->id;
            state_->MessagesOf(*to).push_back(copy);
            state_->pending.push_back({PendingNotify::New, 0, *to, copy.id, false, false});
            if (move) {
                RemoveMessage(*from, oldId);
                state_->pending.push_back({PendingNotify::Delete, 0, *from, oldId, false, false});
            }
        }
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::RegisterNotification(DWORD, HWND hwnd) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "RegisterNotification", "");
        if (HRESULT hr = state_->Failure(kNs, "RegisterNotification"))
            return hr;
        state_->namespaceHwnds.push_back(hwnd);
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::UnregisterNotification(DWORD, HWND hwnd) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "UnregisterNotification", "");
        if (HRESULT hr = state_->Failure(kNs, "UnregisterNotification"))
            return hr;
        auto& windows = state_->namespaceHwnds;
        auto it = std::find(windows.begin(), windows.end(), hwnd);
        if (it == windows.end())
            return E_FAIL;
        windows.erase(it);
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::Reserved15() {
    return E_NOTIMPL;
}

STDMETHODIMP StoreDouble::GetFirstSubFolder(STOREFOLDERID id, FOLDERPROPS* props,
                                            HENUMSTORE* handle) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "GetFirstSubFolder", std::to_string(id));
        if (!handle)
            return E_POINTER;
        *handle = nullptr;
        if (HRESULT hr = state_->Failure(kNs, "GetFirstSubFolder"))
            return hr;
        if (!props)
            return E_POINTER;
        if (!state_->CheckSize(props->cbSize, FOLDERPROPS_SIZE))
            return E_INVALIDARG;
        const auto& children = state_->children[id];
        if (children.empty())
            return state_->endStatus;
        auto enumeration = std::make_unique<Enumeration>();
        enumeration->folder = id;
        enumeration->ids = children;
        enumeration->next = 1;
        state_->FillFolder(*state_->FindFolder(children.front()), *props);
        *handle = state_->OpenEnumeration(std::move(enumeration));
        return S_OK;
    });
}

STDMETHODIMP StoreDouble::GetNextSubFolder(HENUMSTORE handle, FOLDERPROPS* props) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "GetNextSubFolder", "");
        if (HRESULT hr = state_->Failure(kNs, "GetNextSubFolder"))
            return hr;
        Enumeration* enumeration = state_->FindEnumeration(handle, false);
        if (!enumeration)
            return E_HANDLE;
        if (!props)
            return E_POINTER;
        if (!state_->CheckSize(props->cbSize, FOLDERPROPS_SIZE))
            return E_INVALIDARG;
        while (enumeration->next < enumeration->ids.size()) {
            if (FolderSpec* folder = state_->FindFolder(enumeration->ids[enumeration->next++])) {
                state_->FillFolder(*folder, *props);
                return S_OK;
            }
        }
        return state_->endStatus;
    });
}

STDMETHODIMP StoreDouble::GetSubFolderClose(HENUMSTORE handle) {
    return Guard([&]() -> HRESULT {
        state_->Record(kNs, "GetSubFolderClose", "");
        if (HRESULT hr = state_->Failure(kNs, "GetSubFolderClose"))
            return hr;
        if (!state_->FindEnumeration(handle, false))
            return E_HANDLE;
        state_->enumerations.erase(handle);
        return S_OK;
    });
}

} // namespace storedouble
