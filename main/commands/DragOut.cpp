#include "main/commands/DragOut.h"

#include <ole2.h>

namespace drag_out {

namespace {

class DropSource final : public IDropSource {
  public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDropSource)
            return E_NOINTERFACE;
        *out = static_cast<IDropSource*>(this);
        AddRef();
        return S_OK;
    }
    // Lives on Run's stack, for the one loop.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD keys) override {
        // Also asked of the system: over another program's window the key may
        // go to that program's queue, never this thread's.
        if (escape || (GetAsyncKeyState(VK_ESCAPE) & 0x8001) || (keys & MK_RBUTTON))
            return DRAGDROP_S_CANCEL;
        return (keys & MK_LBUTTON) ? S_OK : DRAGDROP_S_DROP;
    }
    STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }
};

} // namespace

bool Run(IDataObject* data) {
    if (!data)
        return false;
    DropSource source;
    GetAsyncKeyState(VK_ESCAPE); // forgets a press from before this drag
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT hr = DoDragDrop(data, &source, DROPEFFECT_COPY, &effect);
    return hr == DRAGDROP_S_DROP && effect != DROPEFFECT_NONE;
}

bool ToClipboard(IDataObject* data) {
    return data && OleSetClipboard(data) == S_OK;
}

void TakeBack(IDataObject* data) {
    if (data && OleIsCurrentClipboard(data) == S_OK)
        OleSetClipboard(nullptr);
}

} // namespace drag_out
