// A drop target of the tests' own, as a file manager would be: a window
// registered for OLE drops that writes every virtual file it receives.
//
//   droptarget window DIR X Y W H   a window at X,Y of W x H; each drop goes
//                                  into DIR/dropN/, then a line in DIR/drops.log
//   droptarget paste DIR            the clipboard's files into DIR/paste/
//
// drops.log: "<files> <unreadable> <ms to the first file> <ms to the last>",
// timed from the drop.
#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring g_dir;
int g_drops = 0;

CLIPFORMAT Format(const wchar_t* name) {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(name));
}

bool WriteStream(IStream* stream, const std::wstring& path) {
    const std::wstring part = path + L".part";
    HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    static char buffer[256 * 1024];
    bool ok = true;
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
        if (FAILED(hr)) {
            ok = false;
            break;
        }
        DWORD put = 0;
        if (got && (!WriteFile(file, buffer, got, &put, nullptr) || put != got)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
    }
    CloseHandle(file);
    return ok && MoveFileW(part.c_str(), path.c_str());
}

// The block's bytes, as many as the descriptor gave (a block may be larger).
bool WriteGlobal(HGLOBAL block, long long size, const std::wstring& path) {
    const SIZE_T have = GlobalSize(block);
    const SIZE_T bytes =
        size >= 0 && static_cast<SIZE_T>(size) < have ? static_cast<SIZE_T>(size) : have;
    const void* at = GlobalLock(block);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    const bool ok = at && file != INVALID_HANDLE_VALUE &&
                    WriteFile(file, at, static_cast<DWORD>(bytes), &put, nullptr) && put == bytes;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (at)
        GlobalUnlock(block);
    return ok;
}

// Writes every file `data` offers into `into`; the line for drops.log.
std::string Receive(IDataObject* data, const std::wstring& into) {
    const ULONGLONG start = GetTickCount64();
    CreateDirectoryW(into.c_str(), nullptr);
    FORMATETC want{Format(CFSTR_FILEDESCRIPTORW), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (data->GetData(&want, &medium) != S_OK)
        return "0 0 -1 -1 no-descriptor";
    std::vector<std::wstring> names;
    std::vector<long long> sizes; // -1: not given
    if (auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(medium.hGlobal))) {
        for (UINT i = 0; i < group->cItems; ++i) {
            const FILEDESCRIPTORW& d = group->fgd[i];
            names.push_back(d.cFileName);
            sizes.push_back((d.dwFlags & FD_FILESIZE)
                                ? static_cast<long long>(d.nFileSizeHigh) << 32 | d.nFileSizeLow
                                : -1);
        }
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    size_t written = 0, failed = 0;
    long long first = -1, last = -1;
    for (size_t i = 0; i < names.size(); ++i) {
        // As a file manager asks: a stream or, for a small file, memory.
        FORMATETC contents{Format(CFSTR_FILECONTENTS), nullptr, DVASPECT_CONTENT,
                           static_cast<LONG>(i), TYMED_ISTREAM | TYMED_HGLOBAL};
        STGMEDIUM got{};
        bool ok = data->GetData(&contents, &got) == S_OK;
        if (ok && got.tymed == TYMED_ISTREAM)
            ok = WriteStream(got.pstm, into + L"\\" + names[i]);
        else if (ok && got.tymed == TYMED_HGLOBAL)
            ok = WriteGlobal(got.hGlobal, sizes[i], into + L"\\" + names[i]);
        else
            ok = false;
        if (got.tymed)
            ReleaseStgMedium(&got);
        if (!ok) {
            ++failed;
            continue;
        }
        ++written;
        last = static_cast<long long>(GetTickCount64() - start);
        if (first < 0)
            first = last;
    }
    char line[128];
    std::snprintf(line, sizeof line, "%zu %zu %lld %lld", written, failed, first, last);
    return line;
}

void Log(const std::string& line) {
    FILE* f = _wfopen((g_dir + L"\\drops.log").c_str(), L"ab");
    if (f) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

class Target final : public IDropTarget {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDropTarget)
            return E_NOINTERFACE;
        *out = static_cast<IDropTarget*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        FORMATETC want{Format(CFSTR_FILEDESCRIPTORW), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        accept_ = data && data->QueryGetData(&want) == S_OK;
        *effect = accept_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }
    STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override {
        *effect = accept_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        return S_OK;
    }
    STDMETHODIMP DragLeave() override { return S_OK; }
    STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        *effect = accept_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
        if (accept_)
            Log(Receive(data, g_dir + L"\\drop" + std::to_wstring(++g_drops)));
        return S_OK;
    }

  private:
    bool accept_ = false;
};

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || OleInitialize(nullptr) != S_OK)
        return 2;
    g_dir = argv[2];
    CreateDirectoryW(g_dir.c_str(), nullptr);
    if (std::wstring(argv[1]) == L"paste") {
        IDataObject* data = nullptr;
        if (OleGetClipboard(&data) != S_OK || !data)
            return 1;
        Log("paste " + Receive(data, g_dir + L"\\paste"));
        data->Release();
        OleUninitialize();
        return 0;
    }
    if (argc < 7)
        return 2;
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"BrisDropTarget";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"Drop here", WS_POPUP | WS_BORDER,
                                _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]),
                                nullptr, nullptr, wc.hInstance, nullptr);
    Target target;
    if (!hwnd || RegisterDragDrop(hwnd, &target) != S_OK)
        return 1;
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    Log("ready");
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    RevokeDragDrop(hwnd);
    OleUninitialize();
    return 0;
}
