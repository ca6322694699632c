#include "main/commands/ExportData.h"

#include "mailformat/ExportFormat.h"
#include "storeui/StoreEnum.h"
#include "ui/Text.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <functional>
#include <map>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace export_data {

namespace {

uint64_t Ticks(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

void CountLeftOut(const std::shared_ptr<LeftOut>& leftOut) {
    if (!leftOut)
        return;
    ++leftOut->count;
    // Restarted by each one: the window speaks once the target has finished.
    if (leftOut->window && IsWindow(leftOut->window))
        SetTimer(leftOut->window, kLeftOutTimer, 1000, nullptr);
}

struct VirtualFile {
    std::wstring name;
    MESSAGEID id = 0;
    bool sized = false;
    uint64_t size = 0;
};

// What a data object offers: its files, listed when first asked for, and
// each file's contents, opened when asked for.
struct FileSource {
    std::function<std::vector<VirtualFile>()> list;
    std::function<HRESULT(const VirtualFile&, IStream**)> open;
};

template <typename Base> class ComObject : public Base {
  public:
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

  protected:
    virtual ~ComObject() = default;
    HRESULT Query(REFIID riid, void** out, REFIID own) {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (riid != IID_IUnknown && riid != own)
            return E_NOINTERFACE;
        *out = static_cast<Base*>(this);
        AddRef();
        return S_OK;
    }

  private:
    LONG refs_ = 1;
};

// One folder's messages as mboxrd text, each source read from the store as
// the reader gets to it. A message that cannot be read is left out.
class MboxStream final : public ComObject<IStream> {
  public:
    MboxStream(ComPtr<IStoreFolder> folder, std::shared_ptr<LeftOut> leftOut)
        : folder_(std::move(folder)), leftOut_(std::move(leftOut)) {
        store_enum::StoreRecord record(folder_.Get());
        store_enum::MessageEnum walk(folder_.Get());
        for (bool more = walk.First(record); more; more = walk.Next(record)) {
            const MESSAGEPROPS& p = record.Props();
            const uint64_t received = Ticks(p.ftReceived);
            messages_.push_back({p.dwMessageId, received ? received : Ticks(p.ftSent)});
            record.Free();
        }
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_ISequentialStream && out) {
            *out = static_cast<ISequentialStream*>(this);
            AddRef();
            return S_OK;
        }
        return Query(riid, out, IID_IStream);
    }
    STDMETHODIMP Read(void* buffer, ULONG wanted, ULONG* got) override {
        try {
            ULONG done = 0;
            while (done < wanted && Fill()) {
                const size_t n = std::min<size_t>(wanted - done, pending_.size() - taken_);
                std::memcpy(static_cast<char*>(buffer) + done, pending_.data() + taken_, n);
                taken_ += n;
                done += static_cast<ULONG>(n);
            }
            position_ += done;
            if (got)
                *got = done;
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
        // Only where it is: the text is made as it is read.
        const bool here = move.QuadPart == 0 && (origin == STREAM_SEEK_CUR ||
                                                 (origin == STREAM_SEEK_SET && position_ == 0));
        if (!here)
            return STG_E_INVALIDFUNCTION;
        if (at)
            at->QuadPart = position_;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP CopyTo(IStream* to, ULARGE_INTEGER most, ULARGE_INTEGER* read,
                        ULARGE_INTEGER* written) override {
        if (!to)
            return STG_E_INVALIDPOINTER;
        char buffer[64 * 1024];
        uint64_t in = 0, out = 0;
        HRESULT hr = S_OK;
        while (in < most.QuadPart) {
            ULONG got = 0;
            const ULONG ask =
                static_cast<ULONG>(std::min<uint64_t>(sizeof buffer, most.QuadPart - in));
            hr = Read(buffer, ask, &got);
            if (FAILED(hr) || got == 0)
                break;
            in += got;
            ULONG put = 0;
            hr = to->Write(buffer, got, &put);
            out += put;
            if (FAILED(hr))
                break;
        }
        if (read)
            read->QuadPart = in;
        if (written)
            written->QuadPart = out;
        return FAILED(hr) ? hr : S_OK;
    }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return S_OK; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->grfMode = STGM_READ;
        return S_OK;
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

  private:
    struct Entry {
        MESSAGEID id;
        uint64_t when;
    };

    // Makes more text when all made so far was read; false at the end.
    bool Fill() {
        while (taken_ == pending_.size()) {
            pending_.clear();
            taken_ = 0;
            if (source_)
                ReadMore();
            else if (next_ < messages_.size())
                OpenNext();
            else
                return false;
        }
        return true;
    }
    void OpenNext() {
        const Entry& e = messages_[next_++];
        source_.Reset();
        if (folder_->OpenMessage(e.id, IID_IStream,
                                 reinterpret_cast<void**>(source_.GetAddressOf())) != S_OK ||
            !source_) {
            source_.Reset();
            CountLeftOut(leftOut_);
            return;
        }
        pending_ = entry_.Begin(e.when);
    }
    void ReadMore() {
        char buffer[64 * 1024];
        ULONG got = 0;
        const HRESULT hr = source_->Read(buffer, sizeof buffer, &got);
        if (got)
            entry_.Feed(std::string_view(buffer, got), &pending_);
        if (hr == S_OK && got)
            return;
        if (FAILED(hr))
            CountLeftOut(leftOut_);
        entry_.End(&pending_);
        source_.Reset();
    }

    ComPtr<IStoreFolder> folder_;
    std::shared_ptr<LeftOut> leftOut_;
    std::vector<Entry> messages_;
    size_t next_ = 0;
    ComPtr<IStream> source_;
    mailstore::MboxEntry entry_;
    std::string pending_;
    size_t taken_ = 0;
    uint64_t position_ = 0;
};

HGLOBAL CopyGlobal(HGLOBAL from) {
    const SIZE_T size = GlobalSize(from);
    HGLOBAL to = GlobalAlloc(GMEM_MOVEABLE, size);
    void* src = GlobalLock(from);
    void* dst = to ? GlobalLock(to) : nullptr;
    if (src && dst)
        std::memcpy(dst, src, size);
    if (dst)
        GlobalUnlock(to);
    if (src)
        GlobalUnlock(from);
    if (to && !(src && dst)) {
        GlobalFree(to);
        to = nullptr;
    }
    return to;
}

class VirtualFiles final : public ComObject<IDataObject> {
  public:
    VirtualFiles(FileSource source, std::shared_ptr<LeftOut> leftOut)
        : source_(std::move(source)), leftOut_(std::move(leftOut)) {}
    ~VirtualFiles() override {
        for (auto& kept : kept_)
            GlobalFree(kept.second);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        return Query(riid, out, IID_IDataObject);
    }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium)
            return E_INVALIDARG;
        *medium = STGMEDIUM{};
        try {
            if (format->cfFormat == Descriptor() && (format->tymed & TYMED_HGLOBAL))
                return Global(medium, DescriptorBlock());
            if (format->cfFormat == Contents() && (format->tymed & (TYMED_ISTREAM | TYMED_HGLOBAL)))
                return OpenContents(format->lindex, format->tymed, medium);
            auto kept = kept_.find(format->cfFormat);
            if (kept != kept_.end() && (format->tymed & TYMED_HGLOBAL))
                return Global(medium, CopyGlobal(kept->second));
            if (format->cfFormat == PreferredEffect() && (format->tymed & TYMED_HGLOBAL)) {
                const DWORD copy = DROPEFFECT_COPY;
                return Global(medium, Block(&copy, sizeof copy));
            }
            return DV_E_FORMATETC;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        if (!format)
            return E_INVALIDARG;
        const CLIPFORMAT cf = format->cfFormat;
        if ((cf == Descriptor() || cf == PreferredEffect() || kept_.count(cf)) &&
            (format->tymed & TYMED_HGLOBAL))
            return S_OK;
        if (cf == Contents() && (format->tymed & (TYMED_ISTREAM | TYMED_HGLOBAL)))
            return S_OK;
        return DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out)
            out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    // What targets leave here for the source (the effect they performed, a
    // drag image), kept as given and handed back to whoever asks.
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override {
        if (!format || !medium || medium->tymed != TYMED_HGLOBAL || !medium->hGlobal)
            return E_NOTIMPL;
        HGLOBAL copy = release ? medium->hGlobal : CopyGlobal(medium->hGlobal);
        if (!copy)
            return E_OUTOFMEMORY;
        try {
            HGLOBAL& slot = kept_[format->cfFormat];
            if (slot)
                GlobalFree(slot);
            slot = copy;
        } catch (...) {
            if (!release)
                GlobalFree(copy);
            return E_OUTOFMEMORY;
        }
        if (release)
            ReleaseStgMedium(medium);
        return S_OK;
    }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (direction != DATADIR_GET)
            return E_NOTIMPL;
        FORMATETC formats[] = {
            {Descriptor(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
            {Contents(), nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM | TYMED_HGLOBAL},
            {PreferredEffect(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
        };
        return SHCreateStdEnumFmtEtc(ARRAYSIZE(formats), formats, out);
    }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

  private:
    static CLIPFORMAT Format(const wchar_t* name) {
        return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name));
    }
    static CLIPFORMAT Descriptor() { return Format(CFSTR_FILEDESCRIPTORW); }
    static CLIPFORMAT Contents() { return Format(CFSTR_FILECONTENTS); }
    static CLIPFORMAT PreferredEffect() { return Format(CFSTR_PREFERREDDROPEFFECT); }

    static HGLOBAL Block(const void* bytes, size_t size) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size ? size : 1);
        void* at = block ? GlobalLock(block) : nullptr;
        if (at) {
            std::memcpy(at, bytes, size);
            GlobalUnlock(block);
        }
        return block;
    }
    static HRESULT Global(STGMEDIUM* medium, HGLOBAL block) {
        if (!block)
            return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        return S_OK;
    }

    const std::vector<VirtualFile>& Files() {
        if (!listed_) {
            files_ = source_.list();
            listed_ = true;
        }
        return files_;
    }

    HGLOBAL DescriptorBlock() {
        const std::vector<VirtualFile>& files = Files();
        const size_t size = offsetof(FILEGROUPDESCRIPTORW, fgd) +
                            sizeof(FILEDESCRIPTORW) * (files.empty() ? 1 : files.size());
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        auto* group = block ? static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(block)) : nullptr;
        if (!group) {
            if (block)
                GlobalFree(block);
            return nullptr;
        }
        group->cItems = static_cast<UINT>(files.size());
        for (size_t i = 0; i < files.size(); ++i) {
            FILEDESCRIPTORW& d = group->fgd[i];
            d.dwFlags = FD_PROGRESSUI;
            if (files[i].sized) {
                d.dwFlags |= FD_FILESIZE;
                d.nFileSizeLow = static_cast<DWORD>(files[i].size);
                d.nFileSizeHigh = static_cast<DWORD>(files[i].size >> 32);
            }
            wcsncpy(d.cFileName, files[i].name.c_str(), MAX_PATH - 1);
        }
        GlobalUnlock(block);
        return block;
    }

    // A stream, or the whole file in memory for a small file when the target
    // takes that: handed to another process in one call, where each read of a
    // stream is a call of its own.
    HRESULT OpenContents(LONG index, DWORD tymed, STGMEDIUM* medium) {
        const std::vector<VirtualFile>& files = Files();
        if (index < 0 || static_cast<size_t>(index) >= files.size())
            return DV_E_LINDEX;
        const VirtualFile& file = files[static_cast<size_t>(index)];
        ComPtr<IStream> stream;
        const HRESULT hr = source_.open(file, stream.GetAddressOf());
        if (FAILED(hr) || !stream)
            return FAILED(hr) ? hr : E_FAIL;
        constexpr uint64_t kInMemory = 1 << 20;
        const bool small = file.sized && file.size <= kInMemory;
        if (!(tymed & TYMED_HGLOBAL) || ((tymed & TYMED_ISTREAM) && !small)) {
            medium->tymed = TYMED_ISTREAM;
            medium->pstm = stream.Detach();
            return S_OK;
        }
        std::string bytes;
        char buffer[64 * 1024];
        ULONG got = 0;
        HRESULT read = S_OK;
        while (SUCCEEDED(read = stream->Read(buffer, sizeof buffer, &got)) && got)
            bytes.append(buffer, got);
        if (FAILED(read)) {
            CountLeftOut(leftOut_);
            return read;
        }
        return Global(medium, Block(bytes.data(), bytes.size()));
    }

    FileSource source_;
    std::shared_ptr<LeftOut> leftOut_;
    bool listed_ = false;
    std::vector<VirtualFile> files_;
    std::map<CLIPFORMAT, HGLOBAL> kept_;
};

ComPtr<IDataObject> Wrap(FileSource source, std::shared_ptr<LeftOut> leftOut) {
    // Attach takes a reference with some compilers' ComPtr; this never does.
    ComPtr<IDataObject> data(new VirtualFiles(std::move(source), std::move(leftOut)));
    data->Release();
    return data;
}

} // namespace

ComPtr<IDataObject> MessageFiles(ComPtr<IStoreFolder> folder, std::vector<MESSAGEID> ids,
                                 std::shared_ptr<LeftOut> leftOut) {
    FileSource source;
    source.list = [folder, ids = std::move(ids), leftOut] {
        std::vector<VirtualFile> files;
        mailstore::NameClaims names;
        for (MESSAGEID id : ids) {
            store_enum::StoreRecord record(folder.Get());
            if (folder->GetMessageProps(id, 0, record.Get()) != S_OK) {
                CountLeftOut(leftOut);
                continue;
            }
            record.MarkFilled();
            const MESSAGEPROPS& p = record.Props();
            const std::string subject =
                ui::ToUtf8(ui::FromAnsi(p.pszSubject ? std::string_view(p.pszSubject) : ""));
            files.push_back({ui::FromUtf8(names.Claim(
                                 mailstore::EmlBase(Ticks(p.ftReceived), subject), ".eml")),
                             id, true, p.cbMessage});
        }
        return files;
    };
    source.open = [folder, leftOut](const VirtualFile& file, IStream** out) {
        ComPtr<IStream> stream;
        if (folder->OpenMessage(file.id, IID_IStream,
                                reinterpret_cast<void**>(stream.GetAddressOf())) != S_OK ||
            !stream) {
            CountLeftOut(leftOut);
            return E_FAIL;
        }
        const LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        *out = stream.Detach();
        return S_OK;
    };
    return Wrap(std::move(source), leftOut);
}

ComPtr<IDataObject> FolderMbox(ComPtr<IStoreNamespace> store, STOREFOLDERID folder,
                               const std::wstring& name, std::shared_ptr<LeftOut> leftOut) {
    FileSource source;
    const std::wstring file =
        ui::FromUtf8(mailstore::SafeName(ui::ToUtf8(name), 100, "folder") + ".mbox");
    source.list = [file] { return std::vector<VirtualFile>{{file, 0, false, 0}}; };
    source.open = [store, folder, leftOut](const VirtualFile&, IStream** out) {
        ComPtr<IStoreFolder> opened;
        if (store->OpenFolder(folder, 0, &opened) != S_OK || !opened)
            return E_FAIL;
        *out = new MboxStream(std::move(opened), leftOut);
        return S_OK;
    };
    return Wrap(std::move(source), leftOut);
}

} // namespace export_data
