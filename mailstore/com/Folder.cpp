#include "StoreObjects.h"

#include "Module.h"
#include "SourceStream.h"
#include "Text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mailstore::com {
namespace {

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

STDMETHODIMP Folder::GetMessageProps(MESSAGEID dwMessageId, DWORD, MESSAGEPROPS* pProps) {
    return Guarded([&]() -> HRESULT {
        RETURN_IF_FAILED(CheckRecord(pProps, MESSAGEPROPS_SIZE));
        // No poll here: the list asks for records row by row while painting.
        RETURN_IF_FAILED(session_->TakeFailure());
        mailstore::MessageInfo info;
        RETURN_IF_FAILED(ToHResult(session_->store().GetMessageInfo(id_, dwMessageId, &info)));
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
        session_->TakeFailure(); // a pick-up failure met before is stale for a change
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
        session_->TakeFailure(); // a pick-up failure met before is stale for a change
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
        const mailstore::Status st = session_->store().GetMessageInfo(id_, id, &e.info);
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
