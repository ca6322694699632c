#include "StoreObjects.h"

#include "Module.h"
#include "SourceStream.h"
#include "Text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mailstore::com {
namespace {

FILETIME ToFileTime(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// The engine's reader as a stream source; holds the session so the store
// stays open while the stream lives.
class EngineSource final : public SourceReader {
  public:
    EngineSource(std::shared_ptr<StoreSession> session,
                 std::unique_ptr<mailstore::MessageReader> reader)
        : session_(std::move(session)), reader_(std::move(reader)) {}
    uint64_t Size() const override { return reader_->Size(); }
    bool ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        return reader_->ReadAt(offset, buf, len, got).ok();
    }

  private:
    std::shared_ptr<StoreSession> session_;
    std::unique_ptr<mailstore::MessageReader> reader_;
};

} // namespace

// A record's three texts share one task allocation: in a folder walk the
// allocator is the dearest step, and FreeMessageProps is the only way back.
HRESULT FillMessageProps(const mailstore::MessageInfo& info, MESSAGEPROPS* props) {
    std::string scratch[3];
    std::string_view texts[3] = {CodePageText(info.subject, &scratch[0]),
                                 CodePageText(info.to, &scratch[1]),
                                 CodePageText(info.from, &scratch[2])};
    for (std::string_view& text : texts) {
        text = text.substr(0, text.find('\0')); // a reader stops there anyway
    }
    auto* block =
        static_cast<char*>(CoTaskMemAlloc(texts[0].size() + texts[1].size() + texts[2].size() + 3));
    if (!block) {
        return E_OUTOFMEMORY;
    }
    LPSTR starts[3];
    char* at = block;
    for (int i = 0; i < 3; ++i) {
        starts[i] = at;
        if (!texts[i].empty()) {
            std::memcpy(at, texts[i].data(), texts[i].size());
        }
        at += texts[i].size();
        *at++ = '\0';
    }
    props->dwReserved = 0;
    props->dwMessageId = info.id;
    props->dwUnused12 = 0;
    props->dwState = info.state;
    props->cbMessage = info.size;
    props->priority = info.priority;
    props->ftReceived = ToFileTime(info.received);
    props->ftSent = ToFileTime(info.sent);
    props->pszSubject = starts[0];
    props->pszDisplayTo = starts[1];
    props->pszDisplayFrom = starts[2];
    props->pszUnused56 = nullptr;
    props->dwUnused60 = 0;
    props->pStmOffsetTable = nullptr; // no offset table is kept
    return S_OK;
}

void ReleaseMessageProps(MESSAGEPROPS* props) {
    // Texts laid end to end are one block of ours; anything else is freed
    // text by text (separate allocations are never adjacent).
    LPSTR subject = props->pszSubject;
    LPSTR to = props->pszDisplayTo;
    LPSTR from = props->pszDisplayFrom;
    const bool oneBlock = subject && to && from && to == subject + std::strlen(subject) + 1 &&
                          from == to + std::strlen(to) + 1;
    CoTaskMemFree(subject);
    if (!oneBlock) {
        CoTaskMemFree(to);
        CoTaskMemFree(from);
    }
    CoTaskMemFree(props->pszUnused56);
    props->pszSubject = nullptr;
    props->pszDisplayTo = nullptr;
    props->pszDisplayFrom = nullptr;
    props->pszUnused56 = nullptr;
    if (props->pStmOffsetTable) {
        props->pStmOffsetTable->Release();
        props->pStmOffsetTable = nullptr;
    }
}

STDMETHODIMP Folder::GetMessageProps(MESSAGEID dwMessageId, DWORD, MESSAGEPROPS* pProps) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(CheckRecord(pProps, MESSAGEPROPS_SIZE));
        // No poll here: the list asks for records row by row while painting.
        RETURN_IF_FAILED(session_->TakeFailure());
        mailstore::MessageInfo info;
        RETURN_IF_FAILED(ToHResult(session_->ReadMessage(id_, dwMessageId, &info)));
        return FillMessageProps(info, pProps);
    });
}

STDMETHODIMP Folder::FreeMessageProps(MESSAGEPROPS* pProps) {
    RETURN_IF_FAILED(CheckRecord(pProps, MESSAGEPROPS_SIZE));
    ReleaseMessageProps(pProps);
    return S_OK;
}

STDMETHODIMP Folder::DeleteMessages(MESSAGEIDLIST* pMsgIdList, DWORD, IUnknown*) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(session_->TakeFailure());
        std::vector<mailstore::MessageId> ids;
        const HRESULT hr = ReadFolderIdList(*session_, id_, pMsgIdList, &ids);
        if (FAILED(hr) || ids.empty()) {
            return hr;
        }
        const mailstore::Status st = session_->store().DeleteMessages(id_, ids);
        session_->Publish();
        return ToHResult(st);
    });
}

STDMETHODIMP Folder::MarkMessagesAsRead(BOOL fRead, DWORD, MESSAGEIDLIST* pMsgIdList) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(session_->TakeFailure());
        mailstore::Status st;
        if (!pMsgIdList) {
            // No list: the whole folder.
            st = session_->store().MarkAllRead(id_, fRead != FALSE);
        } else {
            std::vector<mailstore::MessageId> ids;
            const HRESULT hr = ReadFolderIdList(*session_, id_, pMsgIdList, &ids);
            if (FAILED(hr) || ids.empty()) {
                return hr;
            }
            st = session_->store().MarkRead(id_, ids, fRead != FALSE);
        }
        session_->Publish();
        return ToHResult(st);
    });
}

STDMETHODIMP Folder::OpenMessage(MESSAGEID dwMessageId, REFIID riid, void** ppvObject) {
    return Guarded([&]() -> HRESULT {
        if (!ppvObject) {
            return E_POINTER;
        }
        *ppvObject = nullptr;
        if (riid != IID_IStream) {
            return E_NOINTERFACE;
        }
        RETURN_IF_FAILED(session_->Poll());
        std::unique_ptr<mailstore::MessageReader> reader;
        RETURN_IF_FAILED(ToHResult(session_->store().OpenMessageSource(id_, dwMessageId, &reader)));
        return SourceStream::Create(std::make_unique<EngineSource>(session_, std::move(reader)),
                                    reinterpret_cast<IStream**>(ppvObject));
    });
}

STDMETHODIMP Folder::RegisterNotification(DWORD, HWND hwnd) {
    return Guarded([&]() -> HRESULT {
        if (!hwnd || !IsWindow(hwnd)) {
            return E_INVALIDARG;
        }
        session_->listeners().Add(this, hwnd, true, id_);
        return S_OK;
    });
}

STDMETHODIMP Folder::UnregisterNotification(DWORD, HWND hwnd) {
    return Guarded([&]() -> HRESULT {
        session_->listeners().Remove(this, hwnd);
        return S_OK;
    });
}

HRESULT Folder::FillNext(MessageEnum& e, MESSAGEPROPS* props) {
    while (e.next < e.ids.size()) {
        const MESSAGEID id = e.ids[e.next++];
        const mailstore::Status st = session_->ReadMessage(id_, id, &e.info);
        if (st.ok()) {
            return FillMessageProps(e.info, props);
        }
        if (st.code() != mailstore::ErrorCode::UnknownMessage) {
            return ToHResult(st); // the folder itself is gone
        }
    }
    return S_FALSE;
}

STDMETHODIMP Folder::GetFirstMessage(DWORD, DWORD, MESSAGEID dwMsgIdFirst, MESSAGEPROPS* pProps,
                                     HENUMSTORE* phEnum) {
    return Guarded([&]() -> HRESULT {
        if (!pProps || !phEnum) {
            return E_POINTER;
        }
        *phEnum = nullptr;
        RETURN_IF_FAILED(CheckRecord(pProps, MESSAGEPROPS_SIZE));
        RETURN_IF_FAILED(session_->Poll());
        auto e = std::make_unique<MessageEnum>();
        RETURN_IF_FAILED(ToHResult(session_->store().GetMessageIds(id_, &e->ids)));
        // -1 starts at the beginning; any other id at the first message from it on.
        if (dwMsgIdFirst != static_cast<MESSAGEID>(-1)) {
            e->next = static_cast<size_t>(
                std::lower_bound(e->ids.begin(), e->ids.end(), dwMsgIdFirst) - e->ids.begin());
        }
        const HRESULT hr = FillNext(*e, pProps);
        if (hr != S_OK) {
            return hr;
        }
        *phEnum = enums_.Add(std::move(e));
        return S_OK;
    });
}

STDMETHODIMP Folder::GetNextMessage(HENUMSTORE hEnum, DWORD, MESSAGEPROPS* pProps) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(CheckRecord(pProps, MESSAGEPROPS_SIZE));
        MessageEnum* e = enums_.Find(hEnum);
        if (!e) {
            return E_HANDLE;
        }
        RETURN_IF_FAILED(session_->TakeFailure());
        return FillNext(*e, pProps);
    });
}

STDMETHODIMP Folder::GetMessageClose(HENUMSTORE hEnum) {
    return enums_.Remove(hEnum) ? S_OK : E_HANDLE;
}

} // namespace mailstore::com
